#pragma once

#include "scan/pop3/pop3error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

class Pop3Connection;
class Pop3Pipeline;
struct Pop3Deadline;

// The SASL mechanisms that carry an OAuth 2.0 access token: Google's and Microsoft's XOAUTH2 and
// the standard OAUTHBEARER (RFC 7628).
enum class SaslMechanism { XOAuth2, OAuthBearer };

// The mechanism's name as AUTH and CAPA spell it.
QByteArray saslMechanismName(SaslMechanism mechanism);

// The mechanism to use with a server whose CAPA listed these capabilities: OAUTHBEARER where the
// SASL line lists it, else XOAUTH2; nothing when the server lists neither (or no SASL line).
std::optional<SaslMechanism> chooseOAuthMechanism(const QStringList& capabilities);

// The client's first message (before base64): who logs in and the bearer token.
QByteArray saslInitialResponse(SaslMechanism mechanism, const QString& user,
                               const QString& accessToken);

// What the client answers to the error challenge of a refused token (before base64): XOAUTH2
// wants an empty line, OAUTHBEARER the single byte 0x01 (RFC 7628, 3.2.3).
QByteArray saslRefusalAnswer(SaslMechanism mechanism);

// The status code and scope of an error challenge ({"status":"401","scope":...} in base64), for
// the error text; empty when the challenge says nothing readable.
QString describeSaslChallenge(const QByteArray& base64Challenge);

// The longest AUTH line (without its CR LF) that may carry the initial response; a longer one
// goes after an empty challenge instead (RFC 5034, 4).
inline constexpr qsizetype kMaxAuthLine = 255 - 2;

// How one AUTH exchange ended.
struct SaslOutcome {
    enum class Kind {
        Accepted,     // +OK: logged in
        TokenRefused, // the server refused the token (a new one may do)
        Failed,       // no usable answer; failure says why and the connection may be gone
    };
    Kind kind = Kind::Failed;
    Pop3Failure failure;
    QByteArray serverWords; // the -ERR text of a refusal
    QString challenge;      // what the error challenge said, when there was one
};

// Logs in with AUTH and the token over the pipeline: the initial response on the AUTH line, or
// after an empty challenge when the line would be too long; an error challenge is answered as the
// mechanism requires before the server's -ERR is read. Every line is sent alone. A challenge where
// none belongs (a second one, or one after the initial response was sent on its own line without
// being asked for) is out of step: the connection is dropped.
SaslOutcome saslAuthenticate(Pop3Connection& connection, Pop3Pipeline& pipeline,
                             SaslMechanism mechanism, const QString& user,
                             const QString& accessToken, const Pop3Deadline& deadline);
