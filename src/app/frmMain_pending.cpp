// Handlers whose modules are not built yet. Each moves to its module's own file when that
// module lands; this file then disappears.
#include "app/frmMain.h"

void frmMain::cmdscannow_Click() {}
void frmMain::checkautoscan_Click() {}
void frmMain::Timer1_Timer() {}
void frmMain::cmdAddAccount_Click() {}
void frmMain::cmdDeleteAccount_Click() {}
void frmMain::cmdAddWhitelist_Click() {}
void frmMain::cmdeletewhitelist_Click() {}
void frmMain::cmdAddBlacklist_Click() {}
void frmMain::cmddeleteblacklist_Click() {}
void frmMain::cmdAddkeywords_Click() {}
void frmMain::cmddeletekeyword_Click() {}
void frmMain::Image1_Click() {}
void frmMain::Label25_Click() {}
