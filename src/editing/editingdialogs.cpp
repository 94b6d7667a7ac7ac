#include "editing/editingdialogs.h"

#include "app/frmMain.h"
#include "editing/frmAddAccount.h"
#include "editing/rulelistdialog.h"

namespace {
template <typename Dialog>
Dialog& createOnFirstUse(Dialog*& slot, frmMain& form) {
    if (!slot)
        slot = new Dialog(form);
    return *slot;
}
} // namespace

EditingDialogs::EditingDialogs(frmMain& form)
    : QObject(&form)
    , m_form(form) {}

frmAddAccount& EditingDialogs::addAccount() {
    return createOnFirstUse(m_addAccount, m_form);
}

frmAddWhitelist& EditingDialogs::addWhitelist() {
    return createOnFirstUse(m_addWhitelist, m_form);
}

frmAddblacklist& EditingDialogs::addBlacklist() {
    return createOnFirstUse(m_addBlacklist, m_form);
}

frmAddkeywords& EditingDialogs::addKeywords() {
    return createOnFirstUse(m_addKeywords, m_form);
}
