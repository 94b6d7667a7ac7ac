#include "editing/signinstep.h"

#include "app/frmMain.h"
#include "app/msgbox.h"
#include "config/datafilenames.h"
#include "help/link.h"
#include "scan/oauth/oauthtokens.h"
#include "scan/pop3/serveraddress.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <utility>

namespace {

const QString kNotSetUp = QStringLiteral("Sign-in not set up.");

QString signInCaption() {
    return QStringLiteral("Sign in...");
}

// What a user or packager must do before a provider can be signed in with: the one box.
QString missingClientIdText(const OAuthProvider& provider, const QString& settingsPath) {
    QString text =
        QStringLiteral("To sign in with %1, Corvanta needs a client id that was registered with "
                       "%1 for it, and none is filled in.")
            .arg(provider.name) +
        QLatin1String(kCrLf) + QLatin1String(kCrLf) +
        QStringLiteral("Register an application for a desktop program (a public client whose "
                       "redirect address is http://127.0.0.1) at:") +
        QLatin1String(kCrLf) + provider.registrationUrl + QLatin1String(kCrLf) +
        QLatin1String(kCrLf) + QStringLiteral("Then write its client id into the file") +
        QLatin1String(kCrLf) + settingsPath + QLatin1String(kCrLf) +
        QStringLiteral("as the lines") + QLatin1String(kCrLf) + QLatin1Char('[') + provider.id +
        QLatin1String("]") + QLatin1String(kCrLf) + QLatin1String("client_id = ...");
    if (provider.id == QLatin1String("google"))
        text += QLatin1String(kCrLf) + QLatin1String("client_secret = ...");
    return text + QLatin1String(kCrLf) + QLatin1String(kCrLf) +
           QStringLiteral("The Help page explains each step.");
}

} // namespace

QString oauthHost(const QString& serverCell) {
    const std::optional<ServerAddress> address =
        parseServerAddress(oauthServerCell(serverCell), kPop3sPort);
    return address ? address->host.toLower() : QString();
}

SignInStep::SignInStep(frmMain& form, QWidget* parent)
    : QObject(parent)
    , m_form(form) {
    checkOAuth =
        new QCheckBox(QStringLiteral("Sign in with OAuth 2.0 instead of a password"), parent);
    checkOAuth->setObjectName(QStringLiteral("checkOAuth"));
    cmdSignIn = new QPushButton(signInCaption(), parent);
    cmdSignIn->setObjectName(QStringLiteral("cmdSignIn"));
    cmdSignIn->setAutoDefault(false);
    lblSignIn = new QLabel(parent);
    lblSignIn->setObjectName(QStringLiteral("lblSignIn"));
    lblSignIn->setWordWrap(true);
    connect(checkOAuth, &QCheckBox::toggled, this, [this](bool on) {
        showState();
        Q_EMIT chosenChanged(on);
    });
    showState();
}

SignInStep::~SignInStep() = default;

bool SignInStep::isChosen() const {
    return checkOAuth->isChecked();
}

void SignInStep::showState() {
    const bool chosen = isChosen();
    cmdSignIn->setVisible(chosen);
    lblSignIn->setVisible(chosen);
    const bool running = m_signIn && m_signIn->isRunning();
    cmdSignIn->setText(running ? QStringLiteral("Cancel sign-in") : signInCaption());
    if (running)
        return;
    lblSignIn->setText(m_held ? QStringLiteral("Signed in as %1.").arg(m_held->login)
                              : QStringLiteral("Not signed in yet."));
}

void SignInStep::signInOrCancel(const QString& serverCell, const QString& login) {
    if (m_signIn && m_signIn->isRunning()) {
        m_cancelling = true;
        m_signIn->cancel();
        return;
    }
    QString problems;
    if (serverCell.isEmpty())
        problems += QStringLiteral("Please provide a mail server.") + QLatin1String(kCrLf);
    if (login.isEmpty())
        problems += QStringLiteral("Please provide a login name.") + QLatin1String(kCrLf);
    if (!problems.isEmpty()) {
        MsgBox(problems, MsgBoxButtons::Ok, QStringLiteral("Data input error."));
        return;
    }
    const QString host = oauthHost(serverCell);
    const QString settingsPath = m_form.pathInFolder(datafile::oauthSettings());
    const std::optional<OAuthProvider> provider = m_form.oauthTokens().providers().forServer(host);
    if (!provider) {
        MsgBox(QStringLiteral("Corvanta knows no OAuth 2.0 sign-in for the mail server \"%1\". "
                              "Outlook.com and Microsoft 365 mailboxes use outlook.office365.com, "
                              "Gmail uses pop.gmail.com; another provider can be added in %2 "
                              "(see the Help page).")
                   .arg(host.isEmpty() ? serverCell : host, settingsPath),
               MsgBoxButtons::Ok, kNotSetUp);
        return;
    }
    if (!provider->hasClientId()) {
        MsgBox(missingClientIdText(*provider, settingsPath), MsgBoxButtons::Ok, kNotSetUp);
        return;
    }

    m_held.reset();
    m_signIn = std::make_unique<OAuthSignIn>(*provider, login, [](const QUrl& url) {
        return OpenLink(url.toString(QUrl::FullyEncoded), QString(), QString(), QString(),
                        kShowNormal);
    });
    connect(m_signIn.get(), &OAuthSignIn::finished, this,
            [this, host, login, id = provider->id](const SignInResult& result) {
                finished(host, login, id, result);
            });
    lblSignIn->setText(QStringLiteral("Sign in with %1 in your browser, then come back here.")
                           .arg(provider->name));
    m_signIn->start();
    showState();
}

void SignInStep::finished(const QString& host, const QString& login, const QString& provider,
                          const SignInResult& result) {
    if (result.ok)
        m_held = Held{host, login, provider, result};
    showState();
    // Cancelled by the user: nothing to tell.
    if (!result.ok && !std::exchange(m_cancelling, false))
        MsgBox(result.failure, MsgBoxButtons::Ok, QStringLiteral("Sign-in failed."));
}

bool SignInStep::hasSignIn(const QString& serverCell, const QString& login) const {
    return m_held && m_held->host == oauthHost(serverCell) && m_held->login == login;
}

bool SignInStep::store(const QString& serverCell, const QString& login, QString* reason) {
    if (!hasSignIn(serverCell, login))
        return false;
    const SignInResult& result = m_held->result;
    if (!m_form.oauthTokens().signedIn(m_held->host, login, m_held->provider, result.accessToken,
                                       result.expiresIn, result.refreshToken)) {
        *reason = QStringLiteral("The sign-in could not be stored in \"%1\".")
                      .arg(m_form.pathInFolder(datafile::oauthTokens()));
        return false;
    }
    m_held.reset();
    return true;
}

void SignInStep::reset() {
    if (m_signIn && m_signIn->isRunning()) {
        m_cancelling = true;
        m_signIn->cancel();
    }
    m_held.reset();
    checkOAuth->setChecked(false);
    showState();
}
