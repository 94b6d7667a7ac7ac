// The POP3 client against servers in memory on a simulated clock: what takes minutes of waiting
// against a real server (a reply that never comes, one that trickles in byte by byte) runs at
// once, and the same way every time.
#include "scan/pop3/FreePOP.h"
#include "support/simulatednetwork.h"

#include <QElapsedTimer>
#include <QTest>

#include <functional>
#include <memory>

namespace {

// A server that answers each command line with what answer() returns for it (nothing: silence),
// every reply cut into pieces of `piece` bytes that arrive `gapMs` apart.
class LineServer : public MemoryServer {
public:
    std::function<QByteArray(const QByteArray& line)> answer;
    int piece = 1 << 20;
    int gapMs = 0;
    QList<QByteArray> lines;

    void connected(MemoryTransport& transport) override { send(transport, "+OK ready\r\n"); }
    void received(MemoryTransport& transport, const QByteArray& bytes) override {
        m_buffer += bytes;
        for (qsizetype end; (end = m_buffer.indexOf("\r\n")) >= 0;) {
            const QByteArray line = m_buffer.left(end);
            m_buffer.remove(0, end + 2);
            lines.append(line);
            send(transport, answer(line));
        }
    }
    void aborted(MemoryTransport&) override {}

    SimulatedNetwork network;

private:
    void send(MemoryTransport& transport, const QByteArray& reply) {
        for (qsizetype at = 0; at < reply.size(); at += piece) {
            m_last = qMax(m_last, network.now()) + gapMs;
            transport.deliver(reply.mid(at, piece), m_last);
        }
    }
    QByteArray m_buffer;
    qint64 m_last = 0;
};

QByteArray plainAnswer(const QByteArray& line) {
    if (line == "STAT")
        return "+OK 1 60\r\n";
    if (line == "RETR 1")
        return "+OK\r\nFrom: a@example.org\r\nSubject: hi\r\n\r\n..dot\r\n.\r\n";
    if (line == "CAPA" || line == "UIDL")
        return "-ERR\r\n";
    return "+OK\r\n";
}

std::unique_ptr<FreePOP> clientOf(LineServer& server) {
    auto pop = std::make_unique<FreePOP>(std::make_unique<SimulatedWait>(server.network));
    pop->setTransportFactory(MemoryTransport::factory(server.network, server));
    pop->setPophostname(QStringLiteral("mail.example.org"));
    pop->setPopusername(QStringLiteral("alice"));
    pop->setPoppassword(QStringLiteral("secret"));
    return pop;
}

} // namespace

class TestPop3Memory : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void anUnansweredDeletionTimesOutWithoutQuit();
    void repliesTricklingInByteByByte();
};

void TestPop3Memory::anUnansweredDeletionTimesOutWithoutQuit() {
    LineServer server;
    server.answer = [](const QByteArray& line) {
        return line.startsWith("DELE") ? QByteArray() : plainAnswer(line);
    };
    auto pop = clientOf(server);
    QElapsedTimer clock;
    clock.start();
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);
    pop->FetchMessage(1);
    pop->CompleteFetch();
    pop->DeleteMessage();
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::TimedOut));
    QVERIFY(!server.lines.contains("QUIT"));
    // Two minutes on the simulated clock, next to nothing of real time.
    QVERIFY(server.network.now() >= 120 * 1000);
    QVERIFY(clock.elapsed() < 5000);
}

void TestPop3Memory::repliesTricklingInByteByByte() {
    // Every byte a second after the one before: each operation's time-out bounds the whole
    // operation, so a reply longer than the time-out in seconds fails, and a shorter one comes in.
    LineServer server;
    server.answer = plainAnswer;
    server.piece = 1;
    server.gapMs = 1000;
    auto pop = clientOf(server);
    pop->setPoptimeout(45);
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);
    pop->FetchMessage(1);
    QCOMPARE(pop->ErrorCode(), int(FreePOP::TimedOut));

    LineServer quick;
    quick.answer = plainAnswer;
    quick.piece = 1;
    quick.gapMs = 10;
    auto client = clientOf(quick);
    client->Connect();
    client->FetchMessage(1);
    QCOMPARE(client->ErrorCode(), 0);
    QCOMPARE(client->rawMessage(),
             QByteArray("From: a@example.org\r\nSubject: hi\r\n\r\n.dot\r\n"));
    client->Disconnect();
    QCOMPARE(client->ErrorCode(), 0);
    QCOMPARE(quick.lines.last(), QByteArray("QUIT"));
}

QTEST_GUILESS_MAIN(TestPop3Memory)
#include "tst_pop3memory.moc"
