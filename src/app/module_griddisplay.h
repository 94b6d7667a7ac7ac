#pragma once

class frmMain;

// Switches painting back on for all four grids. The list loaders, the configuration save, Reload
// and most list edits run it when done.
void module_griddisplay(frmMain& form);
