#pragma once

#include "scan/oauth/oauthsignin.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;
class QWidget;
class frmMain;

// The Add Account dialog's way to an account that signs in with OAuth 2.0 instead of a password:
// a check box that puts a "Sign in..." button in the password's place, the sign-in in the
// browser that button starts, and the sign-in it brought until the account is added.
class SignInStep : public QObject {
    Q_OBJECT
public:
    SignInStep(frmMain& form, QWidget* parent);
    ~SignInStep() override;

    QCheckBox* checkOAuth;  // "Sign in with OAuth 2.0 instead of a password"
    QPushButton* cmdSignIn; // "Sign in..."; "Cancel sign-in" while one runs
    QLabel* lblSignIn;      // what the sign-in is doing, or whom it signed in

    bool isChosen() const;
    // Starts a sign-in for the account of the server cell and login name as typed, or cancels
    // the one under way. Problems (no provider for the server, no client id) are told in one box.
    void signInOrCancel(const QString& serverCell, const QString& login);
    // Whether a sign-in that succeeded is held for this account.
    bool hasSignIn(const QString& serverCell, const QString& login) const;
    // Stores the sign-in held for the account: the refresh token in its file, the access token
    // in memory. False, with reason set, when the file could not be written.
    bool store(const QString& serverCell, const QString& login, QString* reason);
    // Back to a password account: unticked, nothing held, no sign-in under way.
    void reset();

Q_SIGNALS:
    // The check box was ticked or cleared.
    void chosenChanged(bool oauth);

private:
    struct Held {
        QString host;
        QString login;
        QString provider;
        SignInResult result;
    };
    void finished(const QString& host, const QString& login, const QString& provider,
                  const SignInResult& result);
    void showState();

    frmMain& m_form;
    std::unique_ptr<OAuthSignIn> m_signIn;
    std::optional<Held> m_held;
    bool m_cancelling = false;
};

// The host of the account's server cell as an OAuth 2.0 account stores it; empty when the cell
// names no usable server.
QString oauthHost(const QString& serverCell);
