// Whole scan passes against a mail server that misbehaves, checking the one promise the program
// makes: no message is deleted that was not judged spam on its own, true content.
//
// The server is a model in memory, reached through the client's transport interface on a
// simulated clock (support/simulatednetwork.h), so every run is the same for the same input and
// nothing waits for real time: a reply that never comes costs a simulated time-out. The input
// builds a mailbox of a few messages from fragments (ordinary lines, a keyword, bare LF and CR,
// lone dots with every line end, lines that look like status lines, huge lines, NULs, 8-bit
// bytes, bytes of its own, a missing final line end) and picks how the server behaves: framing
// done right or as real servers get it wrong, with or without CAPA, PIPELINING, UIDL, true or
// false LIST sizes, -ERR for any one command, stray bytes after any one reply (as sloppy servers
// send them: a line end, a status line twice, a dot, some text), a drop at any byte,
// DELE never answered, QUIT answered or not, and its replies cut at random points and delayed at
// random. The account may sign in with OAuth 2.0 instead of a password (SASL XOAUTH2 or
// OAUTHBEARER over an implicit-TLS connection): the server then refuses the first token with an
// error challenge or not, and may send a challenge out of turn.
//
// The real scan pass runs over it twice (the main window offscreen, every box answered OK, one
// keyword and only the keyword check on): the second time over what the first left, perhaps with
// new messages, from a server that may behave as before or well, with the memory of judged
// messages the first pass left. The unique ids the server gives are honest, shared by two
// messages, malformed, or, in the second pass, handed round to other messages (a server that lies).
// After each pass:
//   - every message the server removed holds the keyword in its true content (from a server that
//     does not dot-stuff at all, this is checked for ordinary messages only: see isOrdinary);
//   - a message is removed only at QUIT (the model carries out deletions nowhere else);
//   - every removed message has an archive page whose recovered original is its true content;
//   - the pass ended, and the client never waited for something that could not come.
// And when the second session ran to its QUIT and the ids were not handed round: every message
// it did not retrieve was retrieved by the first, and none whose id was in doubt was left out.
//
// A libFuzzer target rather than a driver of its own: a pass over a few small messages takes a
// millisecond or two in memory, which libFuzzer's loop can afford.

#include "app/frmMain.h"
#include "app/msgbox.h"
#include "app/ubGrid.h"
#include "config/checkvalue.h"
#include "fuzzsupport.h"
#include "scan/module_scan.h"
#include "scan/pop3/FreePOP.h"
#include "scan/pop3/parsedmessage.h"
#include "support/pagesource.h"
#include "support/simulatednetwork.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <utility>
#include <vector>

namespace {

const QByteArray kKeyword = "cheap-pills";

// How the server frames the messages it sends.
enum class Framing {
    Normalizing, // bare LF and CR become CR LF, leading dots doubled: what a careful server does
    ByteForByte, // stored bytes as they are, a dot doubled only at the start of a CR LF line
    NoStuffing,  // stored bytes as they are, no dot doubled
    LfLineEnds,  // every line, status lines too, ends in LF alone
};

// The unique ids the server gives its messages.
enum class Ids {
    Honest,    // one for each message, the same in both passes
    Shared,    // honest, but messages 1 and 2 share one
    Malformed, // honest, but message 1's has a blank and message 2's is too long
    HandedOn,  // in the second pass, each message has the id another one had in the first
};

struct Behaviour {
    Framing framing = Framing::Normalizing;
    bool capa = false;
    bool pipelining = false;
    bool uidl = false;
    bool trueSizes = true;
    bool quitAnswered = true;
    bool deleNeverAnswered = false;
    int refusedCommand = 0;  // 1-based count of the command answered -ERR; 0 for none
    int extraAfterReply = 0; // 1-based count of the reply followed by extra bytes; 0 for none
    QByteArray extra;
    qint64 dropAtByte = -1;
    quint32 seed = 1;
    int largestChunk = 1;
    int longestDelayMs = 0;
    bool oauth = false;            // the account signs in with an access token
    bool refuseFirstToken = false; // the first AUTH gets an error challenge, then -ERR
    bool challengeTwice = false;   // the answer to the error challenge gets another challenge
    bool bearerOnly = false;       // CAPA lists OAUTHBEARER alone, else XOAUTH2 alone
};

// Hands out a new access token for every request, as a renewal does.
class CountingTokens : public Pop3TokenSource {
public:
    Pop3Token accessToken(const QString&, const QString&, bool, EventLoopWait&,
                          const Pop3Deadline&) override {
        return {QStringLiteral("token-%1").arg(++m_count), {}};
    }
    QStringList secrets() const override { return {}; }

private:
    int m_count = 0;
};

// Small xorshift generator: the cutting and the delays of the replies.
class Random {
public:
    explicit Random(quint32 seed)
        : m_state(seed | 0x10000u) {}
    quint32 next(quint32 bound) {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return bound == 0 ? 0 : m_state % bound;
    }

private:
    quint32 m_state;
};

QByteArray normalized(const QByteArray& stored) {
    QByteArray out;
    for (qsizetype i = 0; i < stored.size(); ++i) {
        const char c = stored[i];
        if (c == '\r' && i + 1 < stored.size() && stored[i + 1] == '\n') {
            out += "\r\n";
            ++i;
        } else if (c == '\r' || c == '\n') {
            out += "\r\n";
        } else {
            out += c;
        }
    }
    return out;
}

QByteArray withFinalLineEnd(QByteArray text) {
    if (!text.isEmpty() && !text.endsWith("\r\n"))
        text += "\r\n";
    return text;
}

// The model of the mail server: one mailbox, one session at a time.
class ModelServer : public MemoryServer {
public:
    ModelServer(SimulatedNetwork& network, Behaviour behaviour, std::vector<QByteArray> stored,
                std::vector<QByteArray> ids)
        : m_network(network)
        , m_behaviour(std::move(behaviour))
        , m_stored(std::move(stored))
        , m_ids(std::move(ids))
        , m_random(m_behaviour.seed) {}

    // What a client that reads the framing as the server means it gets for message n.
    QByteArray trueContent(int n) const {
        const QByteArray& stored = m_stored[size_t(n - 1)];
        return withFinalLineEnd(m_behaviour.framing == Framing::Normalizing ? normalized(stored)
                                                                            : stored);
    }
    int count() const { return int(m_stored.size()); }
    // The messages carried out of the mailbox; only QUIT carries out deletions.
    const std::set<int>& removed() const { return m_removed; }
    // The messages RETR asked for (answered or not), and whether a session got as far as QUIT.
    const std::set<int>& retrieved() const { return m_retrieved; }
    bool quitReceived() const { return m_quit; }

    void connected(MemoryTransport& transport) override {
        m_transport = &transport;
        m_marked.clear();
        m_buffer.clear();
        m_stalled = false;
        m_loggedIn = false;
        m_sasl = Sasl::None;
        reply("+OK model ready\r\n");
    }

    void received(MemoryTransport& transport, const QByteArray& bytes) override {
        if (&transport != m_transport)
            return;
        m_buffer += bytes;
        for (qsizetype end; (end = m_buffer.indexOf("\r\n")) >= 0;) {
            const QByteArray line = m_buffer.left(end);
            m_buffer.remove(0, end + 2);
            if (m_stalled || !m_transport)
                return;
            command(line);
        }
    }

    void aborted(MemoryTransport& transport) override {
        // A session that ends without QUIT carries out nothing.
        if (&transport == m_transport)
            m_transport = nullptr;
    }

private:
    void command(const QByteArray& line) {
        ++m_commands;
        if (m_sasl != Sasl::None) {
            saslLine(line);
            return;
        }
        const QList<QByteArray> words = line.split(' ');
        const QByteArray verb = words.value(0).toUpper();
        const int n = words.value(1).toInt();
        const bool valid = n >= 1 && n <= count();
        if (verb == "RETR")
            m_retrieved.insert(n);
        if (m_commands == m_behaviour.refusedCommand) {
            reply("-ERR refused\r\n");
            return;
        }
        if (verb == "CAPA") {
            if (!m_behaviour.capa) {
                reply("-ERR unknown command\r\n");
                return;
            }
            QByteArray list = "+OK\r\nUSER\r\n";
            if (m_behaviour.oauth)
                list += m_behaviour.bearerOnly ? "SASL OAUTHBEARER\r\n" : "SASL XOAUTH2\r\n";
            if (m_behaviour.pipelining)
                list += "PIPELINING\r\n";
            if (m_behaviour.uidl)
                list += "UIDL\r\n";
            reply(list + ".\r\n");
        } else if (verb == "USER") {
            reply("+OK\r\n");
        } else if (verb == "PASS") {
            m_loggedIn = true;
            reply("+OK\r\n");
        } else if (verb == "AUTH" && m_behaviour.oauth && !m_loggedIn) {
            if (words.size() < 3) {
                // The response follows after an empty challenge.
                m_sasl = Sasl::Response;
                reply("+ \r\n");
            } else {
                saslResponse(words.value(2));
            }
        } else if (verb == "STAT" && m_loggedIn) {
            reply("+OK " + QByteArray::number(count() - qsizetype(m_marked.size())) + " 0\r\n");
        } else if (verb == "LIST" && m_loggedIn) {
            QByteArray list = "+OK\r\n";
            for (int m = 1; m <= count(); ++m) {
                const qsizetype size = m_behaviour.trueSizes ? m_stored[size_t(m - 1)].size()
                                                             : qsizetype(m_random.next(5000));
                list += QByteArray::number(m) + ' ' + QByteArray::number(size) + "\r\n";
            }
            reply(list + ".\r\n");
        } else if (verb == "UIDL" && m_loggedIn && m_behaviour.uidl) {
            QByteArray list = "+OK\r\n";
            for (int m = 1; m <= count(); ++m)
                list += QByteArray::number(m) + ' ' + m_ids[size_t(m - 1)] + "\r\n";
            reply(list + ".\r\n");
        } else if (verb == "RETR" && m_loggedIn && valid && !m_marked.contains(n)) {
            reply("+OK " + QByteArray::number(m_stored[size_t(n - 1)].size()) + " octets\r\n" +
                  framed(m_stored[size_t(n - 1)]) + ".\r\n");
        } else if (verb == "DELE" && m_loggedIn && valid && !m_marked.contains(n)) {
            m_marked.insert(n);
            if (m_behaviour.deleNeverAnswered) {
                m_stalled = true;
                return;
            }
            reply("+OK marked\r\n");
        } else if (verb == "NOOP" && m_loggedIn) {
            reply("+OK\r\n");
        } else if (verb == "QUIT") {
            m_quit = true;
            for (int m : m_marked)
                m_removed.insert(m);
            m_marked.clear();
            if (m_behaviour.quitAnswered)
                reply("+OK bye\r\n");
            if (m_transport)
                m_transport->closeAt(m_lastSent, QStringLiteral("closed by the server"));
            m_transport = nullptr;
        } else {
            reply("-ERR no\r\n");
        }
    }

    enum class Sasl { None, Response, RefusalAnswer };

    // A line of the client while AUTH is under way: the response, or the answer to the error
    // challenge.
    void saslLine(const QByteArray& line) {
        const Sasl state = std::exchange(m_sasl, Sasl::None);
        if (state == Sasl::Response) {
            saslResponse(line);
        } else if (m_behaviour.challengeTwice) {
            reply("+ e30=\r\n");
        } else {
            reply("-ERR [AUTH] Authentication failed.\r\n");
        }
    }

    void saslResponse(const QByteArray& base64) {
        const QByteArray response = QByteArray::fromBase64(base64);
        if (!response.contains("auth=Bearer token-")) {
            reply("-ERR [AUTH] Authentication failed.\r\n");
        } else if (m_behaviour.refuseFirstToken && ++m_authAttempts == 1) {
            m_sasl = Sasl::RefusalAnswer;
            reply("+ " + QByteArray(R"({"status":"401","schemes":"bearer"})").toBase64() + "\r\n");
        } else {
            m_loggedIn = true;
            reply("+OK signed in\r\n");
        }
    }

    QByteArray framed(const QByteArray& stored) const {
        QByteArray text = m_behaviour.framing == Framing::Normalizing ? normalized(stored) : stored;
        text = withFinalLineEnd(text);
        if (m_behaviour.framing == Framing::NoStuffing)
            return text;
        QByteArray out;
        for (qsizetype i = 0; i < text.size(); ++i) {
            const bool lineStart = i == 0 || (i >= 2 && text[i - 1] == '\n' && text[i - 2] == '\r');
            if (lineStart && text[i] == '.')
                out += '.';
            out += text[i];
        }
        return out;
    }

    // Sends a reply (and the extra bytes after it), cut into chunks that arrive at random later
    // times, in order; a drop point cuts the stream and closes the connection there.
    void reply(QByteArray bytes) {
        if (!m_transport)
            return;
        ++m_replies;
        if (m_replies == m_behaviour.extraAfterReply)
            bytes += m_behaviour.extra;
        if (m_behaviour.framing == Framing::LfLineEnds)
            bytes.replace("\r\n", "\n");
        bool drop = false;
        if (m_behaviour.dropAtByte >= 0 && m_sentBytes + bytes.size() > m_behaviour.dropAtByte) {
            bytes.truncate(qMax<qint64>(0, m_behaviour.dropAtByte - m_sentBytes));
            drop = true;
        }
        m_sentBytes += bytes.size();
        for (qsizetype at = 0; at < bytes.size();) {
            const qsizetype length = 1 + m_random.next(quint32(m_behaviour.largestChunk));
            m_lastSent = qMax(m_lastSent,
                              m_network.now() +
                                  qint64(m_random.next(quint32(m_behaviour.longestDelayMs + 1))));
            m_transport->deliver(bytes.mid(at, length), m_lastSent);
            at += length;
        }
        if (drop) {
            m_transport->closeAt(m_lastSent, QStringLiteral("dropped by the server"));
            m_transport = nullptr;
        }
    }

    SimulatedNetwork& m_network;
    Behaviour m_behaviour;
    std::vector<QByteArray> m_stored;
    std::vector<QByteArray> m_ids;
    Random m_random;
    MemoryTransport* m_transport = nullptr;
    QByteArray m_buffer;
    std::set<int> m_marked;
    std::set<int> m_removed;
    std::set<int> m_retrieved;
    bool m_quit = false;
    bool m_stalled = false;
    bool m_loggedIn = false;
    Sasl m_sasl = Sasl::None;
    int m_authAttempts = 0;
    int m_commands = 0;
    int m_replies = 0;
    qint64 m_sentBytes = 0;
    qint64 m_lastSent = 0;
};

// Takes bytes from the end of the input for fragments of their own.
class BytePool {
public:
    explicit BytePool(QByteArray bytes)
        : m_bytes(std::move(bytes)) {}
    QByteArray take(qsizetype length) {
        const QByteArray piece = m_bytes.mid(m_pos, length);
        m_pos += piece.size();
        return piece;
    }

private:
    QByteArray m_bytes;
    qsizetype m_pos = 0;
};

QByteArray fragment(uint8_t kind, uint8_t parameter, BytePool& pool) {
    switch (kind % 18) {
    case 0:
        return "Hello there, see you on Monday.\r\n";
    case 1:
        return "Buy " + kKeyword + " now\r\n";
    case 2:
        return "text\n";
    case 3:
        return "text\r";
    case 4:
        return ".\r\n";
    case 5:
        return ".\n";
    case 6:
        return "\n.\r\n";
    case 7:
        return "+OK\r\n";
    case 8:
        return "-ERR no\r\n";
    case 9:
        return "..\r\n";
    case 10:
        return ".x\r\n";
    case 11:
        return QByteArray("a\0\0b\r\n", 6);
    case 12:
        return "caf\xe9 \xff\x80\r\n";
    case 13:
        return QByteArray(64 * (parameter + 1), 'x') + "\r\n";
    case 14:
        return pool.take(parameter);
    case 15:
        return "From: Offers <win@bulk-offers.example>\r\nSubject: " + kKeyword + "\r\n\r\n";
    case 16:
        return "\r\n";
    default:
        return "\r";
    }
}

QByteArray header(uint8_t kind) {
    switch (kind % 4) {
    case 0:
        return "From: Friend <friend@example.org>\r\nSubject: Monday\r\n\r\n";
    case 1:
        return "From: Offers <win@bulk-offers.example>\r\nSubject: Buy " + kKeyword + "\r\n\r\n";
    case 2:
        // As the corpus's messages look, with the keyword in an encoded word.
        return "Return-Path: <a@example.net>\r\nReceived: from mx.example.net ([192.0.2.7]) by "
               "mail.example.org with ESMTP\r\nDate: Mon, 2 Sep 2002 10:00:00 +0100\r\n"
               "Message-ID: <1@example.net>\r\nFrom: \"Deals\" <a@example.net>\r\n"
               "Subject: =?utf-8?B?Y2hlYXAtcGlsbHM=?= today\r\nMIME-Version: 1.0\r\n"
               "Content-Type: text/plain; charset=utf-8\r\n\r\n";
    default:
        return QByteArray();
    }
}

// A message with no line that starts with a dot or looks like a status line. On a server that
// does not dot-stuff, any other message can end its own reply and dress its tail up as the replies
// to come, and what any client then reads of it is not its content; an ordinary message, one
// nobody built to look like POP3, must still never be deleted on another's account.
bool isOrdinary(const QByteArray& content) {
    for (const QByteArray& line : content.split('\n')) {
        const QByteArray start = line.left(4).toUpper();
        if (line.startsWith('.') || start.startsWith("+OK") || start.startsWith("-ERR"))
            return false;
    }
    return true;
}

bool holdsKeyword(const QByteArray& content) {
    const ParsedMessage parsed = parseMessage(content);
    const QString keyword = QString::fromLatin1(kKeyword).toUpper();
    return parsed.subject.toUpper().contains(keyword) || parsed.body.toUpper().contains(keyword);
}

struct World {
    QTemporaryDir folder;
    std::unique_ptr<frmMain> form;
};

World& world() {
    static World* w = [] {
        auto* made = new World;
        made->form = std::make_unique<frmMain>(made->folder.path());
        frmMain& form = *made->form;
        form.gridAccounts->setCols(3);
        form.gridAccounts->addrow(QStringLiteral("mail.example.org"));
        form.gridAccounts->setCelltext(1, 2, QStringLiteral("user"));
        form.gridAccounts->setCelltext(1, 3, QStringLiteral("secret"));
        form.gridkeywords->addrow(QString::fromLatin1(kKeyword));
        setCheckValue(form.checkwhitelist, 0);
        setCheckValue(form.checkblacklist, 0);
        setCheckValue(form.checkspamcop, 0);
        setCheckValue(form.checkkeywords, 1);
        setMsgBoxHandler([](const MsgBoxRequest&) { return MsgBoxAnswer::Ok; });
        return made;
    }();
    return *w;
}

// One run's network, server and client; kept until the next run has replaced the client, so that
// nothing the client lets go of later reaches a server already gone.
struct Session {
    SimulatedNetwork network;
    std::unique_ptr<ModelServer> server;
};

// What the server saw of one pass.
struct PassOutcome {
    std::set<int> removed;
    std::set<int> retrieved;
    bool quit = false;
};

PassOutcome scanOnce(World& w, const Behaviour& behaviour, const std::vector<QByteArray>& stored,
                     const std::vector<QByteArray>& ids);

} // namespace

int runPass(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(*argc, *argv);
    // The libraries under the window (fonts above all) set themselves up on first use and keep
    // what they make for good; done here, that is not taken for a leak of the first input.
    static const uint8_t kPlainPass[] = {0x0c, 0,    0, 0, 0,    1, 0, 63, 0,
                                         1,    0x09, 1, 0, 0x08, 0, 0, 0};
    runPass(kPlainPass, sizeof kPlainPass);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return runPass(data, size);
}

int runPass(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    Behaviour behaviour;
    const uint8_t flags = input.takeByte();
    behaviour.framing = Framing(flags & 3);
    behaviour.capa = flags & 4;
    behaviour.pipelining = flags & 8;
    behaviour.uidl = flags & 16;
    behaviour.trueSizes = !(flags & 32);
    behaviour.quitAnswered = !(flags & 64);
    behaviour.deleNeverAnswered = flags & 128;
    behaviour.refusedCommand = input.takeByte();
    behaviour.extraAfterReply = input.takeByte();
    const quint16 drop = quint16(input.takeByte() | (input.takeByte() << 8));
    behaviour.dropAtByte = drop == 0 ? -1 : drop;
    behaviour.seed = quint32(input.takeByte() | (input.takeByte() << 8));
    const uint8_t chunk = input.takeByte();
    behaviour.largestChunk = 1 + chunk % 64;
    behaviour.oauth = chunk & 64;
    behaviour.bearerOnly = chunk & 128;
    const uint8_t delay = input.takeByte();
    behaviour.longestDelayMs = 100 * (delay % 64);
    behaviour.refuseFirstToken = delay & 64;
    behaviour.challengeTwice = delay & 128;
    const int messages = 1 + input.takeByte() % 6;
    const auto slots = static_cast<size_t>(messages);
    std::vector<std::vector<std::pair<uint8_t, uint8_t>>> recipes(slots);
    std::vector<uint8_t> headers(slots);
    std::vector<bool> cutEnd(slots);
    for (int m = 0; m < messages; ++m) {
        const uint8_t shape = input.takeByte();
        headers[size_t(m)] = shape & 3;
        cutEnd[size_t(m)] = shape & 4;
        const int fragments = (shape >> 3) % 12;
        for (int f = 0; f < fragments; ++f) {
            const uint8_t kind = input.takeByte();
            recipes[size_t(m)].emplace_back(kind, input.takeByte());
        }
    }
    // What sloppy servers send that nobody asked for: a stray line end, a status line or an empty
    // reply sent twice, a stray dot, some text.
    static const char* const kExtras[] = {"\r\n",         "+OK\r\n",  "-ERR\r\n", ".\r\n",
                                          "+OK\r\n.\r\n", "oops\r\n", "\n"};
    behaviour.extra = kExtras[input.takeByte() % std::size(kExtras)];
    const uint8_t memory = input.takeByte();
    const Ids ids = Ids(memory & 3);
    const int newMessages = (memory >> 2) & 3;
    const bool behavesAfterwards = memory & 16;
    BytePool pool(input.takeRest());
    std::vector<QByteArray> stored;
    for (int m = 0; m < messages; ++m) {
        QByteArray message = header(headers[size_t(m)]);
        for (const auto& [kind, parameter] : recipes[size_t(m)])
            message += fragment(kind, parameter, pool);
        if (cutEnd[size_t(m)] && message.endsWith("\r\n"))
            message.chop(2);
        stored.push_back(message);
    }

    World& w = world();
    // Every input starts without a memory of judged messages.
    QFile::remove(w.folder.filePath(QStringLiteral("judged.dat")));

    // The first pass; each message is known by its serial, its id derived from it.
    std::vector<int> serials;
    for (int m = 1; m <= messages; ++m)
        serials.push_back(m);
    const auto idsOf = [ids](const std::vector<int>& of, bool secondPass) {
        std::vector<QByteArray> result;
        for (size_t i = 0; i < of.size(); ++i) {
            // Handed on: the id the next message had.
            const int serial = ids == Ids::HandedOn && secondPass ? of[(i + 1) % of.size()] : of[i];
            QByteArray id = "id" + QByteArray::number(serial);
            if (ids == Ids::Shared && i < 2)
                id = "shared";
            if (ids == Ids::Malformed && i == 0)
                id = "bad id";
            if (ids == Ids::Malformed && i == 1)
                id = QByteArray(71, 'x');
            result.push_back(id);
        }
        return result;
    };
    const std::vector<QByteArray> firstIds = idsOf(serials, false);
    const PassOutcome first = scanOnce(w, behaviour, stored, firstIds);
    std::set<int> retrievedFirst;
    for (const int n : first.retrieved)
        retrievedFirst.insert(serials[size_t(n - 1)]);

    // The second pass over what is left, perhaps with new messages (copies of the first ones under
    // serials of their own).
    std::vector<QByteArray> left;
    std::vector<int> leftSerials;
    for (int n = 1; n <= messages; ++n) {
        if (first.removed.count(n) == 0) {
            left.push_back(stored[size_t(n - 1)]);
            leftSerials.push_back(serials[size_t(n - 1)]);
        }
    }
    for (int k = 0; k < newMessages; ++k) {
        left.push_back(stored[size_t(k % messages)]);
        leftSerials.push_back(messages + k + 1);
    }
    if (left.empty())
        return 0;
    Behaviour again = behaviour;
    if (behavesAfterwards) {
        again.refusedCommand = 0;
        again.extraAfterReply = 0;
        again.dropAtByte = -1;
        again.deleNeverAnswered = false;
        again.quitAnswered = true;
    }
    const std::vector<QByteArray> secondIds = idsOf(leftSerials, true);
    const PassOutcome second = scanOnce(w, again, left, secondIds);
    if (ids != Ids::HandedOn && second.quit && behaviour.uidl) {
        for (size_t i = 0; i < left.size(); ++i) {
            const int n = int(i) + 1;
            if (second.retrieved.count(n))
                continue;
            // Passed over: judged in the first pass, under the id it has now, which no other
            // message had then. (A lone message listed as "shared" is such a message.)
            const int serial = leftSerials[i];
            FUZZ_CHECK(retrievedFirst.count(serial) == 1);
            FUZZ_CHECK(serial <= messages && firstIds[size_t(serial - 1)] == secondIds[i]);
            FUZZ_CHECK(std::count(firstIds.begin(), firstIds.end(), secondIds[i]) == 1);
        }
    }
    return 0;
}

namespace {

// One scan pass over a model server holding these messages with these ids, and the checks that
// hold for any pass.
PassOutcome scanOnce(World& w, const Behaviour& behaviour, const std::vector<QByteArray>& stored,
                     const std::vector<QByteArray>& ids) {
    static std::unique_ptr<Session> previous;
    auto session = std::make_unique<Session>();
    session->server = std::make_unique<ModelServer>(session->network, behaviour, stored, ids);
    auto waiter = std::make_unique<SimulatedWait>(session->network);
    const SimulatedWait* wait = waiter.get();
    auto pop = std::make_unique<FreePOP>(std::move(waiter));
    pop->setTransportFactory(MemoryTransport::factory(session->network, *session->server));
    pop->setPoptimeout(30);
    Pop3Limits limits;
    limits.maxMessageLine = 8 * 1024;
    limits.maxMessageSize = 64 * 1024;
    pop->setLimits(limits);
    // Signing in with a token goes over TLS only: the memory connection counts as implicit TLS.
    pop->setTokenSource(std::make_shared<CountingTokens>());
    w.form->gridAccounts->setCelltext(1, 1,
                                      behaviour.oauth
                                          ? QStringLiteral("pop3s+oauth2://mail.example.org")
                                          : QStringLiteral("mail.example.org"));
    FUZZ_CHECK(w.form->replaceMailbox(std::move(pop)));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    previous.reset();

    const QString archive = w.folder.filePath(QStringLiteral("SpamDeleted"));
    QDir(archive).removeRecursively();
    module_scan(*w.form);
    FUZZ_CHECK(!wait->hung());

    const ModelServer& server = *session->server;
    QList<QByteArray> originals;
    const QStringList pages = QDir(archive).entryList(QDir::Files);
    for (const QString& name : pages) {
        QFile page(QDir(archive).filePath(name));
        FUZZ_CHECK(page.open(QIODevice::ReadOnly));
        const std::optional<QByteArray> original = recoverPageSource(page.readAll());
        FUZZ_CHECK(original.has_value());
        originals.append(*original);
    }
    // CORVANTA_FUZZ_EXPLAIN=1 prints the mailbox, what the server removed and the pages.
    if (qEnvironmentVariableIsSet("CORVANTA_FUZZ_EXPLAIN")) {
        for (int n = 1; n <= server.count(); ++n)
            fprintf(stderr, "message %d%s: %s\n", n, server.removed().count(n) ? " (removed)" : "",
                    server.trueContent(n).toPercentEncoding(" <>@:").constData());
        for (const QByteArray& original : std::as_const(originals))
            fprintf(stderr, "page: %s\n", original.toPercentEncoding(" <>@:").constData());
    }
    for (int n : server.removed()) {
        const QByteArray content = server.trueContent(n);
        if (behaviour.framing == Framing::NoStuffing && !isOrdinary(content))
            continue;
        FUZZ_CHECK(holdsKeyword(content));
        FUZZ_CHECK(originals.contains(content));
    }
    PassOutcome outcome{server.removed(), server.retrieved(), server.quitReceived()};
    previous = std::move(session);
    return outcome;
}

} // namespace
