#include "scan/pop3/pop3login.h"

#include "scan/pop3/pop3connection.h"
#include "scan/pop3/pop3pipeline.h"
#include "scan/pop3/pop3sasl.h"
#include "scan/pop3/pop3texts.h"
#include "scan/pop3/pop3uniqueids.h"
#include "scan/pop3/serveraddress.h"
#include "scan/pop3/tlsmemory.h"

#include <QCoreApplication>

#include <algorithm>

namespace {

QString tr(const char* text) {
    return QCoreApplication::translate("FreePOP", text);
}

// The steps of one log-in, each of which ends it on failure.
class LogIn {
public:
    LogIn(Pop3Connection& connection, Pop3Pipeline& pipeline, const Pop3Deadline& deadline)
        : m_connection(connection)
        , m_pipeline(pipeline)
        , m_deadline(deadline) {}

    Pop3LoginResult run(const ServerAddress& address, const Pop3Credentials& credentials,
                        const QString& tlsMemoryFile);

private:
    using Reply = Pop3Command::Reply;

    Pop3CommandPtr post(const QByteArray& line, Reply kind);
    Pop3CommandPtr exchange(const QByteArray& line, Reply kind = Reply::Status);
    Pop3CommandPtr await(Pop3CommandPtr command);
    bool askCapabilities();
    bool readSizes(Pop3CommandPtr list, int messages);
    void readUniqueIds(const Pop3CommandPtr& uidl, int messages);
    bool negotiateTls(const ServerAddress& address, const QString& tlsMemoryFile);
    bool logInWithPassword(const Pop3Credentials& credentials);
    bool logInWithToken(const Pop3Credentials& credentials);
    bool refuse(Pop3Error error, const QString& text);
    QString server() const { return m_connection.server(); }

    Pop3Connection& m_connection;
    Pop3Pipeline& m_pipeline;
    const Pop3Deadline& m_deadline;
    Pop3LoginResult m_result;
};

Pop3LoginResult LogIn::run(const ServerAddress& address, const Pop3Credentials& credentials,
                           const QString& tlsMemoryFile) {
    const Pop3CommandPtr greeting = await(m_pipeline.expectGreeting());
    if (!greeting)
        return m_result;
    if (!greeting->positive) {
        refuse(ConnectionFailed, tr("%1 refused the connection: %2")
                                     .arg(server(), pop3text::serverWords(greeting->statusText)));
        return m_result;
    }
    if (!askCapabilities() || !negotiateTls(address, tlsMemoryFile))
        return m_result;

    const bool loggedIn =
        address.oauth ? logInWithToken(credentials) : logInWithPassword(credentials);
    if (!loggedIn)
        return m_result;

    const Pop3CommandPtr stat = exchange("STAT");
    if (!stat)
        return m_result;
    if (!stat->positive) {
        refuse(CommandRefused, tr("%1 refused to count the messages: %2")
                                   .arg(server(), pop3text::serverWords(stat->statusText)));
        return m_result;
    }
    // "+OK <count> <size>"
    const QByteArray count = stat->statusText.split(' ').value(0);
    bool ok = !count.isEmpty() && std::all_of(count.cbegin(), count.cend(),
                                              [](char c) { return c >= '0' && c <= '9'; });
    const int messages = ok ? count.toInt(&ok) : 0;
    if (!ok) {
        refuse(ProtocolError, tr("%1 gave no message count: %2")
                                  .arg(server(), pop3text::serverWords(stat->statusText)));
        return m_result;
    }
    m_result.messageCount = messages;
    m_pipeline.setPipelining(hasCapability(m_result.capabilities, u"PIPELINING"));
    // Asking ahead is bounded by bytes, so the sizes of the messages are wanted first. A server
    // that will not list them gets no more than one message asked for ahead.
    const bool wantSizes = m_pipeline.pipelining() && messages > 1;
    // The unique ids let the scan pass skip the messages it judged before. A server that
    // lists its capabilities without UIDL does not have the command; one that does not know CAPA
    // may have it all the same.
    const bool wantIds = messages > 0 && (m_result.capabilities.isEmpty() ||
                                          hasCapability(m_result.capabilities, u"UIDL"));
    // With PIPELINING both go out at once; otherwise only UIDL is asked, after STAT.
    const Pop3CommandPtr list = wantSizes ? post("LIST", Reply::MultiLine) : nullptr;
    if (wantSizes && !list)
        return m_result;
    const Pop3CommandPtr uidl = wantIds ? post("UIDL", Reply::MultiLine) : nullptr;
    if (wantIds && !uidl)
        return m_result;
    if (list && !readSizes(list, messages))
        return m_result;
    if (uidl)
        readUniqueIds(uidl, messages);
    return m_result;
}

bool LogIn::logInWithPassword(const Pop3Credentials& credentials) {
    Pop3CommandPtr reply = exchange("USER " + credentials.user.toUtf8());
    if (reply && reply->positive)
        reply = exchange("PASS " + credentials.password.toUtf8());
    if (!reply)
        return false;
    if (!reply->positive)
        return refuse(LoginRefused, tr("%1 refused the log-in: %2")
                                        .arg(server(), pop3text::serverWords(reply->statusText)));
    return true;
}

// AUTH with the access token, only over an encrypted connection and only with a mechanism the
// server lists. A token the server refuses may have expired before its time or been withdrawn:
// a new one is fetched and tried once before the log-in counts as refused.
bool LogIn::logInWithToken(const Pop3Credentials& credentials) {
    if (!m_connection.isEncrypted())
        return refuse(EncryptionMissing,
                      tr("%1 is not encrypted, so the OAuth 2.0 sign-in was not sent: it goes "
                         "over TLS only. Use \"pop3s+oauth2://\" or a server that offers STLS.")
                          .arg(server()));
    const std::optional<SaslMechanism> mechanism = chooseOAuthMechanism(m_result.capabilities);
    if (!mechanism)
        return refuse(LoginRefused, tr("%1 does not offer an OAuth 2.0 log-in (SASL XOAUTH2 or "
                                       "OAUTHBEARER).")
                                        .arg(server()));
    if (!credentials.accessToken)
        return refuse(SignInNeeded,
                      tr("No OAuth 2.0 sign-in is set up for %1: sign in again.").arg(server()));
    SaslOutcome outcome;
    for (const bool renew : {false, true}) {
        const Pop3Token token = credentials.accessToken(renew);
        if (token.failure.failed()) {
            m_result.failure = token.failure;
            return false;
        }
        outcome = saslAuthenticate(m_connection, m_pipeline, *mechanism, credentials.user,
                                   token.accessToken, m_deadline);
        if (outcome.kind == SaslOutcome::Kind::Accepted)
            return true;
        if (outcome.kind == SaslOutcome::Kind::Failed) {
            m_result.failure = outcome.failure;
            return false;
        }
    }
    QString words = pop3text::serverWords(outcome.serverWords);
    if (!outcome.challenge.isEmpty())
        words += QLatin1String(" (") + outcome.challenge + QLatin1Char(')');
    return refuse(LoginRefused,
                  tr("%1 refused the OAuth 2.0 sign-in: %2. If this goes on, sign in again.")
                      .arg(server(), words));
}

// Puts the command in line without waiting for its reply; null, with the log-in failed, when it
// could not be.
Pop3CommandPtr LogIn::post(const QByteArray& line, Reply kind) {
    Pop3Failure failure;
    Pop3CommandPtr command = m_pipeline.send(line, kind, failure);
    if (!command)
        m_result.failure = failure;
    return command;
}

Pop3CommandPtr LogIn::exchange(const QByteArray& line, Reply kind) {
    Pop3CommandPtr command = post(line, kind);
    return command ? await(std::move(command)) : nullptr;
}

bool LogIn::readSizes(Pop3CommandPtr list, int messages) {
    list = await(std::move(list));
    if (!list)
        return false;
    if (list->positive)
        m_pipeline.setListing(list->body, messages);
    return true;
}

// The ids are a help, not a need: a server that refuses UIDL, or sends a listing too large or
// with lines too long to read (the reader reads past it and stays in step), leaves the messages
// without ids. Only a session that broke down fails the log-in.
void LogIn::readUniqueIds(const Pop3CommandPtr& uidl, int messages) {
    Pop3Failure failure = m_pipeline.waitFor(*uidl, m_deadline);
    if (!failure.failed() && uidl->failure.error != MessageTooLarge &&
        uidl->failure.error != LineTooLong)
        failure = uidl->failure;
    if (failure.failed()) {
        m_result.failure = failure;
        return;
    }
    if (uidl->positive && !uidl->failure.failed())
        m_result.uniqueIds = parseUniqueIds(uidl->body, messages);
}

// The command once its reply is in; null, with the log-in failed, when no usable reply came.
Pop3CommandPtr LogIn::await(Pop3CommandPtr command) {
    Pop3Failure failure = m_pipeline.waitFor(*command, m_deadline);
    if (!failure.failed())
        failure = command->failure;
    if (failure.failed()) {
        m_result.failure = failure;
        return nullptr;
    }
    return command;
}

// CAPA, after the greeting and again after STLS. A server that does not know the command answers
// -ERR and simply has no capabilities.
bool LogIn::askCapabilities() {
    m_result.capabilities.clear();
    const Pop3CommandPtr capa = exchange("CAPA", Reply::MultiLine);
    if (!capa) {
        // A capability list too large to read is not what a mail server sends.
        if (m_result.failure.error == MessageTooLarge || m_result.failure.error == LineTooLong) {
            m_connection.drop(pop3text::notPop3Reason());
            refuse(ProtocolError, pop3text::notPop3(server()));
        }
        return false;
    }
    if (!capa->positive)
        return true;
    for (const QByteArray& line : capa->body.split('\n')) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (!text.isEmpty())
            m_result.capabilities.append(text);
    }
    return true;
}

bool LogIn::negotiateTls(const ServerAddress& address, const QString& tlsMemoryFile) {
    // The session is secure either way; a server that could not be remembered is simply met
    // afresh next time.
    const auto rememberTls = [&] {
        if (!tlsMemoryFile.isEmpty())
            TlsMemory(tlsMemoryFile).remember(address.host);
    };
    if (m_connection.isEncrypted()) {
        rememberTls();
        return true;
    }
    if (!hasCapability(m_result.capabilities, u"STLS")) {
        if (address.requireStls)
            return refuse(EncryptionMissing,
                          tr("%1 does not offer encryption (STLS), though the account asks for "
                             "it with \"pop3+stls://\". The password was not sent.")
                              .arg(server()));
        if (!tlsMemoryFile.isEmpty() && TlsMemory(tlsMemoryFile).remembers(address.host))
            return refuse(EncryptionMissing,
                          tr("%1 did not offer encryption (STLS) this time, though it did before, "
                             "so someone on the way may be removing it. The password was not "
                             "sent. If your provider really stopped offering encryption, delete "
                             "this account and add it again.")
                              .arg(server()));
        return true;
    }

    const Pop3CommandPtr stls = exchange("STLS");
    if (!stls)
        return false;
    if (!stls->positive) {
        const QString words = pop3text::serverWords(stls->statusText);
        if (address.requireStls)
            return refuse(EncryptionMissing,
                          tr("%1 refused to start encryption (STLS), though the account asks for "
                             "it with \"pop3+stls://\": %2. The password was not sent.")
                              .arg(server(), words));
        return refuse(StlsRefused, tr("%1 offers encryption (STLS) but refused to start it: %2. "
                                      "The password was not sent.")
                                       .arg(server(), words));
    }
    // Anything after the +OK came in the clear and could have been put there by someone on the
    // way, to pass as the answer to a command sent encrypted.
    const Pop3Failure failure =
        m_connection.startTls(m_pipeline.unread() > 0, m_deadline.at, m_deadline.seconds);
    if (failure.failed()) {
        m_result.failure = failure;
        return false;
    }
    rememberTls();
    // What the server said before the upgrade cannot be relied on.
    return askCapabilities();
}

bool LogIn::refuse(Pop3Error error, const QString& text) {
    m_result.failure = {error, text};
    return false;
}

} // namespace

Pop3LoginResult logIn(Pop3Connection& connection, Pop3Pipeline& pipeline,
                      const ServerAddress& address, const Pop3Credentials& credentials,
                      const QString& tlsMemoryFile, const Pop3Deadline& deadline) {
    return LogIn(connection, pipeline, deadline).run(address, credentials, tlsMemoryFile);
}

bool hasCapability(const QStringList& capabilities, QStringView name) {
    for (const QString& line : capabilities) {
        const QStringView word = QStringView(line).left(line.indexOf(QLatin1Char(' ')));
        if (word.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}
