#include "scan/pop3/FreePOP.h"

#include "scan/archivepagefile.h"
#include "scan/backgroundwork.h"
#include "scan/pop3/pop3login.h"
#include "scan/pop3/pop3texts.h"
#include "scan/pop3/pop3transport.h"
#include "scan/pop3/serveraddress.h"
#include "scan/pop3/tlstrust.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>

namespace {

// Pages of messages larger than this are written on the worker thread, so the window keeps
// answering while a large message is escaped and written; smaller ones take less time than the
// hand-over.
constexpr qsizetype kPageOnWorker = 256 * 1024;

bool hasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) ||
           text.contains(QChar(0));
}

} // namespace

FreePOP::FreePOP(QObject* parent)
    : FreePOP(std::make_unique<EventLoopWait>(), parent) {}

FreePOP::FreePOP(std::unique_ptr<EventLoopWait> waiter, QObject* parent)
    : QObject(parent)
    , m_waiter(std::move(waiter))
    , m_connection(*m_waiter)
    , m_pipeline(m_connection, *m_waiter)
    , m_worker(std::make_unique<QThreadPool>()) {
    m_worker->setMaxThreadCount(1);
    // A message is parsed on the worker as soon as its last line came in.
    m_pipeline.setMessageHandler(
        [this](Pop3Command& retrieval) { retrieval.parse = startParse(retrieval.body); });
    // Done once the window's thread is idle, so that the first log-in does not wait for it.
    QTimer::singleShot(0, this, [] { preparePop3Transport(); });
}

FreePOP::~FreePOP() {
    // Without QUIT: deletions marked in an unfinished session do not happen.
    m_connection.close();
    m_worker->waitForDone();
}

void FreePOP::setTrustedCertificatesFolder(const QString& folder) {
    m_certificatesFolder = folder;
    m_connection.setCertificatesFolder(folder);
}

void FreePOP::setTransportFactory(Pop3Connection::TransportFactory factory) {
    m_connection.setTransportFactory(std::move(factory));
}

bool FreePOP::hasCapability(QStringView name) const {
    return ::hasCapability(m_capabilities, name);
}

void FreePOP::Connect() {
    if (!beginOperation())
        return;
    const auto done = qScopeGuard([this] {
        // A failed log-in leaves nothing open; the next Connect starts afresh.
        if (m_error != NoError)
            closeLink();
        endOperation();
    });

    closeLink();
    // In a SASL message a control character would end the name early.
    if (hasLineBreak(m_username) || hasLineBreak(m_password) || m_username.contains(QChar(1))) {
        // Sent as they are, these would let the text after the break pass as a command.
        fail(BadArgument, tr("The login name or the password contains a line break."));
        return;
    }
    const bool portValid = m_port >= 1 && m_port <= 65535;
    const std::optional<ServerAddress> address =
        parseServerAddress(m_hostname, portValid ? static_cast<quint16>(m_port) : 0);
    if (!address || address->port == 0) {
        fail(ConnectionFailed, tr("\"%1\" is not a valid mail server.").arg(m_hostname));
        return;
    }

    const Pop3Deadline deadline = operationDeadline();
    Pop3Failure failure = m_connection.open(*address, readTrustedCertificates(m_certificatesFolder),
                                            deadline.at, deadline.seconds);
    if (failure.failed()) {
        fail(failure);
        return;
    }
    Pop3Credentials credentials{m_username, m_password, {}};
    if (address->oauth && m_tokens) {
        credentials.accessToken = [this, host = address->host, deadline](bool renew) {
            return m_tokens->accessToken(host, m_username, renew, *m_waiter, deadline);
        };
    }
    const Pop3LoginResult session =
        logIn(m_connection, m_pipeline, *address, credentials, m_tlsMemoryFile, deadline);
    m_capabilities = session.capabilities;
    if (session.failure.failed()) {
        fail(session.failure);
        return;
    }
    m_messageCount = session.messageCount;
    m_uniqueIds = session.uniqueIds;
    succeed();
}

void FreePOP::planFetches(const QList<int>& numbers) {
    std::vector<bool> wanted(size_t(m_messageCount) + 1, false);
    for (const int n : numbers) {
        if (n >= 1 && n <= m_messageCount)
            wanted[size_t(n)] = true;
    }
    m_pipeline.setWanted(std::move(wanted));
}

void FreePOP::FetchMessage(int n) {
    if (!beginOperation())
        return;
    const auto done = qScopeGuard([this] { endOperation(); });

    clearCurrent();
    if (n < 1) {
        fail(BadArgument, tr("There is no message number %1.").arg(n));
        return;
    }
    Pop3CommandPtr retr = m_pipeline.claimAhead(n);
    // A reply that failed is reported as itself, also when the connection is gone since.
    if (!(retr && retr->done && retr->failure.failed()) && !requireOpenLink())
        return;
    const auto retrieve = [this, n, &retr] {
        Pop3Failure failure;
        retr = m_pipeline.send("RETR " + QByteArray::number(n), Pop3Command::Reply::MultiLine,
                               failure, n);
        if (!retr)
            fail(failure);
        return bool(retr);
    };
    if (!retr && !retrieve())
        return;
    const Pop3Deadline deadline = operationDeadline();
    Pop3Failure failure = m_pipeline.waitFor(*retr, deadline);
    // Larger than the server said: asked for again, now without a bound beyond the limits.
    if (!failure.failed() && retr->overBound) {
        if (!retrieve())
            return;
        failure = m_pipeline.waitFor(*retr, deadline);
    }
    if (failure.failed()) {
        fail(failure);
        return;
    }
    if (retr->failure.failed()) {
        fail(retr->failure);
        m_pipeline.fetchAhead(n, m_messageCount, 0);
        return;
    }
    if (!retr->positive) {
        fail(CommandRefused, tr("%1 refused message %2: %3")
                                 .arg(m_connection.server(), QString::number(n),
                                      pop3text::serverWords(retr->statusText)));
        m_pipeline.fetchAhead(n, m_messageCount, 0);
        return;
    }
    m_raw = std::move(retr->body);
    m_parse = retr->parse;
    if (!m_parse.isValid())
        m_parse = startParse(m_raw);
    m_current = n;
    succeed();
    m_pipeline.fetchAhead(n, m_messageCount, m_raw.size());
}

void FreePOP::CompleteFetch() {
    if (!beginOperation())
        return;
    const auto done = qScopeGuard([this] { endOperation(); });

    if (m_current == 0) {
        fail(NoCurrentMessage, pop3text::noCurrentMessage());
        return;
    }
    if (!m_parsed) {
        if (!waitForWork(m_parse))
            return;
        const ParsedResult result = m_parse.result();
        m_message = result.message;
        m_analysis = result.analysis;
        m_parsed = true;
    }
    succeed();
}

void FreePOP::SaveMessage(const QString& path) {
    if (!beginOperation())
        return;
    const auto done = qScopeGuard([this] { endOperation(); });
    m_savedPath.clear();
    const RemovalNote note = std::exchange(m_pageNote, {});

    if (m_current == 0) {
        fail(NoCurrentMessage, pop3text::noCurrentMessage());
        return;
    }
    // The page needs the decoded header fields even when CompleteFetch was not called; the reads
    // stay as they are.
    if (!m_parsed && !waitForWork(m_parse))
        return;
    const ParsedMessage message = m_parsed ? m_message : m_parse.result().message;

    SavedPage saved;
    if (m_raw.size() > kPageOnWorker) {
        const QFuture<SavedPage> page =
            runInBackground(m_worker.get(), [path, message, raw = m_raw, note] {
                return writeArchivePage(path, message, raw, note);
            });
        if (!awaitFuture(page, *m_waiter)) {
            fail(Interrupted, pop3text::quitting());
            return;
        }
        saved = page.result();
    } else {
        saved = writeArchivePage(path, message, m_raw, note);
    }
    if (!saved.failure.isEmpty()) {
        fail(FileWriteFailed, tr("Could not write \"%1\": %2").arg(path, saved.failure));
        return;
    }
    m_savedPath = saved.path;
    if (m_connection.isOpen() && !m_unsyncedPages.contains(saved.path))
        m_unsyncedPages.append(saved.path);
    succeed();
}

void FreePOP::DeleteMessage() {
    if (!beginOperation())
        return;
    const auto done = qScopeGuard([this] { endOperation(); });

    if (m_current == 0) {
        fail(NoCurrentMessage, pop3text::noCurrentMessage());
        return;
    }
    if (!requireOpenLink())
        return;
    Pop3Failure failure;
    const Pop3CommandPtr dele = m_pipeline.send("DELE " + QByteArray::number(m_current),
                                                Pop3Command::Reply::Status, failure, m_current);
    if (!dele) {
        fail(failure);
        return;
    }
    // The reply is waited for only when the outcome is asked for before the next operation: a
    // scan that goes on with the next message need not wait a round trip per deletion.
    succeed();
    m_deletions.push_back(dele);
    m_unsettledDelete = dele;
    m_unsettledDeadline = operationDeadline();
}

// Waits for the reply to the last DELE and makes its outcome the operation's, as if
// DeleteMessage had waited for it.
void FreePOP::settleDelete() {
    if (!m_unsettledDelete || m_busy)
        return;
    const Pop3CommandPtr dele = std::exchange(m_unsettledDelete, nullptr);
    m_busy = true;
    const auto done = qScopeGuard([this] { endOperation(); });
    Pop3Failure failure = m_pipeline.waitFor(*dele, m_unsettledDeadline);
    if (!failure.failed())
        failure = dele->failure;
    if (failure.failed()) {
        fail(failure);
        return;
    }
    if (!dele->positive) {
        fail(CommandRefused, tr("%1 refused to delete message %2: %3")
                                 .arg(m_connection.server(), QString::number(dele->number),
                                      pop3text::serverWords(dele->statusText)));
        return;
    }
    succeed();
}

int FreePOP::ErrorCode() {
    settleDelete();
    return m_error;
}

QString FreePOP::errorString() {
    settleDelete();
    return m_errorString;
}

void FreePOP::Disconnect() {
    if (!beginOperation())
        return;
    const auto done = qScopeGuard([this] {
        closeLink();
        endOperation();
    });

    switch (m_connection.state()) {
    case Pop3Connection::State::None:
    case Pop3Connection::State::Connecting:
    case Pop3Connection::State::Securing:
        succeed();
        return;
    case Pop3Connection::State::Lost:
        fail(ConnectionLost,
             tr("The connection to %1 was lost (%2); messages marked for deletion, if any, stay "
                "on the server.")
                 .arg(m_connection.server(), m_connection.lostReason()));
        return;
    case Pop3Connection::State::Open:
        break;
    }
    const Pop3Deadline deadline = operationDeadline();
    // The archived pages are on disk for certain before their messages leave the server.
    if (!syncSavedPages(deadline))
        return;
    // A message asked for ahead is not wanted any more; its reply is read past.
    m_pipeline.forgetAhead();
    // QUIT is what makes the deletions happen, so it goes out only once every earlier reply has
    // been read and was in step: a reply that breaks the framing, or data nobody asked for, drops
    // the connection instead, and the server then deletes nothing.
    Pop3Failure failure = m_pipeline.waitForAll(deadline);
    if (failure.failed()) {
        fail(failure);
        return;
    }
    if (!m_deletions.empty() && !confirmInStep(deadline))
        return;
    if (!requireOpenLink())
        return;
    const Pop3CommandPtr quit =
        m_pipeline.send("QUIT", Pop3Command::Reply::Status, failure, 0, Pop3Pipeline::Send::Alone);
    if (!quit) {
        fail(failure);
        return;
    }
    failure = m_pipeline.waitFor(*quit, deadline);
    if (!failure.failed())
        failure = quit->failure;
    if (failure.failed()) {
        fail(failure);
        return;
    }
    if (!quit->positive) {
        fail(CommandRefused,
             tr("%1 reported a problem at log-out: %2")
                 .arg(m_connection.server(), pop3text::serverWords(quit->statusText)));
        return;
    }
    succeed();
}

// Before the deletions are carried out: STAT, sent alone. Its answer must be "+OK <count> <size>"
// with the count of the mailbox, with or without the messages marked, a shape no other reply of
// the session has, and nothing may be left over after it. Everything the server sent before that
// answer is read by then, so a reply stream that went out of step shows here however slowly it came
// in: as a line that is not that answer (the answer of DELE, of RETR, a stray line) or as data left
// over. Without this, the rest of a reply taken for another could still be on its way when QUIT
// goes out: a server that does not dot-stuff lets a message end its own reply, and a server that
// sends a reply twice shifts every reply after it by one.
bool FreePOP::confirmInStep(const Pop3Deadline& deadline) {
    Pop3Failure failure;
    const Pop3CommandPtr stat =
        m_pipeline.send("STAT", Pop3Command::Reply::Status, failure, 0, Pop3Pipeline::Send::Alone);
    if (stat)
        failure = m_pipeline.waitFor(*stat, deadline);
    if (!failure.failed())
        failure = stat->failure;
    if (!failure.failed()) {
        const QList<QByteArray> words = stat->statusText.split(' ');
        bool countOk = false;
        bool sizeOk = false;
        const int count = words.value(0).toInt(&countOk);
        words.value(1).toLongLong(&sizeOk);
        // Servers count the messages without the ones marked, as they should, or with them.
        const auto marked =
            std::count_if(m_deletions.cbegin(), m_deletions.cend(), [](const Pop3CommandPtr& dele) {
                return dele->done && dele->positive && !dele->failure.failed();
            });
        const bool countExpected = count == m_messageCount || count == m_messageCount - marked;
        if (!stat->positive || !countOk || !sizeOk || !countExpected) {
            failure = {ProtocolError,
                       tr("%1 gave an answer out of step before the log-out: %2. Messages "
                          "marked for deletion stay on the server.")
                           .arg(m_connection.server(), pop3text::serverWords(stat->statusText))};
            m_connection.drop(pop3text::notPop3Reason());
        }
    }
    if (!failure.failed() && m_pipeline.unread() > 0) {
        failure = {ProtocolError, pop3text::unaskedData(m_connection.server())};
        m_connection.drop(pop3text::unaskedDataReason());
    }
    if (failure.failed()) {
        fail(failure);
        return false;
    }
    return true;
}

bool FreePOP::beginOperation() {
    // The outcome of a deletion not asked for is passed over; its reply is read in turn.
    if (!m_busy)
        m_unsettledDelete.reset();
    if (m_busy) {
        // A window event handler called in while an operation waits for the server; the
        // connection serves one operation at a time.
        fail(Busy, tr("The mail component is busy with another operation."));
        return false;
    }
    m_busy = true;
    return true;
}

bool FreePOP::requireOpenLink() {
    switch (m_connection.state()) {
    case Pop3Connection::State::Open:
        return true;
    case Pop3Connection::State::Lost:
        fail(ConnectionLost, m_connection.lostText());
        return false;
    case Pop3Connection::State::None:
    case Pop3Connection::State::Connecting:
    case Pop3Connection::State::Securing:
        break;
    }
    fail(NotConnected, tr("Not connected to a mail server."));
    return false;
}

Pop3Deadline FreePOP::operationDeadline() const {
    const int seconds = qMax(1, m_timeout);
    return {m_waiter->after(std::chrono::seconds(seconds)), seconds};
}

QFuture<ParsedResult> FreePOP::startParse(const QByteArray& raw) {
    return runInBackground(m_worker.get(), [raw, analyzer = m_analyzer,
                                            discarded = std::exchange(m_discarded, {})]() mutable {
        discarded.clear();
        ParsedResult result;
        result.message = parseMessage(raw);
        if (analyzer)
            result.analysis = analyzer(result.message);
        return result;
    });
}

// Waits for the parse of the current message; false, with the operation failed, when the program
// is quitting.
bool FreePOP::waitForWork(const QFuture<ParsedResult>& parse) {
    if (awaitFuture(parse, *m_waiter))
        return true;
    fail(Interrupted, pop3text::quitting());
    return false;
}

// Flushes the pages saved in this session to disk, on the worker, before the log-out removes
// their messages from the server. On failure the log-out does not happen: the operation fails
// and the connection is dropped, so the messages stay on the server.
bool FreePOP::syncSavedPages(const Pop3Deadline& deadline) {
    if (m_unsyncedPages.isEmpty())
        return true;
    const QFuture<bool> flushed = runInBackground(
        m_worker.get(), [pages = m_unsyncedPages] { return flushArchivePages(pages); });
    if (!awaitFuture(flushed, *m_waiter, deadline.at)) {
        if (!m_waiter->hasExpired(deadline.at)) {
            fail(Interrupted, pop3text::quitting());
        } else {
            fail(TimedOut, tr("The archived messages could not be written to disk within %1 "
                              "seconds; messages marked for deletion stay on the server.")
                               .arg(deadline.seconds));
        }
        m_connection.drop(tr("the archived messages were not on disk in time"));
        return false;
    }
    if (!flushed.result()) {
        fail(FileWriteFailed, tr("The archived messages could not be written to disk; messages "
                                 "marked for deletion stay on the server."));
        m_connection.drop(tr("the archived messages could not be written to disk"));
        return false;
    }
    m_unsyncedPages.clear();
    return true;
}

void FreePOP::closeLink() {
    m_connection.close();
    m_pipeline.reset();
    m_capabilities.clear();
    m_unsyncedPages.clear();
    m_messageCount = 0;
    m_uniqueIds.clear();
    m_deletions.clear();
    clearCurrent();
}

void FreePOP::clearCurrent() {
    m_current = 0;
    // A small message is freed by the next parse on the worker: it was made there, and freeing it
    // there keeps its memory in the worker's heap instead of contending for it from this thread. A
    // large one goes at once, so that no two large messages are ever held.
    Discarded old{std::exchange(m_raw, QByteArray()), std::exchange(m_parse, {}),
                  std::exchange(m_message, ParsedMessage()), std::exchange(m_analysis, nullptr)};
    m_parsed = false;
    if (!old.raw.isEmpty() && old.raw.size() <= kPageOnWorker)
        m_discarded.push_back(std::move(old));
}

void FreePOP::succeed() {
    m_error = NoError;
    m_errorString.clear();
}

void FreePOP::fail(Error error, const QString& text) {
    m_error = error;
    m_errorString = text;
    // A server may echo what it was sent.
    if (!m_password.isEmpty())
        m_errorString.replace(m_password, QStringLiteral("***"));
    if (m_tokens) {
        for (const QString& secret : m_tokens->secrets()) {
            if (!secret.isEmpty())
                m_errorString.replace(secret, QStringLiteral("***"));
        }
    }
}
