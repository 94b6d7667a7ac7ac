#include "scan/pop3/pop3sasl.h"

#include "scan/pop3/pop3connection.h"
#include "scan/pop3/pop3pipeline.h"
#include "scan/pop3/pop3texts.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("FreePOP", text);
}

// The mechanisms named on CAPA's "SASL" line, in upper case.
QStringList saslMechanisms(const QStringList& capabilities) {
    for (const QString& line : capabilities) {
        QStringList words = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty() || words.first().compare(QLatin1String("SASL"), Qt::CaseInsensitive))
            continue;
        words.removeFirst();
        for (QString& word : words)
            word = word.toUpper();
        return words;
    }
    return {};
}

// One line of the exchange, sent once every earlier reply is in.
struct Step {
    Pop3CommandPtr command;
    Pop3Failure failure;
};

Step exchange(Pop3Pipeline& pipeline, const QByteArray& line, const Pop3Deadline& deadline) {
    Step step;
    step.command =
        pipeline.send(line, Pop3Command::Reply::Sasl, step.failure, 0, Pop3Pipeline::Send::Alone);
    if (!step.command)
        return step;
    step.failure = pipeline.waitFor(*step.command, deadline);
    if (!step.failure.failed())
        step.failure = step.command->failure;
    return step;
}

SaslOutcome failed(const Pop3Failure& failure) {
    SaslOutcome outcome;
    outcome.failure = failure;
    return outcome;
}

SaslOutcome outOfStep(Pop3Connection& connection) {
    connection.drop(pop3text::notPop3Reason());
    return failed({ProtocolError, tr("%1 sent a sign-in challenge out of turn; the log-in was "
                                     "given up.")
                                      .arg(connection.server())});
}

} // namespace

QByteArray saslMechanismName(SaslMechanism mechanism) {
    return mechanism == SaslMechanism::XOAuth2 ? QByteArrayLiteral("XOAUTH2")
                                               : QByteArrayLiteral("OAUTHBEARER");
}

std::optional<SaslMechanism> chooseOAuthMechanism(const QStringList& capabilities) {
    const QStringList mechanisms = saslMechanisms(capabilities);
    if (mechanisms.contains(QLatin1String("OAUTHBEARER")))
        return SaslMechanism::OAuthBearer;
    if (mechanisms.contains(QLatin1String("XOAUTH2")))
        return SaslMechanism::XOAuth2;
    return std::nullopt;
}

QByteArray saslInitialResponse(SaslMechanism mechanism, const QString& user,
                               const QString& accessToken) {
    const QByteArray bearer = "auth=Bearer " + accessToken.toUtf8() + "\x01\x01";
    if (mechanism == SaslMechanism::XOAuth2)
        return "user=" + user.toUtf8() + '\x01' + bearer;
    // The GS2 header names the user; "," and "=" in the name are escaped as RFC 5801 wants.
    QByteArray name = user.toUtf8();
    name.replace("=", "=3D").replace(",", "=2C");
    return "n,a=" + name + ",\x01" + bearer;
}

QByteArray saslRefusalAnswer(SaslMechanism mechanism) {
    return mechanism == SaslMechanism::XOAuth2 ? QByteArray() : QByteArray("\x01");
}

QString describeSaslChallenge(const QByteArray& base64Challenge) {
    const auto decoded =
        QByteArray::fromBase64Encoding(base64Challenge, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return {};
    const QJsonObject object = QJsonDocument::fromJson(*decoded).object();
    const QString status = object.value(QLatin1String("status")).toVariant().toString();
    if (status.isEmpty())
        return {};
    const QString scope = object.value(QLatin1String("scope")).toString();
    const QString text = scope.isEmpty() ? tr("status %1").arg(status)
                                         : tr("status %1, scope %2").arg(status, scope);
    return pop3text::serverWords(text.toUtf8());
}

SaslOutcome saslAuthenticate(Pop3Connection& connection, Pop3Pipeline& pipeline,
                             SaslMechanism mechanism, const QString& user,
                             const QString& accessToken, const Pop3Deadline& deadline) {
    const QByteArray name = saslMechanismName(mechanism);
    const QByteArray response = saslInitialResponse(mechanism, user, accessToken).toBase64();
    const QByteArray withResponse = "AUTH " + name + ' ' + response;

    Step step;
    if (withResponse.size() <= kMaxAuthLine) {
        step = exchange(pipeline, withResponse, deadline);
    } else {
        // Too long for the AUTH line: the server asks for it with an empty challenge.
        step = exchange(pipeline, "AUTH " + name, deadline);
        if (step.failure.failed() || !step.command)
            return failed(step.failure);
        if (step.command->continuation) {
            if (!step.command->statusText.isEmpty())
                return outOfStep(connection);
            step = exchange(pipeline, response, deadline);
        }
    }
    if (step.failure.failed() || !step.command)
        return failed(step.failure);

    SaslOutcome outcome;
    if (step.command->continuation) {
        // An error challenge: the token was refused. The mechanism wants an answer before the
        // server sends its -ERR.
        outcome.challenge = describeSaslChallenge(step.command->statusText);
        step = exchange(pipeline, saslRefusalAnswer(mechanism).toBase64(), deadline);
        if (step.failure.failed() || !step.command)
            return failed(step.failure);
        if (step.command->continuation)
            return outOfStep(connection);
    }
    if (step.command->positive) {
        outcome.kind = SaslOutcome::Kind::Accepted;
        return outcome;
    }
    outcome.kind = SaslOutcome::Kind::TokenRefused;
    outcome.serverWords = step.command->statusText;
    return outcome;
}
