#pragma once

class frmMain;

// Saves the configuration: stats.dat first (so the settings survive whatever follows), then
// the four lists, with progress in the splash window. A step that fails is skipped; nothing
// is reported. accounts.dat holds passwords and is kept readable by its owner only.
void module_update_config(frmMain& form);
