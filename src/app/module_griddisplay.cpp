#include "app/module_griddisplay.h"

#include "app/frmMain.h"
#include "app/ubGrid.h"

void module_griddisplay(frmMain& form) {
    form.gridAccounts->setRedraw(true);
    form.gridblacklist->setRedraw(true);
    form.gridkeywords->setRedraw(true);
    form.gridwhitelist->setRedraw(true);
}
