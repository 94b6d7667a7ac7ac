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
#include "scan/oauth/oauthtokens.h"
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
    dialog.resetSignIn();
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

// A deleted account that signed in with OAuth 2.0 leaves no token behind, unless another row
// is the same account.
void forgetSignIn(frmMain& form, int deletedRow) {
    const ubGrid& grid = *form.gridAccounts;
    const auto oauthHost = [&grid](int row) {
        const std::optional<ServerAddress> address =
            parseServerAddress(grid.celltext(row, 1), kPop3Port);
        return address && address->oauth ? address->host.toLower() : QString();
    };
    const QString host = oauthHost(deletedRow);
    const QString login = grid.celltext(deletedRow, 2);
    if (host.isEmpty())
        return;
    for (int row = 1; row <= grid.rows(); ++row) {
        if (row != deletedRow && oauthHost(row) == host && grid.celltext(row, 2) == login)
            return;
    }
    form.oauthTokens().forget(host, login);
}
} // namespace

void frmMain::cmdDeleteAccount_Click() {
    const MsgBoxAnswer answer =
        MsgBox(QStringLiteral("Are you sure you want to delete the selected account?"),
               MsgBoxButtons::YesNo, QStringLiteral("Delete account."));
    if (answer == MsgBoxAnswer::Yes) {
        DoEvents();
        const int row = gridAccounts->currentrow();
        if (row >= 1 && row <= gridAccounts->rows()) {
            forgetEncryption(*this, gridAccounts->celltext(row, 1));
            forgetSignIn(*this, row);
        }
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
