#pragma once

class frmMain;

// Fills the interval list: "1" is there from the start, then 5 to 55 in steps of 5. Running it
// again (on Reload) leaves the same twelve items.
void modules_settings(frmMain& form);
