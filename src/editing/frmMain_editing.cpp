// The main window's Add and Delete buttons under the four list grids, and the editing dialogs
// they open.
#include "app/doevents.h"
#include "app/frmMain.h"
#include "app/modal.h"
#include "app/module_griddisplay.h"
#include "app/msgbox.h"
#include "app/ubGrid.h"
#include "config/datafilenames.h"
#include "editing/editingdialog.h"
#include "editing/editingdialogs.h"
#include "editing/frmAddAccount.h"
#include "editing/rulelistdialog.h"
#include "scan/pop3/serveraddress.h"
#include "scan/pop3/tlsmemory.h"

#include <QLineEdit>

#include <optional>

EditingDialogs& frmMain::editingDialogs() {
    if (!m_editingDialogs)
        m_editingDialogs = new EditingDialogs(*this);
    return *m_editingDialogs;
}

void frmMain::cmdAddAccount_Click() {
    frmAddAccount& dialog = editingDialogs().addAccount();
    dialog.txtAddLoginName->clear();
    dialog.txtAddMailServer->clear();
    dialog.txtAddPassword->clear();
    ShowModal(&dialog);
    module_griddisplay(*this);
}

namespace {
// Deleting an account is how the user tells the program that its server may really have stopped
// offering encryption: the account added again starts afresh, with whatever the server offers.
void forgetEncryption(const frmMain& form, const QString& serverCell) {
    const std::optional<ServerAddress> address = parseServerAddress(serverCell, kPop3Port);
    if (address)
        TlsMemory(form.pathInFolder(datafile::tlsServers())).forget(address->host);
}
} // namespace

void frmMain::cmdDeleteAccount_Click() {
    const MsgBoxAnswer answer =
        MsgBox(QStringLiteral("Are you sure you want to delete the selected account?"),
               MsgBoxButtons::YesNo, QStringLiteral("Delete account."));
    if (answer == MsgBoxAnswer::Yes) {
        DoEvents();
        const int row = gridAccounts->currentrow();
        if (row >= 1 && row <= gridAccounts->rows())
            forgetEncryption(*this, gridAccounts->celltext(row, 1));
        gridAccounts->removerow(row);
        txtAccountsCount->setText(QString::number(gridAccounts->rows()));
        DoEvents();
        MsgBox(editConfirmation(QStringLiteral("The selected account has been deleted.")),
               MsgBoxButtons::Ok, QStringLiteral("Account deleted."));
        module_griddisplay(*this);
    }
    gridAccounts->repaint();
    module_griddisplay(*this);
}

void frmMain::cmdAddWhitelist_Click() {
    ShowModal(&editingDialogs().addWhitelist());
}

void frmMain::cmdeletewhitelist_Click() {
    deleteRuleListEntry(*this, kWhitelist);
}

void frmMain::cmdAddBlacklist_Click() {
    ShowModal(&editingDialogs().addBlacklist());
}

void frmMain::cmddeleteblacklist_Click() {
    deleteRuleListEntry(*this, kBlacklist);
}

void frmMain::cmdAddkeywords_Click() {
    ShowModal(&editingDialogs().addKeywords());
}

void frmMain::cmddeletekeyword_Click() {
    deleteRuleListEntry(*this, kKeywords);
}
