#pragma once

#include "scan/eventloopwait.h"
#include "scan/pop3/pop3error.h"
#include "scan/pop3/pop3mailbox.h"
#include "scan/pop3/pop3replyreader.h"

#include <QByteArray>
#include <QFuture>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

class Pop3Connection;

// How long an operation may take: the moment it must be done by, and the whole span in seconds,
// for texts.
struct Pop3Deadline {
    WaitDeadline at;
    int seconds = 0;
};

// A command of the open session: sent, or waiting its turn; then its reply, or the failure that
// took its place.
struct Pop3Command {
    // Sasl: a status line or a SASL continuation, for AUTH and the answers to its challenges.
    enum class Reply { Status, MultiLine, Sasl };

    QByteArray line; // empty for the greeting, which is read without a command
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
    bool continuation = false; // the reply was a SASL challenge (statusText holds its base64)
    QByteArray statusText;
    QByteArray body;
    Pop3Failure failure; // set when no usable reply came (message too large, connection lost...)
    QFuture<ParsedResult> parse; // RETR: the parse of the message, started when it came in
};
using Pop3CommandPtr = std::shared_ptr<Pop3Command>;

// The commands of one session and their replies, over a connection. Commands go out in order and
// their replies are read in that order, each matched to its command as it comes in, also between
// operations. To a server that announced PIPELINING every command goes out at once (but for those
// sent alone); to any other, each waits for the reply before it.
//
// Where the replies stop making sense (a status line that is not POP3, data nobody asked for),
// the connection is dropped: where one reply ends, and so where the next begins, cannot be told
// any more, and a session that ends without QUIT deletes nothing.
class Pop3Pipeline {
public:
    enum class Send { InTurn, Alone };

    Pop3Pipeline(Pop3Connection& connection, EventLoopWait& waiter);

    void setLimits(const Pop3Limits& limits) { m_reader.setLimits(limits); }
    Pop3Limits limits() const { return m_reader.limits(); }
    // Called with each retrieved message that is still wanted, as soon as its last line came in.
    void setMessageHandler(std::function<void(Pop3Command&)> handler) {
        m_onMessage = std::move(handler);
    }

    // For a new connection: nothing in line, nothing read, no pipelining.
    void reset();
    // Whether commands may go out before the replies to earlier ones (the server said PIPELINING).
    void setPipelining(bool on) { m_pipelining = on; }
    bool pipelining() const { return m_pipelining; }

    // The server's greeting, read like the reply to a command.
    Pop3CommandPtr expectGreeting();
    // Puts a command in line and sends it as soon as it may go. Null, with failure set, when the
    // server has sent something nobody asked for: it would be taken for this command's reply.
    Pop3CommandPtr send(const QByteArray& line, Pop3Command::Reply kind, Pop3Failure& failure,
                        int number = 0, Send when = Send::InTurn);
    // Waits until the command's reply has been read (check its failure), or no reply can come:
    // the connection is lost, the time ran out, or the program is quitting. In the last two cases
    // every command still in line fails as well, and the connection is dropped, since a late
    // answer would be taken for the answer to the next command.
    Pop3Failure waitFor(const Pop3Command& command, const Pop3Deadline& deadline);
    // Waits for the replies to every command in line.
    Pop3Failure waitForAll(const Pop3Deadline& deadline);
    // Bytes received that no command has taken.
    qsizetype unread() const { return m_reader.pendingSize(); }

    // The message sizes a LIST reply gives, kept to bound what is asked for ahead.
    void setListing(const QByteArray& listing, int count);
    // The messages the caller is going to fetch: wanted[n] for message n. Only these are asked for
    // ahead; every message is when the vector is empty (the default) or too short to say.
    void setWanted(std::vector<bool> wanted) { m_wanted = std::move(wanted); }
    // After message n of count, asks for the wanted messages after it, so that they come in while n
    // is being looked at: only from a server with PIPELINING, never past the last. held: the bytes
    // of the message the caller holds now.
    void fetchAhead(int n, int count, qsizetype held);
    // The retrieval of message n asked for ahead, taken out of the messages asked for ahead; the
    // ones before it are given up. Null when n was not asked for ahead.
    Pop3CommandPtr claimAhead(int n);
    // Gives up the messages asked for ahead: their replies are read past and thrown away.
    void forgetAhead() { m_ahead.clear(); }

    // The sizes in a LIST reply ("<number> <octets>" a line), by message number; a line that does
    // not fit leaves its message's size unknown (-1).
    static std::vector<qsizetype> parseMessageSizes(const QByteArray& listing, int count);

private:
    void onData(const QByteArray& bytes);
    void sendQueued();
    void readReplies();
    void failQueued(const Pop3Failure& failure);
    void dropOutOfStep(Pop3Command* command, const QString& reason, Pop3Failure failure);
    Pop3Failure readerFailure() const;
    int nextWanted(int after, int count) const;

    Pop3Connection& m_connection;
    EventLoopWait& m_waiter;
    Pop3ReplyReader m_reader;
    std::function<void(Pop3Command&)> m_onMessage;
    bool m_pipelining = false;
    // Message sizes from LIST, by number from 1; -1 where unknown.
    std::vector<qsizetype> m_sizes;
    // The messages the caller will fetch, by number; empty for all.
    std::vector<bool> m_wanted;
    // The commands whose replies have not been read, in the order they go out (without PIPELINING
    // only the first has been sent), and the retrievals of the messages after the current one,
    // asked for ahead and not claimed yet, in order.
    std::deque<Pop3CommandPtr> m_queue;
    std::deque<Pop3CommandPtr> m_ahead;
};
