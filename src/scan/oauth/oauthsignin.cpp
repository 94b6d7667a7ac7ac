#include "scan/oauth/oauthsignin.h"

#include "scan/oauth/tokenendpoint.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QOAuth2AuthorizationCodeFlow>
#include <QOAuthHttpServerReplyHandler>
#include <QRandomGenerator>

namespace {

QString percentEncoded(const QString& value) {
    return QString::fromLatin1(QUrl::toPercentEncoding(value));
}

// The same endpoint, whatever the query.
bool sameEndpoint(const QUrl& a, const QUrl& b) {
    return a.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment) ==
           b.adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment);
}

} // namespace

QByteArray pkceChallenge(const QByteArray& verifier) {
    return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
        .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

PkcePair makePkcePair() {
    // 32 random bytes in base64url: 43 characters, all of the unreserved set RFC 7636 allows.
    QByteArray random(32, Qt::Uninitialized);
    QRandomGenerator::system()->generate(random.begin(), random.end());
    PkcePair pair;
    pair.verifier = random.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
    pair.challenge = pkceChallenge(pair.verifier);
    return pair;
}

OAuthSignIn::OAuthSignIn(OAuthProvider provider, QString loginHint, BrowserOpener openBrowser,
                         QObject* parent)
    : QObject(parent)
    , m_provider(std::move(provider))
    , m_loginHint(std::move(loginHint))
    , m_openBrowser(std::move(openBrowser)) {
    m_timeout.setSingleShot(true);
    connect(&m_timeout, &QTimer::timeout, this, [this] {
        finish({false,
                {},
                {},
                0,
                tr("The sign-in was not finished within %1 minutes.")
                    .arg(qMax(1, m_timeoutSeconds / 60))});
    });
}

OAuthSignIn::~OAuthSignIn() {
    // The flow and the handler are children; the network manager they use goes after them.
    delete m_flow;
    delete m_handler;
}

void OAuthSignIn::start() {
    if (m_running || m_flow)
        return;
    m_running = true;
    m_pkce = makePkcePair();
    m_network = std::make_unique<QNetworkAccessManager>();
    // Only this program can reach the redirect: the port is on the loopback address, never on
    // the machine's other addresses.
    m_handler = new QOAuthHttpServerReplyHandler(QHostAddress(QHostAddress::LocalHost), 0, this);
    if (!m_handler->isListening()) {
        finish({false, {}, {}, 0, tr("Could not listen on 127.0.0.1 for the browser's return.")});
        return;
    }
    m_handler->setCallbackText(
        tr("Corvanta has received your sign-in. You can close this page and go back to Corvanta."));

    m_flow = new QOAuth2AuthorizationCodeFlow(m_network.get(), this);
    m_flow->setReplyHandler(m_handler);
    m_flow->setAuthorizationUrl(m_provider.authorizationUrl);
    m_flow->setAccessTokenUrl(m_provider.tokenUrl);
    m_flow->setClientIdentifier(m_provider.clientId);
    if (!m_provider.clientSecret.isEmpty())
        m_flow->setClientIdentifierSharedKey(m_provider.clientSecret);
    m_flow->setScope(m_provider.scope);
    m_flow->setModifyParametersFunction(
        [this](QAbstractOAuth::Stage stage, QMultiMap<QString, QVariant>* parameters) {
            switch (stage) {
            case QAbstractOAuth::Stage::RequestingAuthorization:
                parameters->insert(QStringLiteral("code_challenge"),
                                   QString::fromLatin1(m_pkce.challenge));
                parameters->insert(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
                if (!m_loginHint.isEmpty())
                    parameters->insert(QStringLiteral("login_hint"), m_loginHint);
                for (const auto& [name, value] : m_provider.authorizationParameters)
                    parameters->replace(name, value);
                break;
            case QAbstractOAuth::Stage::RequestingAccessToken:
                // The flow percent-encodes its own values here before it builds the form.
                parameters->insert(QStringLiteral("code_verifier"),
                                   percentEncoded(QString::fromLatin1(m_pkce.verifier)));
                break;
            default:
                break;
            }
        });

    connect(m_flow, &QAbstractOAuth::authorizeWithBrowser, this, [this](const QUrl& url) {
        if (!m_openBrowser || !m_openBrowser(url))
            finish({false, {}, {}, 0, tr("The browser could not be opened for the sign-in.")});
    });
    connect(m_flow, &QAbstractOAuth::granted, this, [this] {
        SignInResult result;
        result.accessToken = m_flow->token();
        result.refreshToken = m_flow->refreshToken();
        const QDateTime expires = m_flow->expirationAt();
        result.expiresIn = expires.isValid() ? QDateTime::currentDateTimeUtc().secsTo(expires) : 0;
        result.ok = !result.accessToken.isEmpty() && !result.refreshToken.isEmpty();
        if (!result.ok)
            result.failure = tr("%1 gave no refresh token, so later scans could not sign in by "
                                "themselves.")
                                 .arg(m_provider.name);
        finish(result);
    });
    // Refused in the browser (the user said no, or the provider turned the request down).
    connect(m_flow, &QAbstractOAuth2::error, this,
            [this](const QString& error, const QString& description, const QUrl&) {
                const QString why =
                    description.isEmpty() ? error : error + QLatin1String(": ") + description;
                finish({false,
                        {},
                        {},
                        0,
                        tr("%1 refused the sign-in (%2).").arg(m_provider.name, why.left(200))});
            });
    connect(m_network.get(), &QNetworkAccessManager::finished, this,
            [this](QNetworkReply* reply) { onTokenReply(reply); });

    m_timeout.start(m_timeoutSeconds * 1000);
    m_flow->grant();
}

// A token request the flow does not report when it fails.
void OAuthSignIn::onTokenReply(QNetworkReply* reply) {
    if (!m_running || !sameEndpoint(reply->url(), m_provider.tokenUrl) ||
        reply->error() == QNetworkReply::NoError)
        return;
    const TokenResponse response = readTokenResponse(*reply);
    finish({false,
            {},
            {},
            0,
            tr("%1 did not hand out the tokens (%2).").arg(m_provider.name, response.reason)});
}

void OAuthSignIn::cancel() {
    if (m_running)
        finish({false, {}, {}, 0, tr("The sign-in was cancelled.")});
}

void OAuthSignIn::finish(SignInResult result) {
    if (!m_running)
        return;
    m_running = false;
    m_timeout.stop();
    if (m_handler)
        m_handler->close();
    Q_EMIT finished(result);
}
