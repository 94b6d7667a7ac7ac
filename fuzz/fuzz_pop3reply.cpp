// The POP3 reply reader against any bytes a server may send, cut into packets at any points.
//
// Input: byte 0-2 pick the status-line, message-line and message-size limits, byte 3 says which
// of the replies are multi-line (bit i for reply i, repeating), bytes 4-5 seed the packet
// sizes and byte 6 picks the largest packet; the rest is what the server sends.
//
// The same bytes are read twice, once in one piece and once in packets. Every reply must come
// out the same both ways, end exactly where a plain reading of the protocol ends it (CR LF lines,
// a lone "." line last), and no reply may break the limits it was read under.

#include "fuzzsupport.h"
#include "scan/pop3/pop3replyreader.h"

#include <QList>

#include <vector>

namespace {

// Enough to reach the states after a skipped message and after a lost reply.
constexpr int kMaxReplies = 64;

struct Reply {
    Pop3ReplyReader::Outcome outcome;
    bool positive;
    QByteArray status;
    QByteArray body;
    Pop3ReplyReader::Fault fault;
    bool lostSync;

    bool operator==(const Reply&) const = default;
};

struct Run {
    std::vector<Reply> replies;
    qsizetype pendingAtEnd = 0;

    bool operator==(const Run&) const = default;
};

// Packet sizes from a small xorshift generator, so a few input bytes give any cutting.
class Packets {
public:
    Packets(quint16 seed, qsizetype largest)
        : m_state(seed | 0x10000u)
        , m_largest(qMax<qsizetype>(1, largest)) {}

    qsizetype next() {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return 1 + static_cast<qsizetype>(m_state % static_cast<quint32>(m_largest));
    }

private:
    quint32 m_state;
    qsizetype m_largest;
};

void checkReply(const Pop3Limits& limits, const Reply& reply, bool multiLine) {
    FUZZ_CHECK(!reply.status.contains('\n'));
    FUZZ_CHECK(reply.body.size() <= limits.maxMessageSize);
    if (reply.outcome == Pop3ReplyReader::Outcome::Complete) {
        FUZZ_CHECK(reply.fault == Pop3ReplyReader::Fault::None);
        // Only a positive answer to a multi-line command has message lines.
        FUZZ_CHECK(reply.body.isEmpty() || (multiLine && reply.positive));
        // The message lines come whole: each one ends in CR LF.
        FUZZ_CHECK(reply.body.isEmpty() || reply.body.endsWith("\r\n"));
    } else {
        FUZZ_CHECK(reply.fault != Pop3ReplyReader::Fault::None);
        FUZZ_CHECK(reply.body.isEmpty());
    }
}

// Where a reply that starts at from ends, framed the slow and obvious way: the status line up to
// the first CR LF, then (for a positive multi-line reply) CR LF separated lines up to the first
// that is a lone dot, each with one leading dot removed. The body is set for multi-line replies.
qsizetype referenceEnd(const QByteArray& wire, qsizetype from, bool multiLine, bool positive,
                       QByteArray* body) {
    qsizetype end = wire.indexOf("\r\n", from);
    if (end < 0)
        return -1;
    qsizetype next = end + 2;
    if (!multiLine || !positive)
        return next;
    for (;;) {
        end = wire.indexOf("\r\n", next);
        if (end < 0)
            return -1;
        const QByteArray line = wire.mid(next, end - next);
        next = end + 2;
        if (line == ".")
            return next;
        *body += (line.startsWith('.') ? line.mid(1) : line) + "\r\n";
    }
}

Run readAll(const QByteArray& wire, const Pop3Limits& limits, quint8 multiLineBits,
            Packets* packets) {
    Pop3ReplyReader reader;
    reader.setLimits(limits);
    Run run;
    const auto expectNext = [&] {
        const bool multiLine = (multiLineBits >> (run.replies.size() % 8)) & 1;
        if (multiLine)
            reader.expectMultiLine();
        else
            reader.expectStatus();
        return multiLine;
    };
    bool multiLine = expectNext();
    qsizetype fed = 0;
    qsizetype replyStart = 0; // where the reply being read starts in wire
    for (;;) {
        const qsizetype length = packets ? packets->next() : wire.size();
        reader.append(wire.mid(fed, length));
        fed = qMin(wire.size(), fed + length);
        for (;;) {
            const Pop3ReplyReader::Outcome outcome = reader.advance();
            if (outcome == Pop3ReplyReader::Outcome::NeedMore)
                break;
            Reply reply{outcome,      reader.isPositive(), reader.statusText(),
                        QByteArray(), reader.fault(),      reader.lostSync()};
            if (outcome == Pop3ReplyReader::Outcome::Complete)
                reply.body = reader.takeBody();
            checkReply(limits, reply, multiLine);
            const qsizetype replyEnd = fed - reader.pendingSize();
            if (outcome == Pop3ReplyReader::Outcome::Complete) {
                // The reply ends exactly where the protocol says, and not a byte elsewhere: no
                // content can pass itself off as the end of its reply.
                QByteArray expected;
                FUZZ_CHECK(referenceEnd(wire, replyStart, multiLine, reply.positive, &expected) ==
                           replyEnd);
                FUZZ_CHECK(reply.body == expected);
            }
            replyStart = replyEnd;
            run.replies.push_back(reply);
            // A client gives the connection up here; nothing after it is read.
            if (reply.lostSync || run.replies.size() >= kMaxReplies) {
                run.pendingAtEnd = -1;
                return run;
            }
            multiLine = expectNext();
        }
        if (fed >= wire.size())
            break;
    }
    run.pendingAtEnd = reader.pendingSize();
    // What is kept for later is never more than what was sent.
    FUZZ_CHECK(run.pendingAtEnd <= wire.size());
    return run;
}

// The seed of a whole message: limits of 8 MiB, reply 2 multi-line, packets of up to 64 bytes; the
// server greets, answers STAT, sends the message for RETR with CR LF line ends and its lines
// dot-stuffed, and answers QUIT.
QByteArray seedFor(const QByteArray& message) {
    QByteArray seed("\xff\xff\xff\x04\x2a\x00\x40", 7);
    seed += "+OK ready\r\n+OK 1 999\r\n+OK\r\n";
    QList<QByteArray> lines = message.split('\n');
    // The piece after a final line end, or the whole of an empty message, is no line.
    if (lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray& line : lines) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.startsWith('.'))
            line.prepend('.');
        seed += line + "\r\n";
    }
    return seed + ".\r\n+OK bye\r\n";
}

} // namespace

FUZZ_SEEDS_FROM_MESSAGES(seedFor)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    Pop3Limits limits;
    limits.maxStatusLine = fuzzLimit(input.takeByte());
    limits.maxMessageLine = fuzzLimit(input.takeByte());
    limits.maxMessageSize = fuzzLimit(input.takeByte());
    const quint8 multiLineBits = input.takeByte();
    const quint16 seed = quint16(input.takeByte() | (input.takeByte() << 8));
    const qsizetype largest = fuzzLimit(input.takeByte());
    const QByteArray wire = input.takeRest();

    const Run whole = readAll(wire, limits, multiLineBits, nullptr);
    Packets packets(seed, largest);
    const Run inPackets = readAll(wire, limits, multiLineBits, &packets);
    FUZZ_CHECK(whole == inPackets);
    return 0;
}
