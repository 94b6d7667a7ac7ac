#include "scan/pop3/pop3replyreader.h"

#include <algorithm>
#include <utility>

namespace {

bool startsWithNoCase(QByteArrayView line, QByteArrayView prefix) {
    return line.size() >= prefix.size() &&
           line.first(prefix.size()).compare(prefix, Qt::CaseInsensitive) == 0;
}

// The size a positive RETR reply announces ("+OK 1234 octets"), or 0 when it names none.
qsizetype announcedSize(QByteArrayView text) {
    qsizetype end = 0;
    while (end < text.size() && text[end] >= '0' && text[end] <= '9')
        ++end;
    if (end == 0 || end > 12)
        return 0;
    return text.first(end).toLongLong();
}

// RFC 4648 base64 with its padding: what a SASL challenge must be.
bool isBase64(QByteArrayView text) {
    if (text.size() % 4 != 0)
        return false;
    const qsizetype padding = text.endsWith("==") ? 2 : text.endsWith("=") ? 1 : 0;
    for (qsizetype i = 0; i < text.size() - padding; ++i) {
        const char c = text[i];
        const bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '+' || c == '/';
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

void Pop3ReplyReader::expectStatus() {
    m_state = State::Status;
    m_allowContinuation = false;
    m_continuation = false;
    m_positive = false;
    m_statusText.clear();
    m_body.clear();
    m_fault = Fault::None;
}

void Pop3ReplyReader::expectMultiLine(qsizetype maxSize) {
    expectStatus();
    m_state = State::MultiStatus;
    m_maxSize = maxSize >= 0 ? std::min(maxSize, m_limits.maxMessageSize) : m_limits.maxMessageSize;
}

void Pop3ReplyReader::expectSasl() {
    expectStatus();
    m_allowContinuation = true;
}

void Pop3ReplyReader::append(const QByteArray& bytes) {
    if (bytes.isEmpty())
        return;
    if (pendingSize() == 0) {
        // Take the chunk as it is (shared, not copied) when nothing is left over.
        m_pending = bytes;
        m_pos = 0;
        m_searchFrom = 0;
    } else {
        m_pending.append(bytes);
    }
}

Pop3ReplyReader::Outcome Pop3ReplyReader::advance() {
    switch (m_state) {
    case State::Idle:
    case State::Done:
        return Outcome::NeedMore;
    case State::Status:
    case State::MultiStatus: {
        const bool multiLine = m_state == State::MultiStatus;
        const Outcome outcome = readStatus();
        if (outcome != Outcome::Complete)
            return outcome;
        if (!multiLine || !m_positive) {
            m_state = State::Done;
            return Outcome::Complete;
        }
        m_state = State::Lines;
        const qsizetype announced = announcedSize(m_statusText);
        if (announced > 0 && announced <= m_maxSize)
            m_body.reserve(announced);
        return readLines();
    }
    case State::Lines:
        return readLines();
    }
    return Outcome::NeedMore;
}

Pop3ReplyReader::Outcome Pop3ReplyReader::readStatus() {
    const qsizetype newline = findNewline();
    if (newline < 0) {
        if (pendingSize() > m_limits.maxStatusLine)
            return fail(Fault::StatusTooLong);
        return Outcome::NeedMore;
    }
    if (newline + 1 - m_pos > m_limits.maxStatusLine)
        return fail(Fault::StatusTooLong);
    if (newline == m_pos || m_pending.at(newline - 1) != '\r')
        return fail(Fault::BareLineFeed);

    const QByteArrayView line(m_pending.constData() + m_pos, newline - 1 - m_pos);
    m_pos = newline + 1;

    QByteArrayView text;
    if (startsWithNoCase(line, "+OK")) {
        m_positive = true;
        text = line.sliced(3);
    } else if (startsWithNoCase(line, "-ERR")) {
        m_positive = false;
        text = line.sliced(4);
    } else if (m_allowContinuation && line.startsWith('+') &&
               (line.size() == 1 || (line[1] == ' ' && isBase64(line.sliced(2))))) {
        // "+" alone stands for an empty challenge, as some servers send it.
        m_positive = false;
        m_continuation = true;
        m_statusText = line.sliced(qMin<qsizetype>(2, line.size())).toByteArray();
        compact();
        return Outcome::Complete;
    } else {
        return fail(Fault::GarbageStatus);
    }
    while (!text.isEmpty() && (text.front() == ' ' || text.front() == '\t'))
        text = text.sliced(1);
    m_statusText = text.toByteArray();
    compact();
    return Outcome::Complete;
}

Pop3ReplyReader::Outcome Pop3ReplyReader::readLines() {
    for (;;) {
        // The LF of the CR LF that ends the line at m_pos.
        const qsizetype lineEnd = findLineEnd();
        if (m_skipLineRest) {
            // The rest of an overlong line: thrown away up to its end.
            if (lineEnd < 0) {
                discardPending();
                return Outcome::NeedMore;
            }
            m_pos = lineEnd + 1;
            m_skipLineRest = false;
            continue;
        }
        if (lineEnd < 0) {
            if (pendingSize() > m_limits.maxMessageLine) {
                startSkipping(Fault::LineTooLong);
                m_skipLineRest = true;
                discardPending();
            }
            compact();
            return Outcome::NeedMore;
        }

        const char* start = m_pending.constData() + m_pos;
        qsizetype length = lineEnd + 1 - m_pos; // with its CR LF
        m_pos = lineEnd + 1;
        if (length > m_limits.maxMessageLine) {
            startSkipping(Fault::LineTooLong);
            continue;
        }
        if (start[0] == '.') {
            if (length == 3) {
                compact();
                m_state = State::Done;
                if (m_skipping != Fault::None)
                    return fail(std::exchange(m_skipping, Fault::None));
                return Outcome::Complete;
            }
            // A dot-stuffed line: the server doubled a leading dot.
            ++start;
            --length;
        }
        if (m_skipping != Fault::None)
            continue;
        if (m_body.size() + length > m_maxSize) {
            startSkipping(Fault::MessageTooLarge);
            continue;
        }
        m_body.append(start, length);
    }
}

void Pop3ReplyReader::startSkipping(Fault fault) {
    if (m_skipping == Fault::None)
        m_skipping = fault;
    m_body = QByteArray(); // release the memory, not only the contents
}

Pop3ReplyReader::Outcome Pop3ReplyReader::fail(Fault fault) {
    m_fault = fault;
    m_state = State::Done;
    m_body = QByteArray();
    return Outcome::Failed;
}

qsizetype Pop3ReplyReader::findNewline() {
    // A long line arrives in many chunks; the part already searched is not searched again.
    const qsizetype newline = m_pending.indexOf('\n', qMax(m_pos, m_searchFrom));
    m_searchFrom = newline < 0 ? m_pending.size() : newline + 1;
    return newline;
}

qsizetype Pop3ReplyReader::findLineEnd() {
    // A line starts at m_pos, so the CR of its CR LF is at m_pos or later.
    for (;;) {
        const qsizetype newline = findNewline();
        if (newline < 0 || (newline > m_pos && m_pending.at(newline - 1) == '\r'))
            return newline;
        // A bare LF: content of the line.
    }
}

// Throws away the bytes received so far while a line is skipped; a CR at the very end is kept,
// since the LF that makes it a line end may come with the next bytes.
void Pop3ReplyReader::discardPending() {
    m_pos = m_pending.size();
    if (m_pos > 0 && m_pending.at(m_pos - 1) == '\r')
        --m_pos;
    compact();
}

void Pop3ReplyReader::compact() {
    m_searchFrom = qMax<qsizetype>(0, m_searchFrom - m_pos);
    if (m_pos == 0)
        return;
    if (m_pos >= m_pending.size())
        m_pending.clear();
    else
        m_pending.remove(0, m_pos);
    m_pos = 0;
}

QByteArray Pop3ReplyReader::takeBody() {
    return std::exchange(m_body, QByteArray());
}

bool Pop3ReplyReader::lostSync() const {
    return m_fault == Fault::GarbageStatus || m_fault == Fault::StatusTooLong ||
           m_fault == Fault::BareLineFeed;
}

void Pop3ReplyReader::reset() {
    const Pop3Limits limits = m_limits;
    *this = Pop3ReplyReader();
    m_limits = limits;
}
