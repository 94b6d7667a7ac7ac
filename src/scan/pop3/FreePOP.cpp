#include "scan/pop3/FreePOP.h"

#include "scan/archivepagefile.h"
#include "scan/pop3/pop3transport.h"
#include "scan/pop3/serveraddress.h"
#include "scan/pop3/tlsmemory.h"
#include "scan/pop3/tlstrust.h"
#include "scan/sparefiles.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QScopeGuard>
#include <QThreadPool>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>

namespace {

// Server texts quoted in error strings are cut to this length.
constexpr qsizetype kMaxQuotedText = 200;

// Pages of messages larger than this are written on the worker thread, so the window keeps
// answering while a large message is escaped and written; smaller ones take less time than the
// hand-over.
constexpr qsizetype kPageOnWorker = 256 * 1024;

// From a server with PIPELINING, up to this many messages are asked for ahead of the current one;
// beyond the first, only while their listed sizes add up to no more than kAheadBytes.
constexpr qsizetype kAheadDepth = 128;
constexpr qsizetype kAheadBytes = 1024 * 1024;
constexpr qsizetype kAheadSlack = 64 * 1024;

bool hasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) ||
           text.contains(QChar(0));
}

} // namespace

// A command of the open session: sent, or waiting its turn; then its reply, or the failure that
// took its place.
struct FreePOP::Command {
    QByteArray line;
    Reply kind = Reply::Status;
    int number = 0; // the message number of RETR and DELE
    // RETR asked for ahead: a bound on the message drawn from its listed size, and whether the
    // message broke it. A server whose listed sizes are wrong cannot make the messages asked for
    // ahead pile up; such a message is simply asked for again when it is wanted.
    qsizetype sizeBound = -1;
    bool overBound = false;
    // Sent only once every earlier reply has been read, also to a server with PIPELINING.
    bool alone = false;
    bool sent = false;
    bool armed = false; // the reader expects this command's reply
    bool done = false;
    bool positive = false;
    QByteArray statusText;
    QByteArray body;
    Error error = NoError; // set when no usable reply came (message too large, connection lost...)
    QString errorText;
    JobPtr parse; // RETR: the parse of the message, started when its last line came in
};

// Work on the worker thread and what it found.
struct FreePOP::Job {
    std::atomic<bool> done{false};
    // Set while the window's thread waits for this job: only then does the worker wake it when
    // done. Most jobs end before they are wanted, and a wake-up for each would cost both threads.
    std::atomic<bool> awaited{false};
    ParsedMessage parsed;
    std::shared_ptr<const MessageAnalysis> analysis;
    QString failure; // empty when the work succeeded
    // A page written on the worker: the file it went to.
    QString savedPath;
};

FreePOP::FreePOP(QObject* parent)
    : QObject(parent)
    , m_worker(std::make_unique<QThreadPool>()) {
    m_worker->setMaxThreadCount(1);
    // Done once the window's thread is idle, so that the first log-in does not wait for it.
    QTimer::singleShot(0, this, [] { preparePop3Transport(); });
}

FreePOP::~FreePOP() {
    // Without QUIT: deletions marked in an unfinished session do not happen.
    if (m_transport)
        m_transport->abort();
    // A job still running reports to this object when it ends.
    m_worker->waitForDone();
}

void FreePOP::setLimits(const Pop3Limits& limits) {
    m_reader.setLimits(limits);
}

void FreePOP::setAnalyzer(MessageAnalyzer analyzer) {
    m_analyzer = std::move(analyzer);
}

QString FreePOP::HeaderValue(const QString& name) const {
    return m_message.header(name);
}

bool FreePOP::hasCapability(QStringView name) const {
    for (const QString& line : m_capabilities) {
        const QStringView word = QStringView(line).left(line.indexOf(QLatin1Char(' ')));
        if (word.compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

bool FreePOP::isEncrypted() const {
    return m_link == Link::Open && m_transport && m_transport->isEncrypted();
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
    if (hasLineBreak(m_username) || hasLineBreak(m_password)) {
        // Sent as they are, these would let the text after the break pass as a command.
        fail(BadArgument, tr("The login name or the password contains a line break."));
        return;
    }

    const QDeadlineTimer deadline = operationDeadline();
    if (!openLink(deadline))
        return;

    if (!exchange(QByteArray(), Reply::Status, deadline))
        return;
    if (!m_reader.isPositive()) {
        fail(ConnectionFailed,
             tr("%1 refused the connection: %2").arg(m_connectedTo, serverText()));
        return;
    }
    if (!negotiateTls(deadline))
        return;

    if (!exchange("USER " + m_username.toUtf8(), Reply::Status, deadline))
        return;
    if (m_reader.isPositive()) {
        if (!exchange("PASS " + m_password.toUtf8(), Reply::Status, deadline))
            return;
    }
    if (!m_reader.isPositive()) {
        fail(LoginRefused, tr("%1 refused the log-in: %2").arg(m_connectedTo, serverText()));
        return;
    }

    if (!exchange("STAT", Reply::Status, deadline))
        return;
    if (!m_reader.isPositive()) {
        fail(CommandRefused,
             tr("%1 refused to count the messages: %2").arg(m_connectedTo, serverText()));
        return;
    }
    // "+OK <count> <size>"
    const QByteArray count = m_reader.statusText().split(' ').value(0);
    bool ok = !count.isEmpty() && std::all_of(count.cbegin(), count.cend(),
                                              [](char c) { return c >= '0' && c <= '9'; });
    const int messages = ok ? count.toInt(&ok) : 0;
    if (!ok) {
        fail(ProtocolError, tr("%1 gave no message count: %2").arg(m_connectedTo, serverText()));
        return;
    }
    m_messageCount = messages;
    m_pipelining = hasCapability(u"PIPELINING");
    m_sizes.clear();
    // Asking ahead is bounded by bytes, so the sizes of the messages are wanted first. A server
    // that will not list them gets no more than one message asked for ahead.
    if (m_pipelining && messages > 1) {
        if (!exchange("LIST", Reply::MultiLine, deadline))
            return;
        if (m_reader.isPositive())
            m_sizes = parseMessageSizes(m_reader.takeBody(), messages);
    }
    succeed();
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
    CommandPtr retr;
    // Messages asked for ahead of this one are not wanted any more; their replies are read past.
    const auto ahead = std::find_if(m_ahead.begin(), m_ahead.end(), [n](const CommandPtr& command) {
        return command->number == n;
    });
    if (ahead != m_ahead.end()) {
        retr = std::move(*ahead);
        m_ahead.erase(m_ahead.begin(), ahead + 1);
    }
    // A reply that failed is reported as itself, also when the connection is gone since.
    if (!(retr && retr->done && retr->error != NoError) && !requireOpenLink())
        return;
    if (!retr) {
        retr = send("RETR " + QByteArray::number(n), Reply::MultiLine, n);
        if (!retr)
            return;
    }
    const QDeadlineTimer deadline = operationDeadline();
    if (!waitForReply(*retr, deadline))
        return;
    // Larger than the server said: asked for again, now without a bound beyond the limits.
    if (retr->overBound) {
        retr = send("RETR " + QByteArray::number(n), Reply::MultiLine, n);
        if (!retr || !waitForReply(*retr, deadline))
            return;
    }
    if (retr->error != NoError) {
        fail(retr->error, retr->errorText);
        fetchAhead(n);
        return;
    }
    if (!retr->positive) {
        fail(CommandRefused,
             tr("%1 refused message %2: %3")
                 .arg(m_connectedTo, QString::number(n), serverText(retr->statusText)));
        fetchAhead(n);
        return;
    }
    m_raw = std::move(retr->body);
    m_parse = retr->parse;
    if (!m_parse)
        m_parse = startParse(m_raw);
    m_current = n;
    succeed();
    fetchAhead(n);
}

void FreePOP::CompleteFetch() {
    if (!beginOperation())
        return;
    const auto done = qScopeGuard([this] { endOperation(); });

    if (m_current == 0) {
        fail(NoCurrentMessage, tr("No message has been fetched."));
        return;
    }
    if (!m_parsed) {
        if (!waitForJob(m_parse, QDeadlineTimer(QDeadlineTimer::Forever))) {
            fail(Interrupted, tr("The program is quitting."));
            return;
        }
        m_message = m_parse->parsed;
        m_analysis = m_parse->analysis;
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
        fail(NoCurrentMessage, tr("No message has been fetched."));
        return;
    }
    // The page needs the decoded header fields even when CompleteFetch was not called; the reads
    // stay as they are.
    if (!m_parsed && !waitForJob(m_parse, QDeadlineTimer(QDeadlineTimer::Forever))) {
        fail(Interrupted, tr("The program is quitting."));
        return;
    }
    const ParsedMessage message = m_parsed ? m_message : m_parse->parsed;

    SavedPage saved;
    if (m_raw.size() > kPageOnWorker) {
        const JobPtr job = startJob([path, message, raw = m_raw, note](Job& self) {
            const SavedPage page = writeArchivePage(path, message, raw, -1, note);
            self.savedPath = page.path;
            self.failure = page.failure;
        });
        if (!waitForJob(job, QDeadlineTimer(QDeadlineTimer::Forever))) {
            fail(Interrupted, tr("The program is quitting."));
            return;
        }
        saved = {job->savedPath, job->failure};
    } else {
        if (!m_spares)
            m_spares = std::make_unique<SpareFiles>();
        saved = writeArchivePage(path, message, m_raw,
                                 m_spares->take(QFileInfo(path).absolutePath()), note);
    }
    if (!saved.failure.isEmpty()) {
        fail(FileWriteFailed, tr("Could not write \"%1\": %2").arg(path, saved.failure));
        return;
    }
    m_savedPath = saved.path;
    if (m_link == Link::Open && !m_unsyncedPages.contains(saved.path))
        m_unsyncedPages.append(saved.path);
    succeed();
}

void FreePOP::DeleteMessage() {
    if (!beginOperation())
        return;
    const auto done = qScopeGuard([this] { endOperation(); });

    if (m_current == 0) {
        fail(NoCurrentMessage, tr("No message has been fetched."));
        return;
    }
    if (!requireOpenLink())
        return;
    const CommandPtr dele = send("DELE " + QByteArray::number(m_current), Reply::Status, m_current);
    if (!dele)
        return;
    // The reply is waited for only when the outcome is asked for before the next operation: a
    // scan that goes on with the next message need not wait a round trip per deletion.
    succeed();
    m_unsettledDelete = dele;
    m_unsettledDeadline = operationDeadline();
}

// Waits for the reply to the last DELE and makes its outcome the operation's, as if
// DeleteMessage had waited for it.
void FreePOP::settleDelete() {
    if (!m_unsettledDelete || m_busy)
        return;
    const CommandPtr dele = std::exchange(m_unsettledDelete, nullptr);
    m_busy = true;
    const auto done = qScopeGuard([this] { endOperation(); });
    if (!waitForReply(*dele, m_unsettledDeadline))
        return;
    if (dele->error != NoError) {
        fail(dele->error, dele->errorText);
        return;
    }
    if (!dele->positive) {
        fail(CommandRefused,
             tr("%1 refused to delete message %2: %3")
                 .arg(m_connectedTo, QString::number(dele->number), serverText(dele->statusText)));
        return;
    }
    succeed();
}

int FreePOP::ErrorCode() const {
    const_cast<FreePOP*>(this)->settleDelete();
    return m_error;
}

QString FreePOP::errorString() const {
    const_cast<FreePOP*>(this)->settleDelete();
    return m_errorString;
}

void FreePOP::Disconnect() {
    if (!beginOperation())
        return;
    const auto done = qScopeGuard([this] {
        closeLink();
        endOperation();
    });

    switch (m_link) {
    case Link::None:
    case Link::Connecting:
    case Link::Securing:
        succeed();
        return;
    case Link::Lost:
        fail(ConnectionLost,
             tr("The connection to %1 was lost (%2); messages marked for deletion, if any, stay "
                "on the server.")
                 .arg(m_connectedTo, m_lostReason));
        return;
    case Link::Open:
        break;
    }
    const QDeadlineTimer deadline = operationDeadline();
    // The archived pages are on disk for certain before their messages leave the server.
    if (!syncSavedPages(deadline))
        return;
    // A message asked for ahead is not wanted any more; its reply is read past.
    forgetAhead();
    // QUIT is what makes the deletions happen, so it goes out only once every earlier reply has
    // been read and was in step: a reply that breaks the framing, or data nobody asked for, drops
    // the connection instead, and the server then deletes nothing.
    if (!m_queue.empty() && !waitForReply(*m_queue.back(), deadline))
        return;
    if (!requireOpenLink())
        return;
    const CommandPtr quit = send("QUIT", Reply::Status, 0, Send::Alone);
    if (!quit || !waitForReply(*quit, deadline))
        return;
    if (quit->error != NoError) {
        fail(quit->error, quit->errorText);
        return;
    }
    if (!quit->positive) {
        fail(CommandRefused, tr("%1 reported a problem at log-out: %2")
                                 .arg(m_connectedTo, serverText(quit->statusText)));
        return;
    }
    succeed();
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
    switch (m_link) {
    case Link::Open:
        return true;
    case Link::Lost:
        fail(ConnectionLost,
             tr("The connection to %1 was lost: %2").arg(m_connectedTo, m_lostReason));
        return false;
    case Link::None:
    case Link::Connecting:
    case Link::Securing:
        break;
    }
    fail(NotConnected, tr("Not connected to a mail server."));
    return false;
}

bool FreePOP::openLink(const QDeadlineTimer& deadline) {
    const bool portValid = m_port >= 1 && m_port <= 65535;
    const std::optional<ServerAddress> address =
        parseServerAddress(m_hostname, portValid ? static_cast<quint16>(m_port) : 0);
    if (!address || address->port == 0) {
        fail(ConnectionFailed, tr("\"%1\" is not a valid mail server.").arg(m_hostname));
        return false;
    }
    m_connectedTo = (address->host.contains(QLatin1Char(':'))
                         ? QLatin1Char('[') + address->host + QLatin1Char(']')
                         : address->host) +
                    QLatin1Char(':') + QString::number(address->port);

    m_reader.reset();
    m_transport = makePop3Transport(readTrustedCertificates(m_certificatesFolder));
    connect(m_transport.get(), &Pop3Transport::opened, this, &FreePOP::onOpened);
    connect(m_transport.get(), &Pop3Transport::encrypted, this, &FreePOP::onEncrypted);
    connect(m_transport.get(), &Pop3Transport::readyRead, this, &FreePOP::onReadyRead);
    connect(m_transport.get(), &Pop3Transport::closed, this, &FreePOP::onClosed);
    m_link = Link::Connecting;
    m_transport->open(*address);

    while (m_link == Link::Connecting) {
        if (deadline.hasExpired()) {
            fail(TimedOut, tr("Could not connect to %1 within %2 seconds.")
                               .arg(m_connectedTo, QString::number(timeoutSeconds())));
            return false;
        }
        if (!waitForEvent(deadline)) {
            fail(Interrupted, tr("The program is quitting."));
            return false;
        }
    }
    if (m_link != Link::Open) {
        if (m_transport->tlsFault() != TlsFault::None)
            failTls(m_transport->tlsFault(), m_lostReason);
        else
            fail(ConnectionFailed,
                 tr("Could not connect to %1: %2").arg(m_connectedTo, m_lostReason));
        return false;
    }
    return true;
}

// CAPA, after the greeting and again after STLS. A server that does not know the command answers
// -ERR and simply has no capabilities.
bool FreePOP::askCapabilities(const QDeadlineTimer& deadline) {
    m_capabilities.clear();
    if (!exchange("CAPA", Reply::MultiLine, deadline)) {
        if (m_error == MessageTooLarge || m_error == LineTooLong) {
            fail(ProtocolError, tr("%1 sent an answer that is not POP3.").arg(m_connectedTo));
            dropLink(tr("the server's answer was not POP3"));
        }
        return false;
    }
    if (!m_reader.isPositive())
        return true;
    const QList<QByteArray> lines = m_reader.takeBody().split('\n');
    for (const QByteArray& line : lines) {
        const QString text = QString::fromUtf8(line).trimmed();
        if (!text.isEmpty())
            m_capabilities.append(text);
    }
    return true;
}

// Switches a connection that started in the clear to TLS when the server offers STLS. Nothing of
// the login has been sent yet, so a failure here costs no secret; and once STLS was offered there
// is no carrying on in the clear, since an attacker on the way could make the upgrade fail on
// purpose. For the same reason a server that must encrypt (a "pop3+stls://" cell) or that has
// spoken TLS before is not logged into when its offer of STLS is missing: an attacker could have
// taken it out of the capabilities, or answered CAPA with -ERR.
bool FreePOP::negotiateTls(const QDeadlineTimer& deadline) {
    if (!askCapabilities(deadline))
        return false;
    // openLink accepted the cell; the host and the scheme do not depend on the default port.
    const std::optional<ServerAddress> address = parseServerAddress(m_hostname, 0);
    const QString host = address ? address->host : QString();
    const bool required = address && address->requireStls;
    // The session is secure either way; a server that could not be remembered is simply met
    // afresh next time.
    const auto rememberTls = [this, &host] {
        if (!m_tlsMemoryFile.isEmpty())
            TlsMemory(m_tlsMemoryFile).remember(host);
    };
    if (m_transport->isEncrypted()) {
        rememberTls();
        return true;
    }
    if (!hasCapability(u"STLS")) {
        if (required) {
            fail(EncryptionMissing,
                 tr("%1 does not offer encryption (STLS), though the account asks for it with "
                    "\"pop3+stls://\". The password was not sent.")
                     .arg(m_connectedTo));
            return false;
        }
        if (!m_tlsMemoryFile.isEmpty() && TlsMemory(m_tlsMemoryFile).remembers(host)) {
            fail(EncryptionMissing,
                 tr("%1 did not offer encryption (STLS) this time, though it did before, so "
                    "someone on the way may be removing it. The password was not sent. If your "
                    "provider really stopped offering encryption, delete this account and add it "
                    "again.")
                     .arg(m_connectedTo));
            return false;
        }
        return true;
    }

    if (!exchange("STLS", Reply::Status, deadline))
        return false;
    if (!m_reader.isPositive()) {
        if (required)
            fail(EncryptionMissing,
                 tr("%1 refused to start encryption (STLS), though the account asks for it with "
                    "\"pop3+stls://\": %2. The password was not sent.")
                     .arg(m_connectedTo, serverText()));
        else
            fail(StlsRefused, tr("%1 offers encryption (STLS) but refused to start it: %2. The "
                                 "password was not sent.")
                                  .arg(m_connectedTo, serverText()));
        return false;
    }
    // Anything after the +OK came in the clear and could have been put there by someone on the
    // way, to pass as the answer to a command sent encrypted.
    if (m_reader.pendingSize() > 0 || !m_transport->startTls()) {
        fail(ProtocolError,
             tr("%1 sent data in the clear after agreeing to encryption.").arg(m_connectedTo));
        dropLink(tr("the server sent data in the clear after agreeing to encryption"));
        return false;
    }
    if (!secureLink(deadline))
        return false;
    rememberTls();
    // What the server said before the upgrade cannot be relied on.
    return askCapabilities(deadline);
}

bool FreePOP::secureLink(const QDeadlineTimer& deadline) {
    m_link = Link::Securing;
    while (m_link == Link::Securing) {
        if (deadline.hasExpired()) {
            fail(TimedOut, tr("Could not set up encryption with %1 within %2 seconds.")
                               .arg(m_connectedTo, QString::number(timeoutSeconds())));
            dropLink(tr("encryption did not come about in time"));
            return false;
        }
        if (!waitForEvent(deadline)) {
            fail(Interrupted, tr("The program is quitting."));
            dropLink(tr("the program is quitting"));
            return false;
        }
    }
    if (m_link != Link::Open) {
        // However the connection ended meanwhile, the upgrade failed.
        failTls(m_transport ? m_transport->tlsFault() : TlsFault::HandshakeFailed, m_lostReason);
        return false;
    }
    return true;
}

void FreePOP::failTls(TlsFault fault, const QString& reason) {
    switch (fault) {
    case TlsFault::Untrusted: {
        QString text = tr("The certificate of %1 is not trusted (%2). The password was not sent.")
                           .arg(m_connectedTo, reason);
        if (!m_certificatesFolder.isEmpty())
            text += QLatin1Char(' ') +
                    tr("To trust this server, place its certificate in \"%1\"; to trust the "
                       "authority that issued it for every server, place the authority's "
                       "certificate in \"%2\".")
                        .arg(m_certificatesFolder,
                             QDir(m_certificatesFolder).filePath(QStringLiteral("authorities")));
        fail(CertificateUntrusted, text);
        return;
    }
    case TlsFault::NameMismatch:
        fail(HostNameMismatch, tr("The certificate of %1 is made out to another server (%2). The "
                                  "password was not sent.")
                                   .arg(m_connectedTo, reason));
        return;
    case TlsFault::HandshakeFailed:
    case TlsFault::None:
        break;
    }
    fail(TlsHandshakeFailed,
         tr("No encrypted connection to %1 came about (%2). The password was not sent.")
             .arg(m_connectedTo, reason));
}

bool FreePOP::exchange(const QByteArray& command, Reply kind, const QDeadlineTimer& deadline) {
    if (kind == Reply::MultiLine)
        m_reader.expectMultiLine();
    else
        m_reader.expectStatus();
    if (!command.isEmpty()) {
        // Replies are read in step with the commands; a line that came before this command was
        // asked for would be taken as its answer.
        if (m_reader.pendingSize() > 0) {
            fail(ProtocolError, tr("%1 sent data that was not asked for.").arg(m_connectedTo));
            dropLink(tr("the server sent data that was not asked for"));
            return false;
        }
        m_transport->write(command + "\r\n");
    }

    for (;;) {
        switch (m_reader.advance()) {
        case Pop3ReplyReader::Outcome::Complete:
            return true;
        case Pop3ReplyReader::Outcome::Failed:
            if (m_reader.lostSync()) {
                fail(ProtocolError, readerFaultText(ProtocolError));
                dropLink(tr("the server's answer was not POP3"));
            } else {
                const Error error = m_reader.fault() == Pop3ReplyReader::Fault::LineTooLong
                                        ? LineTooLong
                                        : MessageTooLarge;
                fail(error, readerFaultText(error));
            }
            return false;
        case Pop3ReplyReader::Outcome::NeedMore:
            break;
        }
        if (m_link == Link::Lost) {
            fail(ConnectionLost,
                 tr("The connection to %1 was lost: %2").arg(m_connectedTo, m_lostReason));
            return false;
        }
        if (deadline.hasExpired()) {
            fail(TimedOut, tr("%1 did not answer within %2 seconds.")
                               .arg(m_connectedTo, QString::number(timeoutSeconds())));
            // A late answer would be taken for the answer to the next command.
            dropLink(tr("the server did not answer in time"));
            return false;
        }
        if (!waitForEvent(deadline)) {
            fail(Interrupted, tr("The program is quitting."));
            dropLink(tr("the program is quitting"));
            return false;
        }
    }
}

QString FreePOP::readerFaultText(int error) const {
    switch (error) {
    case MessageTooLarge:
        return tr("The message is larger than %1 bytes; it stays on the server.")
            .arg(m_reader.limits().maxMessageSize);
    case LineTooLong:
        return tr("The message has a line longer than %1 bytes; it stays on the server.")
            .arg(m_reader.limits().maxMessageLine);
    default:
        break;
    }
    if (m_reader.fault() == Pop3ReplyReader::Fault::BareLineFeed)
        return tr("%1 ends its lines with LF alone instead of CR LF, so where its messages end "
                  "cannot be told safely. Nothing is deleted from it.")
            .arg(m_connectedTo);
    return tr("%1 sent an answer that is not POP3.").arg(m_connectedTo);
}

// Puts a command of the open session in line and sends it as soon as it may go. Null, with the
// operation failed, when the server has sent something nobody asked for: it would be taken for
// this command's reply.
FreePOP::CommandPtr FreePOP::send(const QByteArray& line, Reply kind, int number, Send when) {
    if (m_queue.empty() && m_reader.pendingSize() > 0) {
        fail(ProtocolError, tr("%1 sent data that was not asked for.").arg(m_connectedTo));
        dropLink(tr("the server sent data that was not asked for"));
        return nullptr;
    }
    auto command = std::make_shared<Command>();
    command->line = line;
    command->kind = kind;
    command->number = number;
    command->alone = when == Send::Alone;
    m_queue.push_back(command);
    sendQueued();
    return command;
}

// Sends the commands in line that may go now: all of them to a server with PIPELINING, otherwise
// the first one once every earlier reply has been read.
void FreePOP::sendQueued() {
    if (m_link != Link::Open)
        return;
    QByteArray out;
    bool outstanding = false;
    for (const CommandPtr& command : m_queue) {
        if (command->sent) {
            outstanding = true;
            continue;
        }
        if (outstanding && (!m_pipelining || command->alone))
            break;
        if (!outstanding && m_reader.pendingSize() > 0) {
            // Every reply asked for has been read, and there is more.
            command->done = true;
            command->error = ProtocolError;
            command->errorText = tr("%1 sent data that was not asked for.").arg(m_connectedTo);
            dropLink(tr("the server sent data that was not asked for"));
            return;
        }
        out += command->line + "\r\n";
        command->sent = true;
        outstanding = true;
    }
    if (!out.isEmpty())
        m_transport->write(out);
}

// Reads the replies that have come in completely, in the order the commands went out. A message
// that is complete goes to the worker to be parsed at once.
void FreePOP::readReplies() {
    while (!m_queue.empty() && m_queue.front()->sent && m_link == Link::Open) {
        Command& command = *m_queue.front();
        if (!command.armed) {
            if (command.kind == Reply::MultiLine)
                m_reader.expectMultiLine(command.sizeBound);
            else
                m_reader.expectStatus();
            command.armed = true;
        }
        const Pop3ReplyReader::Outcome outcome = m_reader.advance();
        if (outcome == Pop3ReplyReader::Outcome::NeedMore)
            return;
        if (outcome == Pop3ReplyReader::Outcome::Complete) {
            command.positive = m_reader.isPositive();
            command.statusText = m_reader.statusText();
            if (command.kind == Reply::MultiLine && command.positive) {
                command.body = m_reader.takeBody();
                // Parsed only when someone still waits for it (not a message given up).
                if (m_queue.front().use_count() > 1)
                    command.parse = startParse(command.body);
            }
        } else if (m_reader.lostSync()) {
            command.error = ProtocolError;
            command.errorText = readerFaultText(ProtocolError);
        } else if (m_reader.fault() == Pop3ReplyReader::Fault::MessageTooLarge &&
                   command.sizeBound >= 0) {
            command.overBound = true;
        } else {
            command.error = m_reader.fault() == Pop3ReplyReader::Fault::LineTooLong
                                ? LineTooLong
                                : MessageTooLarge;
            command.errorText = readerFaultText(command.error);
        }
        command.done = true;
        const bool lostSync = command.error == ProtocolError;
        m_queue.pop_front();
        if (lostSync) {
            // Where this reply ends, and so where the next begins, cannot be told.
            dropLink(tr("the server's answer was not POP3"));
            return;
        }
        sendQueued();
    }
}

// Waits until the command's reply has been read, or the connection failed. False, with the
// operation failed, when the time ran out or the program is quitting; every command still in line
// fails the same way, since its reply would come after the one that did not.
bool FreePOP::waitForReply(const Command& command, const QDeadlineTimer& deadline) {
    for (;;) {
        readReplies();
        if (command.done)
            return true;
        if (m_link != Link::Open) {
            fail(ConnectionLost,
                 tr("The connection to %1 was lost: %2").arg(m_connectedTo, m_lostReason));
            return false;
        }
        if (deadline.hasExpired()) {
            const QString text = tr("%1 did not answer within %2 seconds.")
                                     .arg(m_connectedTo, QString::number(timeoutSeconds()));
            fail(TimedOut, text);
            failQueued(TimedOut, text);
            // A late answer would be taken for the answer to the next command.
            dropLink(tr("the server did not answer in time"));
            return false;
        }
        if (!waitForEvent(deadline)) {
            fail(Interrupted, tr("The program is quitting."));
            failQueued(Interrupted, m_errorString);
            dropLink(tr("the program is quitting"));
            return false;
        }
    }
}

// Ends every command in line that has no reply yet with this failure.
void FreePOP::failQueued(Error error, const QString& text) {
    for (const CommandPtr& command : m_queue) {
        if (command->done)
            continue;
        command->done = true;
        command->error = error;
        command->errorText = text;
        // A server may echo what it was sent.
        if (!m_password.isEmpty())
            command->errorText.replace(m_password, QStringLiteral("***"));
    }
    m_queue.clear();
}

// The sizes in a LIST reply ("<number> <octets>" a line), by message number; a line that does
// not fit leaves its message's size unknown (-1).
std::vector<qsizetype> FreePOP::parseMessageSizes(const QByteArray& listing, int count) {
    std::vector<qsizetype> sizes(static_cast<size_t>(std::max(count, 0)), -1);
    for (const QByteArray& line : listing.split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        if (fields.size() < 2)
            continue;
        bool numberOk = false;
        bool sizeOk = false;
        const int number = fields.at(0).toInt(&numberOk);
        const qsizetype size = fields.at(1).toLongLong(&sizeOk);
        if (numberOk && sizeOk && number >= 1 && number <= count && size >= 0)
            sizes[static_cast<size_t>(number - 1)] = size;
    }
    return sizes;
}

// After message n, asks for the messages after it so that they come in while n is being looked
// at: only from a server that announced PIPELINING, and never past the last message.
void FreePOP::fetchAhead(int n) {
    if (!m_pipelining || m_link != Link::Open || n >= m_messageCount)
        return;
    // What was asked for ahead of another message than n is not wanted any more.
    if (!m_ahead.empty() && m_ahead.front()->number != n + 1)
        forgetAhead();
    // Stray data is for the next command the caller sends to find and report.
    if (m_queue.empty() && m_reader.pendingSize() > 0)
        return;
    // Small messages are asked for several at a time, so that the server sends them in one go
    // and each is parsed before the caller gets to it. What is asked for ahead is bounded by the
    // sizes the server listed: one message ahead always, more only while they and the current
    // message add up to no more than kAheadBytes, so a run of large messages never piles up in
    // memory. Without sizes, only the next message is asked for.
    const auto sizeOf = [this](int number) -> qsizetype {
        return number >= 1 && number <= qsizetype(m_sizes.size()) ? m_sizes[number - 1] : -1;
    };
    qsizetype held = m_raw.size();
    for (const CommandPtr& command : m_ahead)
        held += std::max<qsizetype>(sizeOf(command->number), 0);
    int next = m_ahead.empty() ? n + 1 : m_ahead.back()->number + 1;
    bool asked = false;
    while (next <= m_messageCount && qsizetype(m_ahead.size()) < kAheadDepth) {
        const qsizetype size = sizeOf(next);
        if (!m_ahead.empty() && (size < 0 || held + size > kAheadBytes))
            break;
        held += std::max<qsizetype>(size, 0);
        auto command = std::make_shared<Command>();
        command->line = "RETR " + QByteArray::number(next);
        command->kind = Reply::MultiLine;
        // Past the next message, each is held to about its listed size (line ends may be counted
        // differently); what is over is dropped as it comes in.
        if (!m_ahead.empty())
            command->sizeBound = 2 * size + kAheadSlack;
        command->number = next++;
        m_queue.push_back(command);
        m_ahead.push_back(std::move(command));
        asked = true;
    }
    // All in one write.
    if (asked)
        sendQueued();
}

// Gives up the messages asked for ahead: their replies are read past and thrown away, their parse
// results with them.
void FreePOP::forgetAhead() {
    m_ahead.clear();
}

FreePOP::JobPtr FreePOP::startJob(std::function<void(Job&)> work) {
    auto job = std::make_shared<Job>();
    m_worker->start([this, job, work = std::move(work)] {
        work(*job);
        // Sequentially consistent, as in waitForJob: either the waiter sees the job done or this
        // sees the waiter.
        job->done.store(true);
        // The object outlives its jobs: its destructor waits for them.
        if (job->awaited.load())
            QMetaObject::invokeMethod(
                this, [this] { wake(); }, Qt::QueuedConnection);
    });
    return job;
}

// Waits for a job of the worker; window events are handled meanwhile. False when the deadline
// passed or the program is quitting.
bool FreePOP::waitForJob(const JobPtr& job, const QDeadlineTimer& deadline) {
    while (!job->done.load(std::memory_order_acquire)) {
        job->awaited.store(true);
        if (job->done.load())
            break;
        if (deadline.hasExpired() || !waitForEvent(deadline))
            return false;
    }
    return true;
}

// Flushes the pages saved in this session to disk, on the worker, before the log-out removes
// their messages from the server. On failure the log-out does not happen: the operation fails
// and the connection is dropped, so the messages stay on the server.
bool FreePOP::syncSavedPages(const QDeadlineTimer& deadline) {
    if (m_unsyncedPages.isEmpty())
        return true;
    const JobPtr job = startJob([pages = m_unsyncedPages](Job& self) {
        if (!flushArchivePages(pages))
            self.failure = QStringLiteral("flush failed");
    });
    if (!waitForJob(job, deadline)) {
        const bool quitting = !deadline.hasExpired();
        fail(quitting ? Interrupted : TimedOut,
             quitting ? tr("The program is quitting.")
                      : tr("The archived messages could not be written to disk within %1 "
                           "seconds; messages marked for deletion stay on the server.")
                            .arg(timeoutSeconds()));
        dropLink(tr("the archived messages were not on disk in time"));
        return false;
    }
    if (!job->failure.isEmpty()) {
        fail(FileWriteFailed, tr("The archived messages could not be written to disk; messages "
                                 "marked for deletion stay on the server."));
        dropLink(tr("the archived messages could not be written to disk"));
        return false;
    }
    m_unsyncedPages.clear();
    return true;
}

bool FreePOP::waitForEvent(const QDeadlineTimer& deadline) {
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, [this, &loop] {
        m_woken = true;
        loop.quit();
    });
    if (!deadline.isForever())
        timer.start(std::chrono::ceil<std::chrono::milliseconds>(
            qMax(deadline.remainingTimeAsDuration(), std::chrono::nanoseconds(0))));
    m_woken = false;
    m_loop = &loop;
    loop.exec();
    m_loop = nullptr;
    // The loop also ends when the application quits; then nothing of ours woke it.
    return m_woken;
}

void FreePOP::wake() {
    if (m_loop) {
        m_woken = true;
        m_loop->quit();
    }
}

void FreePOP::dropLink(const QString& reason) {
    if (m_transport) {
        disconnect(m_transport.get(), nullptr, this, nullptr);
        m_transport->abort();
    }
    m_link = Link::Lost;
    m_lostReason = reason;
    failQueued(ConnectionLost, tr("The connection to %1 was lost: %2").arg(m_connectedTo, reason));
}

void FreePOP::closeLink() {
    if (m_transport) {
        disconnect(m_transport.get(), nullptr, this, nullptr);
        m_transport->abort();
        // Deleted later: this may run while the transport is still on the call stack.
        m_transport.release()->deleteLater();
    }
    m_link = Link::None;
    m_lostReason.clear();
    m_capabilities.clear();
    m_pipelining = false;
    m_sizes.clear();
    m_queue.clear();
    m_ahead.clear();
    m_unsyncedPages.clear();
    m_messageCount = 0;
    m_reader.reset();
    clearCurrent();
}

void FreePOP::clearCurrent() {
    m_current = 0;
    // A small message is freed by the next parse on the worker: it was made there, and freeing it
    // there keeps its memory in the worker's heap instead of contending for it from this thread. A
    // large one goes at once, so that no two large messages are ever held.
    Discarded old{std::exchange(m_raw, QByteArray()), std::exchange(m_parse, nullptr),
                  std::exchange(m_message, ParsedMessage()), std::exchange(m_analysis, nullptr)};
    m_parsed = false;
    if (!old.raw.isEmpty() && old.raw.size() <= kPageOnWorker)
        m_discarded.push_back(std::move(old));
}

FreePOP::JobPtr FreePOP::startParse(const QByteArray& raw) {
    return startJob(
        [raw, analyzer = m_analyzer, discarded = std::exchange(m_discarded, {})](Job& job) mutable {
            discarded.clear();
            job.parsed = parseMessage(raw);
            if (analyzer)
                job.analysis = analyzer(job.parsed);
        });
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
}

QString FreePOP::serverText() const {
    return serverText(m_reader.statusText());
}

QString FreePOP::serverText(const QByteArray& statusText) const {
    QString text = QString::fromUtf8(statusText.left(kMaxQuotedText));
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    return text.trimmed().isEmpty() ? tr("(no text)") : text.trimmed();
}

int FreePOP::timeoutSeconds() const {
    return qMax(1, m_timeout);
}

QDeadlineTimer FreePOP::operationDeadline() const {
    return QDeadlineTimer(std::chrono::seconds(timeoutSeconds()));
}

void FreePOP::onOpened() {
    if (m_link == Link::Connecting)
        m_link = Link::Open;
    wake();
}

void FreePOP::onReadyRead() {
    m_reader.append(m_transport->read());
    // Replies to commands in line are read as they come, between operations too.
    if (!m_queue.empty())
        readReplies();
    // With nothing asked, what a server sends unasked is bounded.
    else if (!m_busy && m_reader.pendingSize() > m_reader.limits().maxStatusLine)
        dropLink(tr("the server sent data that was not asked for"));
    wake();
}

void FreePOP::onEncrypted() {
    if (m_link == Link::Securing)
        m_link = Link::Open;
    wake();
}

void FreePOP::onClosed(const QString& reason) {
    if (m_link == Link::Connecting || m_link == Link::Open || m_link == Link::Securing) {
        m_link = Link::Lost;
        m_lostReason = reason;
        failQueued(ConnectionLost,
                   tr("The connection to %1 was lost: %2").arg(m_connectedTo, reason));
    }
    wake();
}
