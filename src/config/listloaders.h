#pragma once

class frmMain;

// The list loaders: each sets up its grid (heading, columns, widths) and fills it from its data
// file, keeping the list's count box up to date. A missing file gives an empty grid and leaves
// the count box as it was. Painting stays off while a grid fills.
void module_accountsgrid(frmMain& form);
void module_whitelist(frmMain& form);
void module_blacklist(frmMain& form);
void module_keywords(frmMain& form);
