#include "scan/pop3/pop3pipeline.h"

#include "scan/pop3/pop3connection.h"
#include "scan/pop3/pop3texts.h"

#include <QCoreApplication>
#include <QList>

#include <algorithm>

namespace {

// From a server with PIPELINING, up to this many messages are asked for ahead of the current one;
// beyond the first, only while their listed sizes add up to no more than kAheadBytes.
constexpr qsizetype kAheadDepth = 128;
constexpr qsizetype kAheadBytes = 1024 * 1024;
constexpr qsizetype kAheadSlack = 64 * 1024;

QString tr(const char* text) {
    return QCoreApplication::translate("FreePOP", text);
}

bool isRetrieval(const Pop3Command& command) {
    return command.kind == Pop3Command::Reply::MultiLine && command.number > 0;
}

bool startsWithStatus(const QByteArray& body) {
    const QByteArray start = body.left(5).toUpper();
    return start.startsWith("+OK ") || start.startsWith("+OK\r") || start.startsWith("-ERR");
}

} // namespace

Pop3Pipeline::Pop3Pipeline(Pop3Connection& connection, EventLoopWait& waiter)
    : m_connection(connection)
    , m_waiter(waiter) {
    m_connection.setDataHandler([this](const QByteArray& bytes) { onData(bytes); });
    m_connection.setLossHandler([this](const QString& text) {
        failQueued({ConnectionLost, text});
    });
}

void Pop3Pipeline::reset() {
    m_reader.reset();
    m_queue.clear();
    m_ahead.clear();
    m_sizes.clear();
    m_wanted.clear();
    m_pipelining = false;
}

Pop3CommandPtr Pop3Pipeline::expectGreeting() {
    auto greeting = std::make_shared<Pop3Command>();
    greeting->sent = true;
    m_queue.push_back(greeting);
    readReplies();
    return greeting;
}

Pop3CommandPtr Pop3Pipeline::send(const QByteArray& line, Pop3Command::Reply kind,
                                  Pop3Failure& failure, int number, Send when) {
    if (!m_connection.isOpen()) {
        failure = {ConnectionLost, m_connection.lostText()};
        return nullptr;
    }
    if (m_queue.empty() && m_reader.pendingSize() > 0) {
        failure = {ProtocolError, pop3text::unaskedData(m_connection.server())};
        m_connection.drop(pop3text::unaskedDataReason());
        return nullptr;
    }
    auto command = std::make_shared<Pop3Command>();
    command->line = line;
    command->kind = kind;
    command->number = number;
    command->alone = when == Send::Alone;
    m_queue.push_back(command);
    sendQueued();
    return command;
}

// Sends the commands in line that may go now: all of them to a server with PIPELINING (a command
// sent alone once every earlier reply is in), otherwise the first one once every earlier reply
// has been read.
void Pop3Pipeline::sendQueued() {
    if (!m_connection.isOpen())
        return;
    QByteArray out;
    bool outstanding = false;
    for (const Pop3CommandPtr& command : m_queue) {
        if (command->sent) {
            outstanding = true;
            continue;
        }
        if (outstanding && (!m_pipelining || command->alone))
            break;
        if (!outstanding && m_reader.pendingSize() > 0) {
            // Every reply asked for has been read, and there is more.
            dropOutOfStep(command.get(), pop3text::unaskedDataReason(),
                          {ProtocolError, pop3text::unaskedData(m_connection.server())});
            return;
        }
        out += command->line + "\r\n";
        command->sent = true;
        outstanding = true;
    }
    if (!out.isEmpty())
        m_connection.write(out);
}

// Reads the replies that have come in completely, in the order the commands went out. A message
// that is complete and still wanted goes to the message handler at once.
void Pop3Pipeline::readReplies() {
    while (!m_queue.empty() && m_queue.front()->sent && m_connection.isOpen()) {
        Pop3Command& command = *m_queue.front();
        if (!command.armed) {
            if (command.kind == Pop3Command::Reply::MultiLine)
                m_reader.expectMultiLine(command.sizeBound);
            else if (command.kind == Pop3Command::Reply::Sasl)
                m_reader.expectSasl();
            else
                m_reader.expectStatus();
            command.armed = true;
        }
        const Pop3ReplyReader::Outcome outcome = m_reader.advance();
        if (outcome == Pop3ReplyReader::Outcome::NeedMore)
            return;
        if (outcome == Pop3ReplyReader::Outcome::Complete) {
            command.positive = m_reader.isPositive();
            command.continuation = m_reader.isContinuation();
            command.statusText = m_reader.statusText();
            if (command.kind == Pop3Command::Reply::MultiLine && command.positive) {
                command.body = m_reader.takeBody();
                // A message never starts with a status line; one that does is a reply that was
                // taken for the start of this one, after a status line the server sent twice.
                if (isRetrieval(command) && startsWithStatus(command.body)) {
                    dropOutOfStep(&command, pop3text::notPop3Reason(),
                                  {ProtocolError, pop3text::notPop3(m_connection.server())});
                    return;
                }
                // Handed on only while someone still waits for it (not a message given up).
                if (isRetrieval(command) && m_onMessage && m_queue.front().use_count() > 1)
                    m_onMessage(command);
            }
        } else if (m_reader.lostSync()) {
            dropOutOfStep(&command, pop3text::notPop3Reason(), readerFailure());
            return;
        } else if (m_reader.fault() == Pop3ReplyReader::Fault::MessageTooLarge &&
                   command.sizeBound >= 0) {
            command.overBound = true;
        } else {
            command.failure = readerFailure();
        }
        command.done = true;
        m_queue.pop_front();
        sendQueued();
    }
}

// The reply stream is out of step: the command fails with the failure, and so does every other in
// line as the connection is dropped.
void Pop3Pipeline::dropOutOfStep(Pop3Command* command, const QString& reason, Pop3Failure failure) {
    command->done = true;
    command->failure = std::move(failure);
    m_connection.drop(reason);
}

Pop3Failure Pop3Pipeline::readerFailure() const {
    switch (m_reader.fault()) {
    case Pop3ReplyReader::Fault::MessageTooLarge:
        return {MessageTooLarge, tr("The message is larger than %1 bytes; it stays on the server.")
                                     .arg(m_reader.limits().maxMessageSize)};
    case Pop3ReplyReader::Fault::LineTooLong:
        return {LineTooLong,
                tr("The message has a line longer than %1 bytes; it stays on the server.")
                    .arg(m_reader.limits().maxMessageLine)};
    case Pop3ReplyReader::Fault::BareLineFeed:
        return {ProtocolError,
                tr("%1 ends its lines with LF alone instead of CR LF, so where its messages end "
                   "cannot be told safely. Nothing is deleted from it.")
                    .arg(m_connection.server())};
    case Pop3ReplyReader::Fault::GarbageStatus:
    case Pop3ReplyReader::Fault::StatusTooLong:
    case Pop3ReplyReader::Fault::None:
        break;
    }
    return {ProtocolError, pop3text::notPop3(m_connection.server())};
}

Pop3Failure Pop3Pipeline::waitFor(const Pop3Command& command, const Pop3Deadline& deadline) {
    for (;;) {
        readReplies();
        if (command.done)
            return {};
        if (!m_connection.isOpen())
            return {ConnectionLost, m_connection.lostText()};
        if (m_waiter.hasExpired(deadline.at)) {
            const Pop3Failure failure{TimedOut,
                                      pop3text::noAnswer(m_connection.server(), deadline.seconds)};
            failQueued(failure);
            m_connection.drop(pop3text::noAnswerReason());
            return failure;
        }
        if (!m_waiter.wait(deadline.at)) {
            const Pop3Failure failure{Interrupted, pop3text::quitting()};
            failQueued(failure);
            m_connection.drop(pop3text::quittingReason());
            return failure;
        }
    }
}

Pop3Failure Pop3Pipeline::waitForAll(const Pop3Deadline& deadline) {
    if (m_queue.empty())
        return {};
    // Replies are read in order: the last one read means all were.
    const Pop3CommandPtr last = m_queue.back();
    return waitFor(*last, deadline);
}

// Ends every command in line that has no reply yet with this failure.
void Pop3Pipeline::failQueued(const Pop3Failure& failure) {
    for (const Pop3CommandPtr& command : m_queue) {
        if (command->done)
            continue;
        command->done = true;
        command->failure = failure;
    }
    m_queue.clear();
}

void Pop3Pipeline::onData(const QByteArray& bytes) {
    m_reader.append(bytes);
    // Replies to commands in line are read as they come, between operations too.
    if (!m_queue.empty())
        readReplies();
    // With nothing asked, what a server sends unasked is bounded; the next command finds it.
    else if (m_reader.pendingSize() > m_reader.limits().maxStatusLine)
        m_connection.drop(pop3text::unaskedDataReason());
}

void Pop3Pipeline::setListing(const QByteArray& listing, int count) {
    m_sizes = parseMessageSizes(listing, count);
}

std::vector<qsizetype> Pop3Pipeline::parseMessageSizes(const QByteArray& listing, int count) {
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

// The first message after `after` that the caller wants; past count when there is none.
int Pop3Pipeline::nextWanted(int after, int count) const {
    int next = after + 1;
    while (next <= count && size_t(next) < m_wanted.size() && !m_wanted[size_t(next)])
        ++next;
    return next;
}

void Pop3Pipeline::fetchAhead(int n, int count, qsizetype held) {
    const int first = nextWanted(n, count);
    if (!m_pipelining || !m_connection.isOpen() || first > count)
        return;
    // What was asked for ahead of another message than the next one wanted is not wanted any more.
    if (!m_ahead.empty() && m_ahead.front()->number != first)
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
    for (const Pop3CommandPtr& command : m_ahead)
        held += std::max<qsizetype>(sizeOf(command->number), 0);
    int next = m_ahead.empty() ? first : nextWanted(m_ahead.back()->number, count);
    bool asked = false;
    while (next <= count && qsizetype(m_ahead.size()) < kAheadDepth) {
        const qsizetype size = sizeOf(next);
        if (!m_ahead.empty() && (size < 0 || held + size > kAheadBytes))
            break;
        held += std::max<qsizetype>(size, 0);
        auto command = std::make_shared<Pop3Command>();
        command->line = "RETR " + QByteArray::number(next);
        command->kind = Pop3Command::Reply::MultiLine;
        // Past the next message, each is held to about its listed size (line ends may be counted
        // differently); what is over is dropped as it comes in.
        if (!m_ahead.empty())
            command->sizeBound = 2 * size + kAheadSlack;
        command->number = next;
        next = nextWanted(next, count);
        m_queue.push_back(command);
        m_ahead.push_back(std::move(command));
        asked = true;
    }
    // All in one write.
    if (asked)
        sendQueued();
}

Pop3CommandPtr Pop3Pipeline::claimAhead(int n) {
    const auto found =
        std::find_if(m_ahead.begin(), m_ahead.end(),
                     [n](const Pop3CommandPtr& command) { return command->number == n; });
    if (found == m_ahead.end())
        return nullptr;
    Pop3CommandPtr command = std::move(*found);
    // Messages asked for ahead of this one are not wanted any more; their replies are read past.
    m_ahead.erase(m_ahead.begin(), found + 1);
    return command;
}
