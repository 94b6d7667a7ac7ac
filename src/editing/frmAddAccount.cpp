#include "editing/frmAddAccount.h"

#include "app/doevents.h"
#include "app/frmMain.h"
#include "app/module_griddisplay.h"
#include "app/msgbox.h"
#include "app/ubGrid.h"
#include "editing/signinstep.h"
#include "scan/pop3/serveraddress.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
// accounts.dat joins the three values with commas and reads a line back by splitting at the
// first two, so a comma can only survive in the password.
bool holdsComma(const QString& text) {
    return text.contains(QLatin1Char(','));
}
} // namespace

frmAddAccount::frmAddAccount(frmMain& form)
    : EditingDialog(form) {
    setObjectName(QStringLiteral("frmAddAccount"));
    setWindowTitle(QStringLiteral(" Add email account"));

    frameAccountDetails = new QGroupBox(QStringLiteral("Email account details"), this);
    auto* grid = new QGridLayout(frameAccountDetails);
    txtAddMailServer = textBox(frameAccountDetails, "txtAddMailServer");
    txtAddLoginName = textBox(frameAccountDetails, "txtAddLoginName");
    txtAddPassword = textBox(frameAccountDetails, "txtAddPassword");
    txtAddPassword->setEchoMode(QLineEdit::Password);
    // Every typed character shows as an asterisk, whatever the style's own mask character.
    txtAddPassword->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    const QList<std::pair<const char*, QLineEdit*>> rows = {
        {"POP3 Mail server", txtAddMailServer},
        {"Email login name", txtAddLoginName},
        {"Email password", txtAddPassword},
    };
    for (int row = 0; row < rows.size(); ++row) {
        auto* label = new QLabel(QLatin1String(rows[row].first), frameAccountDetails);
        label->setBuddy(rows[row].second);
        grid->addWidget(label, row, 0);
        grid->addWidget(rows[row].second, row, 1);
        lblAddPassword = label;
    }
    // The sign-in takes the password's place when the account signs in with OAuth 2.0.
    signIn = new SignInStep(form, this);
    grid->addWidget(signIn->cmdSignIn, 2, 1);
    connect(signIn->cmdSignIn, &QPushButton::clicked, this,
            [this] { signIn->signInOrCancel(txtAddMailServer->text(), txtAddLoginName->text()); });
    connect(signIn, &SignInStep::chosenChanged, this, [this](bool oauth) {
        lblAddPassword->setVisible(!oauth);
        txtAddPassword->setVisible(!oauth);
    });

    cmdAddAccountInfo =
        button(QStringLiteral("Add"), QStringLiteral(":/add.png"), "cmdAddAccountInfo");
    cmdCancelAccountInfo =
        button(QStringLiteral("Cancel"), QStringLiteral(":/cancel.png"), "cmdCancelAccountInfo");
    connect(cmdAddAccountInfo, &QPushButton::clicked, this,
            &frmAddAccount::cmdAddAccountInfo_Click);
    connect(cmdCancelAccountInfo, &QPushButton::clicked, this,
            &frmAddAccount::cmdCancelAccountInfo_Click);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(signIn->checkOAuth);
    buttons->addStretch();
    buttons->addWidget(cmdAddAccountInfo);
    buttons->addWidget(cmdCancelAccountInfo);
    auto* main = new QVBoxLayout(this);
    main->addWidget(frameAccountDetails);
    main->addWidget(signIn->lblSignIn);
    main->addLayout(buttons);

    setTabOrder(txtAddMailServer, txtAddLoginName);
    setTabOrder(txtAddLoginName, txtAddPassword);
    setTabOrder(txtAddPassword, cmdAddAccountInfo);
    setTabOrder(cmdAddAccountInfo, cmdCancelAccountInfo);
    // After the controls of a password account, which keep their order.
    setTabOrder(cmdCancelAccountInfo, signIn->checkOAuth);
    setTabOrder(signIn->checkOAuth, signIn->cmdSignIn);

    fixSizeAndCentre();
}

void frmAddAccount::cmdAddAccountInfo_Click() {
    const QString server = txtAddMailServer->text();
    const QString login = txtAddLoginName->text();
    const QString password = txtAddPassword->text();
    if (signIn->isChosen()) {
        addOAuthAccount(server, login);
        return;
    }

    // Only emptiness is checked (a value of spaces is a value), plus the commas that the account
    // file could not hold; every problem gets its own line in one box.
    QString problems;
    const auto report = [&problems](const QString& line) {
        problems += line + QLatin1String(kCrLf);
    };
    if (server.isEmpty())
        report(QStringLiteral("Please provide a mail server."));
    else if (holdsComma(server))
        report(QStringLiteral("The mail server cannot contain a comma."));
    if (login.isEmpty())
        report(QStringLiteral("Please provide a login name."));
    else if (holdsComma(login))
        report(QStringLiteral("The login name cannot contain a comma."));
    if (password.isEmpty())
        report(QStringLiteral("Please provide a password."));

    ubGrid* grid = form().gridAccounts;
    if (!problems.isEmpty()) {
        MsgBox(problems, MsgBoxButtons::Ok, QStringLiteral("Data input error."));
        grid->repaint();
        module_griddisplay(form());
        return;
    }

    appendAccount(server, login, password);
}

// The same checks as for a password account, with a sign-in in the password's place.
void frmAddAccount::addOAuthAccount(const QString& server, const QString& login) {
    QString problems;
    const auto report = [&problems](const QString& line) {
        problems += line + QLatin1String(kCrLf);
    };
    if (server.isEmpty())
        report(QStringLiteral("Please provide a mail server."));
    else if (holdsComma(server))
        report(QStringLiteral("The mail server cannot contain a comma."));
    else if (oauthHost(server).isEmpty())
        report(QStringLiteral("\"%1\" is not a valid mail server.").arg(server));
    if (login.isEmpty())
        report(QStringLiteral("Please provide a login name."));
    else if (holdsComma(login))
        report(QStringLiteral("The login name cannot contain a comma."));
    if (problems.isEmpty() && !signIn->hasSignIn(server, login))
        report(QStringLiteral("Please sign in first (\"Sign in...\")."));
    QString reason;
    if (problems.isEmpty() && !signIn->store(server, login, &reason))
        report(reason);
    if (!problems.isEmpty()) {
        MsgBox(problems, MsgBoxButtons::Ok, QStringLiteral("Data input error."));
        form().gridAccounts->repaint();
        module_griddisplay(form());
        return;
    }
    // The token lives in its own file; the password cell stays empty.
    appendAccount(oauthServerCell(server), login, QString());
}

void frmAddAccount::appendAccount(const QString& server, const QString& login,
                                  const QString& password) {
    ubGrid* grid = form().gridAccounts;
    const int row = grid->rows() + 1;
    grid->setRows(row);
    grid->setCelltext(row, 1, server);
    grid->setCelltext(row, 2, login);
    grid->setCelltext(row, 3, password);
    form().txtAccountsCount->setText(QString::number(grid->rows()));
    DoEvents();
    MsgBox(editConfirmation(QStringLiteral("The account has been added.")), MsgBoxButtons::Ok,
           QStringLiteral("Account added."));
    hide();
    if (grid->rows() > 0)
        grid->setRedraw(true);
    grid->repaint();
    module_griddisplay(form());
}

void frmAddAccount::cmdCancelAccountInfo_Click() {
    module_griddisplay(form());
    txtAddMailServer->clear();
    txtAddLoginName->clear();
    txtAddPassword->clear();
    resetSignIn();
    hide();
    module_griddisplay(form());
}

void frmAddAccount::resetSignIn() {
    signIn->reset();
}

void frmAddAccount::cancel() {
    cmdCancelAccountInfo_Click();
}

QWidget* frmAddAccount::firstField() const {
    return txtAddMailServer;
}
