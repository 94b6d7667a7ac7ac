#include "scan/pop3/FreePOP.h"

#include "scan/pop3/messagepage.h"
#include "scan/pop3/pop3transport.h"
#include "scan/pop3/serveraddress.h"
#include "scan/pop3/tlstrust.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QSaveFile>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace {

// Server texts quoted in error strings are cut to this length.
constexpr qsizetype kMaxQuotedText = 200;

bool hasLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n')) ||
           text.contains(QChar(0));
}

} // namespace

FreePOP::FreePOP(QObject* parent)
    : QObject(parent) {}

FreePOP::~FreePOP() {
    // Without QUIT: deletions marked in an unfinished session do not happen.
    if (m_transport)
        m_transport->abort();
}

void FreePOP::setLimits(const Pop3Limits& limits) {
    m_reader.setLimits(limits);
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
    if (!requireOpenLink())
        return;
    const QDeadlineTimer deadline = operationDeadline();
    if (!exchange("RETR " + QByteArray::number(n), Reply::MultiLine, deadline))
        return;
    if (!m_reader.isPositive()) {
        fail(CommandRefused,
             tr("%1 refused message %2: %3").arg(m_connectedTo, QString::number(n), serverText()));
        return;
    }
    m_raw = m_reader.takeBody();
    m_current = n;
    succeed();
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
        m_message = parseMessage(m_raw);
        m_parsed = true;
    }
    succeed();
}

void FreePOP::SaveMessage(const QString& path) {
    if (!beginOperation())
        return;
    const auto done = qScopeGuard([this] { endOperation(); });

    if (m_current == 0) {
        fail(NoCurrentMessage, tr("No message has been fetched."));
        return;
    }
    // The page needs the decoded header fields even when CompleteFetch was not called; the reads
    // stay as they are.
    ParsedMessage parsedHere;
    if (!m_parsed)
        parsedHere = parseMessage(m_raw);
    const ParsedMessage& message = m_parsed ? m_message : parsedHere;

    QSaveFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::WriteOnly)) {
        fail(FileWriteFailed, tr("Could not write \"%1\": %2").arg(path, file.errorString()));
        return;
    }
    if (!writeMessagePage(file, message, m_raw)) {
        const QString reason = file.errorString();
        file.cancelWriting();
        fail(FileWriteFailed, tr("Could not write \"%1\": %2").arg(path, reason));
        return;
    }
    if (!file.commit()) {
        fail(FileWriteFailed, tr("Could not write \"%1\": %2").arg(path, file.errorString()));
        return;
    }
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
    const QDeadlineTimer deadline = operationDeadline();
    if (!exchange("DELE " + QByteArray::number(m_current), Reply::Status, deadline))
        return;
    if (!m_reader.isPositive()) {
        fail(CommandRefused, tr("%1 refused to delete message %2: %3")
                                 .arg(m_connectedTo, QString::number(m_current), serverText()));
        return;
    }
    succeed();
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
    if (!exchange("QUIT", Reply::Status, deadline))
        return;
    if (!m_reader.isPositive()) {
        fail(CommandRefused,
             tr("%1 reported a problem at log-out: %2").arg(m_connectedTo, serverText()));
        return;
    }
    succeed();
}

bool FreePOP::beginOperation() {
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
// purpose.
bool FreePOP::negotiateTls(const QDeadlineTimer& deadline) {
    if (!askCapabilities(deadline))
        return false;
    if (m_transport->isEncrypted() || !hasCapability(u"STLS"))
        return true;

    if (!exchange("STLS", Reply::Status, deadline))
        return false;
    if (!m_reader.isPositive()) {
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
            text += QLatin1Char(' ') + tr("To trust this server, place its certificate in \"%1\".")
                                           .arg(m_certificatesFolder);
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
            switch (m_reader.fault()) {
            case Pop3ReplyReader::Fault::MessageTooLarge:
                fail(MessageTooLarge, tr("The message is larger than %1 bytes; it stays on the "
                                         "server.")
                                          .arg(m_reader.limits().maxMessageSize));
                break;
            case Pop3ReplyReader::Fault::LineTooLong:
                fail(LineTooLong, tr("The message has a line longer than %1 bytes; it stays on "
                                     "the server.")
                                      .arg(m_reader.limits().maxMessageLine));
                break;
            case Pop3ReplyReader::Fault::GarbageStatus:
            case Pop3ReplyReader::Fault::StatusTooLong:
            case Pop3ReplyReader::Fault::None:
                fail(ProtocolError, tr("%1 sent an answer that is not POP3.").arg(m_connectedTo));
                dropLink(tr("the server's answer was not POP3"));
                break;
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

bool FreePOP::waitForEvent(const QDeadlineTimer& deadline) {
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, [this, &loop] {
        m_woken = true;
        loop.quit();
    });
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
    m_messageCount = 0;
    m_reader.reset();
    clearCurrent();
}

void FreePOP::clearCurrent() {
    m_current = 0;
    m_raw = QByteArray();
    m_message = ParsedMessage();
    m_parsed = false;
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
    QString text = QString::fromUtf8(m_reader.statusText().left(kMaxQuotedText));
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
    // Between operations nothing reads the replies, so what a server sends unasked is bounded.
    if (!m_busy && m_reader.pendingSize() > m_reader.limits().maxStatusLine)
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
    }
    wake();
}
