#pragma once

#include "scan/eventloopwait.h"

#include <QString>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// What a provider's token endpoint answered.
struct TokenResponse {
    enum class Status {
        Granted, // tokens came back
        Refused, // the endpoint refused the grant (invalid_grant...): only a new sign-in helps
        Failed,  // no usable answer (no connection, a server error, time out, not JSON)
    };
    Status status = Status::Failed;
    QString accessToken;
    QString refreshToken; // empty when the endpoint kept the old one
    qint64 expiresIn = 0; // seconds; 0 when not said
    // Why it was refused or failed, in words fit for the user (no token in them).
    QString reason;
};

// Reads a token endpoint's answer (RFC 6749, 5.1 and 5.2) to a finished reply.
TokenResponse readTokenResponse(QNetworkReply& reply);

// Asks the token endpoint for a new access token with a refresh token (RFC 6749, 6), waiting on
// waiter until the answer is in or the deadline passes. clientSecret may be empty.
TokenResponse refreshAccessToken(QNetworkAccessManager& network, const QUrl& tokenUrl,
                                 const QString& clientId, const QString& clientSecret,
                                 const QString& refreshToken, EventLoopWait& waiter,
                                 WaitDeadline deadline);
