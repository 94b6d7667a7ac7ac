#pragma once

class frmMain;

// Saves the configuration: stats.dat first (so the settings survive whatever follows), then
// the four lists, with progress in the splash window. A file that cannot be written keeps its
// old contents and the save goes on with the next; after the save one box names every file
// not saved and why. accounts.dat holds passwords and is kept readable by its owner only.
void module_update_config(frmMain& form);
