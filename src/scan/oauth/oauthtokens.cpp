#include "scan/oauth/oauthtokens.h"

#include "config/datafilenames.h"
#include "scan/oauth/tokenendpoint.h"
#include "scan/pop3/pop3pipeline.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QNetworkAccessManager>

#include <utility>

namespace {

// An access token this close to its end is renewed before a log-in rather than sent.
constexpr qint64 kExpiryMarginSeconds = 120;

QString tr(const char* text) {
    return QCoreApplication::translate("OAuth", text);
}

qint64 nowSeconds() {
    return QDateTime::currentSecsSinceEpoch();
}

} // namespace

QString signInAgainText(const QString& host, const QString& login, const QString& why) {
    return QCoreApplication::translate("OAuth",
                                       "The OAuth 2.0 sign-in of %1 at %2 is not usable (%3): "
                                       "sign in again (add the account once more and choose "
                                       "\"Sign in...\").")
        .arg(login, host, why);
}

OAuthTokens::OAuthTokens(QString settingsPath, QString tokensPath)
    : m_settingsPath(std::move(settingsPath))
    , m_store(std::move(tokensPath)) {}

OAuthTokens::~OAuthTokens() = default;

OAuthProviders OAuthTokens::providers() const {
    return OAuthProviders::load(m_settingsPath);
}

QString OAuthTokens::key(const QString& host, const QString& login) {
    return host.trimmed().toLower() + QLatin1Char(',') + login;
}

void OAuthTokens::see(const QString& token) {
    if (!token.isEmpty() && !m_seen.contains(token))
        m_seen.append(token);
}

void OAuthTokens::remember(const QString& host, const QString& login, const QString& accessToken,
                           qint64 expiresIn) {
    m_held.insert(key(host, login),
                  Held{accessToken, expiresIn > 0 ? nowSeconds() + expiresIn : 0});
}

bool OAuthTokens::signedIn(const QString& host, const QString& login, const QString& providerId,
                           const QString& accessToken, qint64 expiresIn,
                           const QString& refreshToken) {
    remember(host, login, accessToken, expiresIn);
    see(refreshToken);
    return m_store.put({host, login, providerId, refreshToken});
}

bool OAuthTokens::forget(const QString& host, const QString& login) {
    if (const auto held = m_held.constFind(key(host, login)); held != m_held.cend())
        see(held->accessToken);
    m_held.remove(key(host, login));
    return m_store.remove(host, login);
}

Pop3Token OAuthTokens::accessToken(const QString& host, const QString& login, bool renew,
                                   EventLoopWait& waiter, const Pop3Deadline& deadline) {
    const auto held = m_held.constFind(key(host, login));
    if (!renew && held != m_held.cend() &&
        (held->expiresAt == 0 || held->expiresAt - kExpiryMarginSeconds > nowSeconds()))
        return {held->accessToken, {}};
    if (held != m_held.cend()) {
        see(held->accessToken);
        m_held.remove(key(host, login));
    }

    const std::optional<RefreshTokenStore::Entry> entry = m_store.find(host, login);
    if (!entry)
        return {{}, {SignInNeeded, signInAgainText(host, login, tr("no sign-in is stored"))}};
    see(entry->refreshToken);
    const std::optional<OAuthProvider> provider = providers().byId(entry->provider);
    if (!provider || !provider->hasClientId())
        return {
            {},
            {SignInNeeded, signInAgainText(host, login,
                                           tr("the provider \"%1\" has no client id in %2")
                                               .arg(entry->provider, datafile::oauthSettings()))}};

    if (!m_network)
        m_network = std::make_unique<QNetworkAccessManager>();
    const TokenResponse response =
        refreshAccessToken(*m_network, provider->tokenUrl, provider->clientId,
                           provider->clientSecret, entry->refreshToken, waiter, deadline.at);
    switch (response.status) {
    case TokenResponse::Status::Refused:
        return {
            {},
            {SignInNeeded, signInAgainText(host, login,
                                           tr("%1 no longer accepts it: %2")
                                               .arg(provider->tokenUrl.host(), response.reason))}};
    case TokenResponse::Status::Failed:
        return {{},
                {ConnectionFailed, tr("Could not renew the OAuth 2.0 sign-in of %1 at %2 (%3).")
                                       .arg(login, provider->tokenUrl.host(), response.reason)}};
    case TokenResponse::Status::Granted:
        break;
    }
    remember(host, login, response.accessToken, response.expiresIn);
    // Some providers hand out a new refresh token with every use and retire the old one.
    if (!response.refreshToken.isEmpty() && response.refreshToken != entry->refreshToken) {
        see(response.refreshToken);
        m_store.put({host, login, entry->provider, response.refreshToken});
    }
    return {response.accessToken, {}};
}

QStringList OAuthTokens::secrets() const {
    QStringList all = m_seen;
    for (const Held& held : m_held)
        all.append(held.accessToken);
    return all;
}
