#include "support/mockauthserver.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>
#include <QTcpSocket>
#include <QUrlQuery>

namespace {

constexpr qsizetype kMaxRequest = 64 * 1024;

QByteArray randomText(int bytes) {
    QByteArray random(bytes, Qt::Uninitialized);
    QRandomGenerator::system()->generate(random.begin(), random.end());
    return random.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

QByteArray json(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray reasonPhrase(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 302:
        return "Found";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    default:
        return "Error";
    }
}

} // namespace

QMap<QString, QString> parseForm(const QByteArray& encoded) {
    QMap<QString, QString> form;
    for (const QByteArray& pair : encoded.split('&')) {
        if (pair.isEmpty())
            continue;
        const qsizetype equals = pair.indexOf('=');
        QByteArray name = equals < 0 ? pair : pair.left(equals);
        QByteArray value = equals < 0 ? QByteArray() : pair.mid(equals + 1);
        name.replace('+', ' ');
        value.replace('+', ' ');
        form.insert(QString::fromUtf8(QByteArray::fromPercentEncoding(name)),
                    QString::fromUtf8(QByteArray::fromPercentEncoding(value)));
    }
    return form;
}

MockAuthorizationServer::MockAuthorizationServer(QByteArray key, QObject* parent)
    : QObject(parent)
    , m_key(key.isEmpty() ? randomKey() : std::move(key)) {
    connect(&m_server, &QTcpServer::newConnection, this, &MockAuthorizationServer::onConnection);
}

MockAuthorizationServer::~MockAuthorizationServer() {
    // The sockets are the listening server's children and go with it; a socket
    // still open emits disconnected() then, and its handler must not reach the
    // buffers, which are gone by that time.
    for (QTcpSocket* socket : m_server.findChildren<QTcpSocket*>())
        socket->disconnect(this);
}

QByteArray MockAuthorizationServer::randomKey() {
    return randomText(32);
}

bool MockAuthorizationServer::listen(quint16 port) {
    return m_server.listen(QHostAddress::LocalHost, port);
}

quint16 MockAuthorizationServer::port() const {
    return m_server.serverPort();
}

QUrl MockAuthorizationServer::url(const QString& path) const {
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port()).arg(path));
}

void MockAuthorizationServer::setClient(const QString& id, const QString& secret) {
    m_clientId = id;
    m_clientSecret = secret;
}

void MockAuthorizationServer::revokeRefreshTokens() {
    m_refreshTokens.clear();
}

void MockAuthorizationServer::onConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { onData(socket); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
            m_buffers.remove(socket);
            socket->deleteLater();
        });
    }
}

void MockAuthorizationServer::onData(QTcpSocket* socket) {
    QByteArray& buffer = m_buffers[socket];
    buffer += socket->readAll();
    if (buffer.size() > kMaxRequest) {
        socket->abort();
        return;
    }
    const qsizetype headerEnd = buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return;
    const QList<QByteArray> lines = buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    qsizetype length = 0;
    for (const QByteArray& line : lines.mid(1)) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length")
            length = line.mid(colon + 1).trimmed().toLongLong();
    }
    if (buffer.size() < headerEnd + 4 + length)
        return;
    const QByteArray body = buffer.mid(headerEnd + 4, length);
    buffer.clear();

    const QUrl target =
        QUrl(QStringLiteral("http://127.0.0.1") + QString::fromLatin1(requestLine.value(1)));
    const Response response = handle(requestLine.value(0), target, body);
    QByteArray out = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                     reasonPhrase(response.status) + "\r\n";
    if (!response.location.isEmpty())
        out += "Location: " + response.location + "\r\n";
    out += "Content-Type: " + response.contentType +
           "\r\nContent-Length: " + QByteArray::number(response.body.size()) +
           "\r\nConnection: close\r\n\r\n" + response.body;
    socket->write(out);
    socket->disconnectFromHost();
}

MockAuthorizationServer::Response MockAuthorizationServer::handle(const QByteArray& method,
                                                                  const QUrl& target,
                                                                  const QByteArray& body) {
    const QString path = target.path();
    if (method == "GET" && path == QLatin1String("/authorize"))
        return authorize(target);
    if (method == "POST" && path == QLatin1String("/token"))
        return token(parseForm(body));
    if (method == "POST" && path == QLatin1String("/introspect"))
        return introspect(parseForm(body));
    Response response;
    response.status = 404;
    response.contentType = "text/plain";
    response.body = "no such endpoint";
    return response;
}

MockAuthorizationServer::Response MockAuthorizationServer::authorize(const QUrl& target) {
    ++m_authorizations;
    const QMap<QString, QString> query = parseForm(target.query(QUrl::FullyEncoded).toUtf8());
    m_lastAuthorization = query;
    const QString redirect = query.value(QStringLiteral("redirect_uri"));
    Response response;
    // Only a loopback redirect is followed; anything else is not this program's.
    if (!redirect.startsWith(QLatin1String("http://127.0.0.1:"))) {
        response.status = 400;
        response.contentType = "text/plain";
        response.body = "redirect_uri must be a loopback address";
        return response;
    }
    QUrlQuery back;
    const auto add = [&back](const QString& name, const QString& value) {
        back.addQueryItem(name, QString::fromLatin1(QUrl::toPercentEncoding(value)));
    };
    const bool pkce =
        query.value(QStringLiteral("code_challenge_method")) == QLatin1String("S256") &&
        !query.value(QStringLiteral("code_challenge")).isEmpty();
    if (m_deny) {
        add(QStringLiteral("error"), QStringLiteral("access_denied"));
        add(QStringLiteral("error_description"), QStringLiteral("The user said no."));
    } else if (query.value(QStringLiteral("client_id")) != m_clientId ||
               query.value(QStringLiteral("response_type")) != QLatin1String("code")) {
        add(QStringLiteral("error"), QStringLiteral("unauthorized_client"));
    } else if (!pkce) {
        add(QStringLiteral("error"), QStringLiteral("invalid_request"));
        add(QStringLiteral("error_description"), QStringLiteral("PKCE (S256) is required"));
    } else {
        const QString code = QString::fromLatin1(randomText(18));
        const QString hint = query.value(QStringLiteral("login_hint"));
        m_codes.insert(code,
                       Grant{m_clientId, redirect, query.value(QStringLiteral("code_challenge")),
                             hint.isEmpty() ? m_defaultUser : hint});
        add(QStringLiteral("code"), code);
    }
    add(QStringLiteral("state"), query.value(QStringLiteral("state")));
    QUrl location(redirect);
    location.setQuery(back);
    response.status = 302;
    response.contentType = "text/plain";
    response.location = location.toEncoded();
    return response;
}

MockAuthorizationServer::Response MockAuthorizationServer::refuse(const QString& error,
                                                                  const QString& description) {
    m_lastRefusal = description;
    Response response;
    response.status = 400;
    response.body = json(
        {{QStringLiteral("error"), error}, {QStringLiteral("error_description"), description}});
    return response;
}

MockAuthorizationServer::Response
MockAuthorizationServer::token(const QMap<QString, QString>& form) {
    m_lastTokenForm = form;
    m_lastRefusal.clear();
    if (form.value(QStringLiteral("client_id")) != m_clientId)
        return refuse(QStringLiteral("invalid_client"), QStringLiteral("unknown client"));
    if (!m_clientSecret.isEmpty() && form.value(QStringLiteral("client_secret")) != m_clientSecret)
        return refuse(QStringLiteral("invalid_client"), QStringLiteral("wrong client secret"));

    QString user;
    QString refreshToken;
    const QString grantType = form.value(QStringLiteral("grant_type"));
    if (grantType == QLatin1String("authorization_code")) {
        ++m_codeExchanges;
        // A code works once.
        const Grant grant = m_codes.take(form.value(QStringLiteral("code")));
        if (grant.user.isEmpty())
            return refuse(QStringLiteral("invalid_grant"), QStringLiteral("unknown or used code"));
        if (form.value(QStringLiteral("redirect_uri")) != grant.redirectUri)
            return refuse(QStringLiteral("invalid_grant"), QStringLiteral("redirect_uri differs"));
        const QByteArray verifier = form.value(QStringLiteral("code_verifier")).toLatin1();
        const QByteArray challenge =
            QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
                .toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
        if (verifier.size() < 43 || verifier.size() > 128 ||
            QString::fromLatin1(challenge) != grant.challenge)
            return refuse(QStringLiteral("invalid_grant"),
                          QStringLiteral("PKCE verification failed"));
        user = grant.user;
        refreshToken = newRefreshToken(user);
    } else if (grantType == QLatin1String("refresh_token")) {
        ++m_refreshes;
        user = m_refreshTokens.value(form.value(QStringLiteral("refresh_token")));
        if (user.isEmpty())
            return refuse(QStringLiteral("invalid_grant"),
                          QStringLiteral("the refresh token was revoked"));
    } else {
        return refuse(QStringLiteral("unsupported_grant_type"), grantType);
    }
    QJsonObject answer{{QStringLiteral("access_token"), newAccessToken(user)},
                       {QStringLiteral("token_type"), QStringLiteral("Bearer")},
                       {QStringLiteral("expires_in"), 3600}};
    if (!refreshToken.isEmpty())
        answer.insert(QStringLiteral("refresh_token"), refreshToken);
    Response response;
    response.body = json(answer);
    return response;
}

MockAuthorizationServer::Response
MockAuthorizationServer::introspect(const QMap<QString, QString>& form) {
    ++m_introspections;
    QString user;
    Response response;
    if (isValidAccessToken(form.value(QStringLiteral("token")), &user))
        response.body = json({{QStringLiteral("active"), true},
                              {QStringLiteral("username"), user},
                              {QStringLiteral("scope"), QStringLiteral("mail")}});
    else
        response.body = json({{QStringLiteral("active"), false}});
    return response;
}

// "at.<user in base64url>.<end in seconds>.<random and padding>.<signature>"
QString MockAuthorizationServer::newAccessToken(const QString& user) {
    const QByteArray head =
        "at." +
        user.toUtf8().toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals) +
        '.' + QByteArray::number(QDateTime::currentSecsSinceEpoch() + m_lifetime) + '.' +
        randomText(9) + QByteArray(qMax(0, m_tokenLength - 130), 'p');
    const QByteArray signature =
        QMessageAuthenticationCode::hash(head, m_key, QCryptographicHash::Sha256).toHex();
    const QString token = QString::fromLatin1(head + '.' + signature);
    m_issued.append(token);
    return token;
}

QString MockAuthorizationServer::newRefreshToken(const QString& user) {
    const QString token = QStringLiteral("rt.") + QString::fromLatin1(randomText(24));
    m_refreshTokens.insert(token, user);
    m_issued.append(token);
    return token;
}

bool MockAuthorizationServer::isValidAccessToken(const QString& token, QString* user) const {
    const QByteArray bytes = token.toLatin1();
    const qsizetype lastDot = bytes.lastIndexOf('.');
    if (lastDot < 0)
        return false;
    const QByteArray head = bytes.left(lastDot);
    const QByteArray expected =
        QMessageAuthenticationCode::hash(head, m_key, QCryptographicHash::Sha256).toHex();
    const QList<QByteArray> parts = head.split('.');
    if (bytes.mid(lastDot + 1) != expected || parts.size() != 4 || parts.at(0) != "at")
        return false;
    if (parts.at(2).toLongLong() <= QDateTime::currentSecsSinceEpoch())
        return false;
    if (user)
        *user =
            QString::fromUtf8(QByteArray::fromBase64(parts.at(1), QByteArray::Base64UrlEncoding));
    return true;
}
