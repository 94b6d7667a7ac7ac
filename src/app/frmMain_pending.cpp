// Handlers whose modules are not built yet. Each moves to its module's own file when that
// module lands; this file then disappears.
#include "app/frmMain.h"

void frmMain::cmdscannow_Click() {}
void frmMain::checkautoscan_Click() {}
void frmMain::Timer1_Timer() {}
