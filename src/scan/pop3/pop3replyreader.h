#pragma once

#include <QByteArray>

// Bounds on what a server may send. Going past one fails the operation at hand instead of letting
// a broken or hostile server grow memory without end.
struct Pop3Limits {
    // Longest status line ("+OK ...", "-ERR ...") accepted, line end included. Servers send a few
    // dozen characters; a longer line means the other side is not speaking POP3, and the
    // connection is dropped.
    qsizetype maxStatusLine = 8 * 1024;
    // Longest line inside a retrieved message. Mail lines stay under 1000 characters, but some
    // senders put a whole HTML page on one line, so the bound is generous.
    qsizetype maxMessageLine = 4 * 1024 * 1024;
    // Largest message retrieved: 64 MiB, well above the 25 MB messages that mail servers commonly
    // accept. A longer message is skipped (read to its end and thrown away) and stays on the
    // server.
    qsizetype maxMessageSize = 64 * 1024 * 1024;
};

// Reads POP3 replies from the bytes a server sends, as they arrive: a status line, and after a
// positive status for a multi-line command the lines up to the lone ".", with the leading dot of
// dot-stuffed lines removed. The message lines are kept byte for byte (line ends included) in one
// buffer that grows as the reply streams in.
//
// Only CR LF ends a line. A bare LF or a bare CR inside a message is content, kept as it is: some
// servers store mail byte for byte and dot-stuff only lines that follow CR LF, so a message could
// otherwise end its own reply with "\n.\r\n" and pass the text after it off as the server's next
// reply. The reply ends at CR LF "." CR LF only, and a leading dot is removed only at the start of
// a CR LF line. A status line must end in CR LF too: one that ends in a bare LF comes from a
// server whose message lines cannot be framed safely either, and fails with BareLineFeed.
//
// During a SASL exchange (AUTH) the server may also answer with a continuation: "+", a space and
// a base64 challenge. That line is taken only where the command expects it (expectSasl); anywhere
// else it is not POP3 and fails with GarbageStatus, as does a continuation that is not base64.
class Pop3ReplyReader {
public:
    enum class Outcome {
        NeedMore, // the reply is not complete yet (or no reply is expected)
        Complete, // a whole reply was read; see isPositive(), statusText(), takeBody()
        Failed,   // the reply broke a rule; see fault()
    };

    enum class Fault {
        None,
        GarbageStatus,   // a status line that starts with neither "+OK" nor "-ERR"
        StatusTooLong,   // no line end within maxStatusLine
        LineTooLong,     // a message line longer than maxMessageLine
        MessageTooLarge, // a message longer than maxMessageSize
        BareLineFeed,    // a status line ended in LF without CR
    };

    void setLimits(const Pop3Limits& limits) { m_limits = limits; }
    const Pop3Limits& limits() const { return m_limits; }

    // The next reply is a single status line.
    void expectStatus();
    // The next reply is a status line followed, when positive, by message lines up to ".". A
    // maxSize of 0 or more bounds this message more tightly than the limits do.
    void expectMultiLine(qsizetype maxSize = -1);
    // The next reply is a status line or a SASL continuation ("+ <base64>").
    void expectSasl();

    // Adds received bytes; advance() parses them.
    void append(const QByteArray& bytes);
    // Parses as far as the bytes received allow.
    Outcome advance();

    // Bytes received but not yet taken by a reply. While no reply is expected they only pile up,
    // so the caller bounds them.
    qsizetype pendingSize() const { return m_pending.size() - m_pos; }

    bool isPositive() const { return m_positive; }
    // The reply was a SASL continuation; statusText() then holds its base64 challenge (possibly
    // empty) and isPositive() is false.
    bool isContinuation() const { return m_continuation; }
    // The status line after "+OK" or "-ERR", without its line end, as the server sent it.
    const QByteArray& statusText() const { return m_statusText; }
    // The message lines of a completed multi-line reply; the reader keeps no copy.
    QByteArray takeBody();
    Fault fault() const { return m_fault; }

    // True after a fault that leaves the reader unable to tell where the next reply starts; the
    // connection must then be given up. The message faults are read to the terminating "." and
    // leave the session usable.
    bool lostSync() const;

    // Forgets everything, for a new connection.
    void reset();

private:
    enum class State { Idle, Status, MultiStatus, Lines, Done };

    Outcome readStatus();
    Outcome readLines();
    Outcome fail(Fault fault);
    void startSkipping(Fault fault);
    qsizetype findNewline();
    qsizetype findLineEnd();
    void discardPending();
    void compact();

    Pop3Limits m_limits;
    State m_state = State::Idle;
    QByteArray m_pending; // received bytes; those before m_pos are consumed
    qsizetype m_pos = 0;
    qsizetype m_searchFrom = 0; // no LF (or, in message lines, no CR LF) before this offset
    bool m_positive = false;
    bool m_allowContinuation = false; // the reply expected may be a SASL continuation
    bool m_continuation = false;
    QByteArray m_statusText;
    QByteArray m_body;
    qsizetype m_maxSize = 0; // the bound on the message of the reply at hand
    // Set while the rest of an oversized message is skipped to keep the session in step.
    Fault m_skipping = Fault::None;
    bool m_skipLineRest = false; // inside a line that is being skipped
    Fault m_fault = Fault::None;
};
