#pragma once

#include "scan/oauth/oauthprovider.h"
#include "scan/oauth/refreshtokenstore.h"
#include "scan/pop3/pop3tokensource.h"

#include <QHash>
#include <QString>

#include <memory>

class QNetworkAccessManager;

// The program's OAuth 2.0 tokens: the refresh tokens in their file (see RefreshTokenStore) and
// the access tokens in memory only, for as long as the program runs. The POP3 client asks it for
// an access token at every log-in; one that is about to expire, or that the server refused, is
// replaced by a new one from the provider's token endpoint with the refresh token. No browser is
// ever opened here: an account without a refresh token, or whose refresh token the provider no
// longer takes, fails its log-in like a wrong password, with the advice to sign in again.
class OAuthTokens : public Pop3TokenSource {
public:
    // settingsPath: the provider settings file (see OAuthProviders); tokensPath: the refresh
    // token file. Both are read again whenever they are needed, so a client id filled in while the
    // program runs counts at once.
    OAuthTokens(QString settingsPath, QString tokensPath);
    ~OAuthTokens() override;

    OAuthProviders providers() const;
    RefreshTokenStore& store() { return m_store; }

    // After a sign-in: keeps the refresh token in the file and the access token in memory. False
    // when the refresh token could not be stored (the access token is kept all the same).
    bool signedIn(const QString& host, const QString& login, const QString& providerId,
                  const QString& accessToken, qint64 expiresIn, const QString& refreshToken);
    // Forgets the account's tokens, in memory and in the file.
    bool forget(const QString& host, const QString& login);

    Pop3Token accessToken(const QString& host, const QString& login, bool renew,
                          EventLoopWait& waiter, const Pop3Deadline& deadline) override;
    QStringList secrets() const override;

private:
    struct Held {
        QString accessToken;
        qint64 expiresAt = 0; // seconds since the epoch; 0 for not known
    };
    static QString key(const QString& host, const QString& login);
    void see(const QString& token);
    void remember(const QString& host, const QString& login, const QString& accessToken,
                  qint64 expiresIn);

    QString m_settingsPath;
    RefreshTokenStore m_store;
    QHash<QString, Held> m_held;
    QStringList m_seen; // refresh tokens read or written, access tokens let go, for secrets()
    std::unique_ptr<QNetworkAccessManager> m_network;
};

// The text of a log-in that needs a new sign-in; it always says "sign in again".
QString signInAgainText(const QString& host, const QString& login, const QString& why);
