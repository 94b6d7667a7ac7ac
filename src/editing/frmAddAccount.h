#pragma once

#include "editing/editingdialog.h"

class QGroupBox;
class QLabel;
class SignInStep;
class QLineEdit;
class QPushButton;

// The Add Account dialog: mail server, login name and password of one POP3 account, appended
// to the account grid by "Add". Opening the dialog and cancelling it both empty the boxes; a
// rejected "Add" leaves them as typed.
//
// Ticking "Sign in with OAuth 2.0 instead of a password" (signIn) replaces the password with a
// "Sign in..." button: the account is added once the user has signed in in the browser, with a
// server cell that says so ("pop3s+oauth2://...", see oauthServerCell) and no password; the
// refresh token goes to its own file, never to the grid.
class frmAddAccount : public EditingDialog {
    Q_OBJECT
public:
    explicit frmAddAccount(frmMain& form);

    void cmdAddAccountInfo_Click();
    void cmdCancelAccountInfo_Click();

    QGroupBox* frameAccountDetails;
    QLineEdit* txtAddMailServer;
    QLineEdit* txtAddLoginName;
    QLineEdit* txtAddPassword;
    QPushButton* cmdAddAccountInfo;
    QPushButton* cmdCancelAccountInfo;
    QLabel* lblAddPassword;
    SignInStep* signIn;

    // Back to a password account, as when the dialog is opened.
    void resetSignIn();

private:
    void addOAuthAccount(const QString& server, const QString& login);
    void appendAccount(const QString& server, const QString& login, const QString& password);

protected:
    void cancel() override;
    QWidget* firstField() const override;
};
