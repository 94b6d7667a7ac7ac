#pragma once

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

// An OAuth 2.0 authorization server for the tests, on 127.0.0.1: an authorization endpoint that
// approves at once and sends the browser back to the redirect address with a code, a token
// endpoint that checks the code against its PKCE challenge (S256) and hands out and refreshes
// tokens, and an introspection endpoint (RFC 7662, as Dovecot's oauth2 passdb asks it).
//
// An access token carries its user and its end and is signed with the server's key, so another
// instance with the same key (the one the Dovecot fixture runs for its introspection) tells
// whether it is valid: that is how a test process mints tokens that the fixture's Dovecot takes.
class MockAuthorizationServer : public QObject {
    Q_OBJECT
public:
    explicit MockAuthorizationServer(QByteArray key = {}, QObject* parent = nullptr);
    ~MockAuthorizationServer() override;

    // Listens on 127.0.0.1 and the port (0 for any free one); false when that failed.
    bool listen(quint16 port = 0);
    quint16 port() const;
    QUrl url(const QString& path) const; // "http://127.0.0.1:<port><path>"
    QUrl authorizationUrl() const { return url(QStringLiteral("/authorize")); }
    QUrl tokenUrl() const { return url(QStringLiteral("/token")); }
    QUrl introspectionUrl() const { return url(QStringLiteral("/introspect")); }

    // The client that may sign in, and its secret (empty: none is checked).
    void setClient(const QString& id, const QString& secret = {});
    // Whom the authorization approves when the request names nobody (login_hint).
    void setDefaultUser(const QString& user) { m_defaultUser = user; }
    // The authorization is refused (error=access_denied) instead of approved.
    void setDenyAuthorization(bool deny) { m_deny = deny; }
    // How long access tokens handed out from now on really last; expires_in always says 3600,
    // so a negative value makes tokens the client takes for fresh but that are dead already.
    void setAccessTokenLifetime(int seconds) { m_lifetime = seconds; }
    // Pads access tokens to at least this length, as real providers' long tokens are.
    void setAccessTokenLength(int length) { m_tokenLength = length; }
    // Every refresh token handed out so far stops working.
    void revokeRefreshTokens();

    // Whether an access token is signed with this server's key and still valid; the user it is for.
    bool isValidAccessToken(const QString& token, QString* user = nullptr) const;

    // Every token handed out (access and refresh), for tests that look for them in outputs.
    QStringList issuedTokens() const { return m_issued; }
    // Counters of the requests that reached the endpoints.
    int authorizationRequests() const { return m_authorizations; }
    int codeExchanges() const { return m_codeExchanges; }
    int refreshes() const { return m_refreshes; }
    int introspections() const { return m_introspections; }
    // The form of the last request to the token endpoint.
    QMap<QString, QString> lastTokenForm() const { return m_lastTokenForm; }
    // The query of the last authorization request.
    QMap<QString, QString> lastAuthorization() const { return m_lastAuthorization; }
    // Why the last token request was refused; empty when it was not.
    QString lastRefusal() const { return m_lastRefusal; }

    // A fresh random signing key.
    static QByteArray randomKey();

private:
    struct Response {
        int status = 200;
        QByteArray contentType = "application/json";
        QByteArray body;
        QByteArray location;
    };
    struct Grant {
        QString clientId;
        QString redirectUri;
        QString challenge;
        QString user;
    };

    void onConnection();
    void onData(QTcpSocket* socket);
    Response handle(const QByteArray& method, const QUrl& target, const QByteArray& body);
    Response authorize(const QUrl& target);
    Response token(const QMap<QString, QString>& form);
    Response introspect(const QMap<QString, QString>& form);
    Response refuse(const QString& error, const QString& description);
    QString newAccessToken(const QString& user);
    QString newRefreshToken(const QString& user);

    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_buffers;
    QByteArray m_key;
    QString m_clientId = QStringLiteral("corvanta-test-client");
    QString m_clientSecret;
    QString m_defaultUser = QStringLiteral("user1");
    bool m_deny = false;
    int m_lifetime = 3600;
    int m_tokenLength = 0;
    QHash<QString, Grant> m_codes;
    QHash<QString, QString> m_refreshTokens; // token -> user
    QStringList m_issued;
    QMap<QString, QString> m_lastTokenForm;
    QMap<QString, QString> m_lastAuthorization;
    QString m_lastRefusal;
    int m_authorizations = 0;
    int m_codeExchanges = 0;
    int m_refreshes = 0;
    int m_introspections = 0;
};

// Decodes an application/x-www-form-urlencoded body or query ("+" is a blank).
QMap<QString, QString> parseForm(const QByteArray& encoded);
