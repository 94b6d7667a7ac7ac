#pragma once

#include "scan/oauth/oauthprovider.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;
class QOAuth2AuthorizationCodeFlow;
class QOAuthHttpServerReplyHandler;

// A PKCE pair (RFC 7636): the secret verifier kept by the program and the S256 challenge sent in
// the authorization request.
struct PkcePair {
    QByteArray verifier;  // 43 characters of the unreserved set
    QByteArray challenge; // base64url of its SHA-256, without padding
};
PkcePair makePkcePair();
// The S256 challenge of a verifier.
QByteArray pkceChallenge(const QByteArray& verifier);

// The outcome of a sign-in.
struct SignInResult {
    bool ok = false;
    QString accessToken;
    QString refreshToken;
    qint64 expiresIn = 0;
    QString failure; // why it failed, in words for the user (no token in them)
};

// One sign-in with a provider: the authorization code flow with PKCE and a redirect to a port on
// 127.0.0.1 that only this sign-in listens on (RFC 8252), through QtNetworkAuth. The provider's
// page is handed to openBrowser (the desktop's browser in the program); the provider sends the
// browser back to the loopback address with a code, which is exchanged for the tokens.
//
// Qt 6.4's QOAuth2AuthorizationCodeFlow does no PKCE (it came with 6.8): the challenge and the
// verifier are added to its requests through its modifyParametersFunction. It also reports no
// failed token request (that came with 6.6): the answer of the token endpoint is watched on the
// network manager, so a refused code ends the sign-in with its reason instead of leaving it
// waiting.
class OAuthSignIn : public QObject {
    Q_OBJECT
public:
    using BrowserOpener = std::function<bool(const QUrl& url)>;

    OAuthSignIn(OAuthProvider provider, QString loginHint, BrowserOpener openBrowser,
                QObject* parent = nullptr);
    ~OAuthSignIn() override;

    // Starts listening on the loopback address and opens the browser. finished() follows, once.
    void start();
    // Gives up the sign-in; finished() reports it as cancelled.
    void cancel();
    bool isRunning() const { return m_running; }
    // The seconds the user has to finish in the browser.
    void setTimeout(int seconds) { m_timeoutSeconds = seconds; }

Q_SIGNALS:
    void finished(const SignInResult& result);

private:
    void finish(SignInResult result);
    void onTokenReply(QNetworkReply* reply);

    OAuthProvider m_provider;
    QString m_loginHint;
    BrowserOpener m_openBrowser;
    PkcePair m_pkce;
    std::unique_ptr<QNetworkAccessManager> m_network;
    QPointer<QOAuth2AuthorizationCodeFlow> m_flow;
    QPointer<QOAuthHttpServerReplyHandler> m_handler;
    QTimer m_timeout;
    int m_timeoutSeconds = 600;
    bool m_running = false;
};
