#include "scan/oauth/tokenendpoint.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QUrlQuery>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("OAuth", text);
}

// A short, printable excerpt of what the endpoint said about an error.
QString excerpt(const QString& text) {
    QString shown = text.left(200);
    for (QChar& c : shown) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    return shown.trimmed();
}

} // namespace

TokenResponse readTokenResponse(QNetworkReply& reply) {
    TokenResponse response;
    const QByteArray body = reply.readAll();
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
    const QJsonObject object = document.object();

    const QString error = object.value(QLatin1String("error")).toString();
    if (!error.isEmpty() || (status >= 400 && status < 500 && document.isObject())) {
        // invalid_grant: the refresh token (or code) expired or was withdrawn. Anything else a
        // client error that a new sign-in does not mend on its own, but is not worth retrying.
        response.status = error == QLatin1String("invalid_grant") ? TokenResponse::Status::Refused
                                                                  : TokenResponse::Status::Failed;
        const QString description =
            excerpt(object.value(QLatin1String("error_description")).toString());
        response.reason = description.isEmpty()
                              ? excerpt(error)
                              : excerpt(error) + QLatin1String(": ") + description;
        if (response.reason.isEmpty())
            response.reason = tr("HTTP status %1").arg(status);
        return response;
    }
    if (reply.error() != QNetworkReply::NoError) {
        response.reason = excerpt(reply.errorString());
        return response;
    }
    response.accessToken = object.value(QLatin1String("access_token")).toString();
    if (parseError.error != QJsonParseError::NoError || response.accessToken.isEmpty()) {
        response.reason = tr("the answer held no access token");
        return response;
    }
    response.refreshToken = object.value(QLatin1String("refresh_token")).toString();
    const QJsonValue expires = object.value(QLatin1String("expires_in"));
    // Some endpoints send the number as a string.
    response.expiresIn = expires.isString() ? expires.toString().toLongLong()
                                            : static_cast<qint64>(expires.toDouble());
    response.status = TokenResponse::Status::Granted;
    return response;
}

TokenResponse refreshAccessToken(QNetworkAccessManager& network, const QUrl& tokenUrl,
                                 const QString& clientId, const QString& clientSecret,
                                 const QString& refreshToken, EventLoopWait& waiter,
                                 WaitDeadline deadline) {
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("grant_type"), QStringLiteral("refresh_token"));
    form.addQueryItem(QStringLiteral("refresh_token"),
                      QString::fromLatin1(QUrl::toPercentEncoding(refreshToken)));
    form.addQueryItem(QStringLiteral("client_id"),
                      QString::fromLatin1(QUrl::toPercentEncoding(clientId)));
    if (!clientSecret.isEmpty())
        form.addQueryItem(QStringLiteral("client_secret"),
                          QString::fromLatin1(QUrl::toPercentEncoding(clientSecret)));
    QNetworkRequest request(tokenUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QStringLiteral("application/x-www-form-urlencoded"));
    request.setRawHeader("Accept", "application/json");

    QPointer<QNetworkReply> reply = network.post(request, form.query(QUrl::FullyEncoded).toUtf8());
    QObject::connect(reply, &QNetworkReply::finished, reply, [&waiter] { waiter.wake(); });
    TokenResponse response;
    while (reply && !reply->isFinished()) {
        if (waiter.hasExpired(deadline)) {
            response.reason = tr("%1 did not answer in time").arg(tokenUrl.host());
            break;
        }
        if (!waiter.wait(deadline)) {
            response.reason = tr("the program is quitting");
            break;
        }
    }
    if (reply && reply->isFinished())
        response = readTokenResponse(*reply);
    if (reply) {
        reply->abort();
        reply->deleteLater();
    }
    return response;
}
