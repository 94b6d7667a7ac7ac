#include "scan/pop3/FreePOP.h"
#include "scan/pop3/pop3replyreader.h"
#include "scan/pop3/serveraddress.h"
#include "support/scriptedpop3server.h"
#include "support/tempfolder.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {

const QString kUser = QStringLiteral("alice");
const QString kPassword = QStringLiteral("open-sesame-42");

// Far below any time-out in these tests: an operation on a broken session must not wait.
constexpr qint64 kFastMs = 500;

QByteArray simpleMessage(const QByteArray& subject, const QByteArray& body = "Hello.\r\n") {
    return "From: Sender <sender@example.com>\r\nTo: alice@example.com\r\nSubject: " + subject +
           "\r\n\r\n" + body;
}

std::unique_ptr<FreePOP> clientFor(const ScriptedPop3Server& server, int timeoutSeconds = 10) {
    auto pop = std::make_unique<FreePOP>();
    pop->setPophostname(server.address());
    pop->setPopusername(kUser);
    pop->setPoppassword(kPassword);
    pop->setPoptimeout(timeoutSeconds);
    return pop;
}

} // namespace

class TestPop3Session : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void defaults();
    void logsInAndCountsMessages();
    void loginRefused_data();
    void loginRefused();
    void refusesLineBreaksInCredentials();
    void retrievesMessagesDotUnstuffed();
    void acceptsBareLineFeedsAndNulBytes();
    void refusedMessageKeepsSessionUsable();
    void deletesAndQuitsInOrder();
    void reachesServerOnItsPort();
    void parsesServerAddresses_data();
    void parsesServerAddresses();
    void connectionFailures();
    void brokenServers_data();
    void brokenServers();
    void slowServersTimeOut_data();
    void slowServersTimeOut();
    void oversizedMessagesAreSkipped_data();
    void oversizedMessagesAreSkipped();
    void connectWhileOpenStartsAfresh();
    void disconnectWithoutConnectionDoesNothing();
    void callsDuringAWaitAreRefused();
    void readsDescribeTheCompletedMessage();
    void savesTheCurrentMessage();
    void readerIsIndependentOfChunking();
};

void TestPop3Session::defaults() {
    FreePOP pop;
    QCOMPARE(pop.popport(), 110);
    QCOMPARE(pop.poptimeout(), 120);
    QVERIFY(pop.pophostname().isEmpty());
    QCOMPARE(pop.MessageCount(), 0);
    // Nothing fetched: every per-message call fails without a connection.
    pop.CompleteFetch();
    QCOMPARE(pop.ErrorCode(), int(FreePOP::NoCurrentMessage));
    pop.DeleteMessage();
    QCOMPARE(pop.ErrorCode(), int(FreePOP::NoCurrentMessage));
    pop.FetchMessage(1);
    QCOMPARE(pop.ErrorCode(), int(FreePOP::NotConnected));
}

void TestPop3Session::logsInAndCountsMessages() {
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.login(kUser, kPassword, 3).quit();

    auto pop = clientFor(server);
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY(pop->errorString().isEmpty());
    QCOMPARE(pop->MessageCount(), 3);
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->MessageCount(), 0);

    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
    QVERIFY(server.isFinished());
    // Compared without printing: a failure must not show the password.
    QVERIFY(server.received() ==
            QStringList({QStringLiteral("USER alice"), QStringLiteral("PASS ") + kPassword,
                         QStringLiteral("STAT"), QStringLiteral("QUIT")}));
}

void TestPop3Session::loginRefused_data() {
    QTest::addColumn<bool>("atUser");
    QTest::addColumn<QByteArray>("refusal");
    QTest::newRow("user") << true << QByteArray("-ERR no such mailbox");
    // A server that quotes the password back must not get it into the error text.
    QTest::newRow("password") << false << QByteArray("-ERR wrong password open-sesame-42");
}

void TestPop3Session::loginRefused() {
    QFETCH(bool, atUser);
    QFETCH(QByteArray, refusal);

    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.reply("+OK ready").expectLine(QStringLiteral("USER alice"));
    if (atUser) {
        server.reply(refusal);
    } else {
        server.reply("+OK").expectLine(QStringLiteral("PASS ") + kPassword).reply(refusal);
    }
    server.stall();

    auto pop = clientFor(server);
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::LoginRefused));
    QVERIFY(!pop->errorString().contains(kPassword));
    QCOMPARE(pop->MessageCount(), 0);
    // A refused USER means the password never went out.
    QCOMPARE(server.received().size(), atUser ? 1 : 2);
    // The connection is given up: the server sees it close, and later calls do not reach it.
    QTRY_VERIFY(!server.hasClient());
    pop->FetchMessage(1);
    QCOMPARE(pop->ErrorCode(), int(FreePOP::NotConnected));
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
}

void TestPop3Session::refusesLineBreaksInCredentials() {
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.stall();

    auto pop = clientFor(server);
    pop->setPopusername(QStringLiteral("alice\r\nDELE 1"));
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::BadArgument));
    pop->setPopusername(kUser);
    pop->setPoppassword(QStringLiteral("secret\nDELE 1"));
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::BadArgument));
    QVERIFY(!pop->errorString().contains(QLatin1String("secret")));
    QCOMPARE(server.connectionCount(), 0);
}

void TestPop3Session::retrievesMessagesDotUnstuffed() {
    // Lines that start with a dot, a line that is a lone dot, and a last line without CRLF.
    const QByteArray tricky = simpleMessage("dots", ".\r\n..two dots\r\n.hidden\r\nend .\r\n.");
    const QByteArray plain = simpleMessage("plain");

    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.login(kUser, kPassword, 2).message(1, tricky).message(2, plain).quit();

    auto pop = clientFor(server);
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);
    pop->FetchMessage(1);
    QCOMPARE(pop->ErrorCode(), 0);
    // The server adds the missing line end; everything else comes back byte for byte.
    QCOMPARE(pop->rawMessage(), tricky + "\r\n");
    pop->FetchMessage(2);
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->rawMessage(), plain);
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
}

void TestPop3Session::acceptsBareLineFeedsAndNulBytes() {
    const QByteArray message("Subject: sloppy\n\nbody with a \0 byte\n..stuffed\n", 46);
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.send(QByteArray("+OK ready \0 with a nul\n", 23))
        .expectLine(QStringLiteral("USER alice"))
        .send("+OK\n")
        .expectLine(QStringLiteral("PASS ") + kPassword)
        .send("+OK\n")
        .expectLine(QStringLiteral("STAT"))
        .send("+OK 1 46\n")
        .expectLine(QStringLiteral("RETR 1"))
        .send("+OK\n" + message + ".\n")
        .quit();

    auto pop = clientFor(server);
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->MessageCount(), 1);
    pop->FetchMessage(1);
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->rawMessage(),
             QByteArray("Subject: sloppy\n\nbody with a \0 byte\n.stuffed\n", 45));
    pop->CompleteFetch();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->Subject(), QStringLiteral("sloppy"));
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
}

void TestPop3Session::refusedMessageKeepsSessionUsable() {
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.login(kUser, kPassword, 3)
        .message(1, simpleMessage("one"))
        .expectLine(QStringLiteral("RETR 2"))
        .reply("-ERR no such message")
        .message(3, simpleMessage("three"))
        .quit();

    auto pop = clientFor(server);
    pop->Connect();
    pop->FetchMessage(1);
    QCOMPARE(pop->ErrorCode(), 0);
    pop->FetchMessage(2);
    QCOMPARE(pop->ErrorCode(), int(FreePOP::CommandRefused));
    // Message 1 is no longer current: nothing to parse, nothing to delete.
    QVERIFY(pop->rawMessage().isEmpty());
    pop->CompleteFetch();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::NoCurrentMessage));
    pop->DeleteMessage();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::NoCurrentMessage));
    pop->FetchMessage(3);
    QCOMPARE(pop->ErrorCode(), 0);
    pop->CompleteFetch();
    QCOMPARE(pop->Subject(), QStringLiteral("three"));
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
}

void TestPop3Session::deletesAndQuitsInOrder() {
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.login(kUser, kPassword, 2)
        .message(1, simpleMessage("spam"))
        .expectLine(QStringLiteral("DELE 1"))
        .reply("+OK marked")
        .message(2, simpleMessage("also spam"))
        .expectLine(QStringLiteral("DELE 2"))
        .reply("-ERR message locked")
        .quit();

    auto pop = clientFor(server);
    pop->Connect();
    pop->FetchMessage(1);
    pop->DeleteMessage();
    QCOMPARE(pop->ErrorCode(), 0);
    pop->FetchMessage(2);
    QCOMPARE(pop->ErrorCode(), 0);
    pop->DeleteMessage();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::CommandRefused));
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
    QVERIFY(server.isFinished());
    QCOMPARE(
        server.received().mid(3),
        QStringList({QStringLiteral("RETR 1"), QStringLiteral("DELE 1"), QStringLiteral("RETR 2"),
                     QStringLiteral("DELE 2"), QStringLiteral("QUIT")}));
}

void TestPop3Session::reachesServerOnItsPort() {
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.login(kUser, kPassword, 0).quit().login(kUser, kPassword, 0).quit();

    // The port written into the server cell wins over popport.
    auto pop = clientFor(server);
    pop->setPophostname(QStringLiteral(" 127.0.0.1:%1 ").arg(server.port()));
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);
    pop->Disconnect();

    // A bare host is reached on popport.
    pop->setPophostname(QStringLiteral("127.0.0.1"));
    pop->setPopport(server.port());
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(server.connectionCount(), 2);
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
}

void TestPop3Session::parsesServerAddresses_data() {
    QTest::addColumn<QString>("cell");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("bare host") << "mail.example.com" << true << "mail.example.com" << 110;
    QTest::newRow("host and port") << "mail.example.com:1110" << true << "mail.example.com" << 1110;
    QTest::newRow("blanks around")
        << "  mail.example.com:995 " << true << "mail.example.com" << 995;
    QTest::newRow("ipv4") << "192.0.2.7:2110" << true << "192.0.2.7" << 2110;
    QTest::newRow("bare ipv6") << "2001:db8::1" << true << "2001:db8::1" << 110;
    QTest::newRow("bracketed ipv6") << "[::1]" << true << "::1" << 110;
    QTest::newRow("bracketed ipv6 and port") << "[::1]:1110" << true << "::1" << 1110;
    QTest::newRow("empty") << "" << false << "" << 0;
    QTest::newRow("blank") << "   " << false << "" << 0;
    QTest::newRow("empty port") << "mail.example.com:" << false << "" << 0;
    QTest::newRow("port zero") << "mail.example.com:0" << false << "" << 0;
    QTest::newRow("port too big") << "mail.example.com:65536" << false << "" << 0;
    QTest::newRow("port not a number") << "mail.example.com:pop" << false << "" << 0;
    QTest::newRow("signed port") << "mail.example.com:+25" << false << "" << 0;
    QTest::newRow("port only") << ":110" << false << "" << 0;
    QTest::newRow("unclosed bracket") << "[::1" << false << "" << 0;
    QTest::newRow("junk after bracket") << "[::1]x" << false << "" << 0;
}

void TestPop3Session::parsesServerAddresses() {
    QFETCH(QString, cell);
    QFETCH(bool, valid);
    QFETCH(QString, host);
    QFETCH(int, port);

    const std::optional<ServerAddress> address = parseServerAddress(cell, 110);
    QCOMPARE(address.has_value(), valid);
    if (valid) {
        QCOMPARE(address->host, host);
        QCOMPARE(int(address->port), port);
    }
}

void TestPop3Session::connectionFailures() {
    // A port nobody listens on: refused at once, not after the time-out.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    const quint16 closedPort = probe.serverPort();
    probe.close();

    FreePOP pop;
    pop.setPoptimeout(30);
    pop.setPophostname(QStringLiteral("127.0.0.1:%1").arg(closedPort));
    QElapsedTimer clock;
    clock.start();
    pop.Connect();
    QCOMPARE(pop.ErrorCode(), int(FreePOP::ConnectionFailed));
    QVERIFY(!pop.errorString().isEmpty());
    QVERIFY(clock.elapsed() < 5000);

    pop.setPophostname(QStringLiteral("mail.example.com:pop"));
    pop.Connect();
    QCOMPARE(pop.ErrorCode(), int(FreePOP::ConnectionFailed));
    pop.setPophostname(QString());
    pop.Connect();
    QCOMPARE(pop.ErrorCode(), int(FreePOP::ConnectionFailed));
    pop.setPophostname(QStringLiteral("127.0.0.1"));
    pop.setPopport(0);
    pop.Connect();
    QCOMPARE(pop.ErrorCode(), int(FreePOP::ConnectionFailed));
}

void TestPop3Session::brokenServers_data() {
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("duringLogin");
    QTest::addColumn<int>("error");
    QTest::newRow("garbage greeting") << 0 << true << int(FreePOP::ProtocolError);
    QTest::newRow("garbage status after RETR") << 1 << false << int(FreePOP::ProtocolError);
    QTest::newRow("overlong status line") << 2 << false << int(FreePOP::ProtocolError);
    QTest::newRow("dropped in the middle of a message")
        << 3 << false << int(FreePOP::ConnectionLost);
    QTest::newRow("dropped before the terminator") << 4 << false << int(FreePOP::ConnectionLost);
    QTest::newRow("dropped in the middle of an overlong line")
        << 5 << false << int(FreePOP::ConnectionLost);
    QTest::newRow("dropped before the greeting") << 6 << true << int(FreePOP::ConnectionLost);
    QTest::newRow("STAT without a count") << 7 << true << int(FreePOP::ProtocolError);
    QTest::newRow("an answer too many") << 8 << false << int(FreePOP::ProtocolError);
}

void TestPop3Session::brokenServers() {
    QFETCH(int, fault);
    QFETCH(bool, duringLogin);
    QFETCH(int, error);

    ScriptedPop3Server server;
    QVERIFY(server.listen());
    switch (fault) {
    case 0:
        server.reply("HELLO THERE").stall();
        break;
    case 6:
        server.drop();
        break;
    case 7:
        server.reply("+OK ready")
            .expect(QStringLiteral("USER .*"))
            .reply("+OK")
            .expect(QStringLiteral("PASS .*"))
            .reply("+OK")
            .expectLine(QStringLiteral("STAT"))
            .reply("+OK many")
            .stall();
        break;
    case 8:
        server.reply("+OK ready")
            .expect(QStringLiteral("USER .*"))
            .reply("+OK")
            .expect(QStringLiteral("PASS .*"))
            .reply("+OK")
            .expectLine(QStringLiteral("STAT"))
            .send("+OK 2 2000\r\n+OK a second answer nobody asked for\r\n")
            .stall();
        break;
    default:
        server.login(kUser, kPassword, 2).expectLine(QStringLiteral("RETR 1"));
        if (fault == 1)
            server.reply("* 1 FETCH (BODY[] {12}").stall();
        else if (fault == 2)
            server.send("+OK " + QByteArray(20000, 'x')).stall();
        else if (fault == 3)
            server.send("+OK\r\nSubject: cut\r\n\r\nhalf a li").drop();
        else if (fault == 4)
            server.send("+OK\r\nSubject: cut\r\n\r\nwhole lines only\r\n").drop();
        else if (fault == 5)
            server.send("+OK\r\nSubject: long\r\n\r\n" + QByteArray(5000, 'y')).drop();
        break;
    }

    auto pop = clientFor(server, 30);
    Pop3Limits limits;
    limits.maxMessageLine = 1000;
    pop->setLimits(limits);
    QElapsedTimer clock;
    clock.start();
    pop->Connect();
    if (duringLogin) {
        QCOMPARE(pop->ErrorCode(), error);
        QCOMPARE(pop->MessageCount(), 0);
    } else {
        QCOMPARE(pop->ErrorCode(), 0);
        pop->FetchMessage(1);
        QCOMPARE(pop->ErrorCode(), error);
        QVERIFY(pop->rawMessage().isEmpty());
    }
    // None of these waited for the time-out.
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));

    // The session is over: every later call fails at once, and no QUIT goes out, so nothing
    // marked could be removed by accident.
    clock.restart();
    pop->FetchMessage(2);
    QVERIFY(pop->ErrorCode() != 0);
    pop->DeleteMessage();
    QVERIFY(pop->ErrorCode() != 0);
    pop->Disconnect();
    if (!duringLogin)
        QCOMPARE(pop->ErrorCode(), int(FreePOP::ConnectionLost));
    QVERIFY(clock.elapsed() < kFastMs);
    QVERIFY(!server.received().contains(QStringLiteral("QUIT")));
    QVERIFY(!server.received().contains(QStringLiteral("RETR 2")));
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));

    // The next account starts afresh on a new connection.
    ScriptedPop3Server next;
    QVERIFY(next.listen());
    next.login(kUser, kPassword, 1).quit();
    pop->setPophostname(next.address());
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->MessageCount(), 1);
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
}

void TestPop3Session::slowServersTimeOut_data() {
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("duringLogin");
    QTest::newRow("silent before the greeting") << 0 << true;
    QTest::newRow("greeting one byte at a time") << 1 << true;
    QTest::newRow("silent after RETR") << 2 << false;
    QTest::newRow("message one byte at a time") << 3 << false;
}

void TestPop3Session::slowServersTimeOut() {
    QFETCH(int, kind);
    QFETCH(bool, duringLogin);

    ScriptedPop3Server server;
    QVERIFY(server.listen());
    // Each byte comes well within the time-out; the whole answer does not.
    const QByteArray greeting = "+OK a very slow server says hello\r\n";
    if (kind == 0) {
        server.stall();
    } else if (kind == 1) {
        server.drip(greeting, 100).stall();
    } else {
        server.login(kUser, kPassword, 1).expectLine(QStringLiteral("RETR 1"));
        if (kind == 2)
            server.stall();
        else
            server.drip("+OK\r\n" + simpleMessage("slow") + ".\r\n", 100).stall();
    }

    auto pop = clientFor(server, 1);
    QElapsedTimer clock;
    clock.start();
    pop->Connect();
    if (duringLogin) {
        QCOMPARE(pop->ErrorCode(), int(FreePOP::TimedOut));
    } else {
        QCOMPARE(pop->ErrorCode(), 0);
        clock.restart();
        pop->FetchMessage(1);
        QCOMPARE(pop->ErrorCode(), int(FreePOP::TimedOut));
    }
    QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    QTRY_VERIFY(!server.hasClient());

    clock.restart();
    pop->FetchMessage(1);
    QVERIFY(pop->ErrorCode() != 0);
    pop->Disconnect();
    QVERIFY(clock.elapsed() < kFastMs);
    QVERIFY(!server.received().contains(QStringLiteral("QUIT")));
}

void TestPop3Session::oversizedMessagesAreSkipped_data() {
    QTest::addColumn<QByteArray>("big");
    QTest::addColumn<int>("error");
    QByteArray large = simpleMessage("large");
    for (int i = 0; i < 100; ++i)
        large += "a line of a long message, repeated to pass the limit\r\n";
    QTest::newRow("message over the size limit") << large << int(FreePOP::MessageTooLarge);
    QTest::newRow("line over the line limit")
        << simpleMessage("long line", QByteArray(700, 'z') + "\r\nafter\r\n")
        << int(FreePOP::LineTooLong);
    // The limit holds while the line is still arriving, before any line end.
    QTest::newRow("line over the limit with dots after it")
        << simpleMessage("long line", "start\r\n" + QByteArray(3000, '.') + "\r\n.\r\n")
        << int(FreePOP::LineTooLong);
}

void TestPop3Session::oversizedMessagesAreSkipped() {
    QFETCH(QByteArray, big);
    QFETCH(int, error);

    const QByteArray small = simpleMessage("small");
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.login(kUser, kPassword, 2).message(1, big).message(2, small).quit();

    auto pop = clientFor(server);
    Pop3Limits limits;
    limits.maxMessageSize = 2000;
    limits.maxMessageLine = 500;
    pop->setLimits(limits);
    pop->Connect();
    pop->FetchMessage(1);
    QCOMPARE(pop->ErrorCode(), error);
    QVERIFY(pop->rawMessage().isEmpty());
    pop->DeleteMessage();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::NoCurrentMessage));
    // The rest of the big message was read past, so the next reply is read correctly.
    pop->FetchMessage(2);
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->rawMessage(), small);
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
}

void TestPop3Session::connectWhileOpenStartsAfresh() {
    ScriptedPop3Server first;
    QVERIFY(first.listen());
    first.login(kUser, kPassword, 2)
        .message(1, simpleMessage("one"))
        .expectLine(QStringLiteral("DELE 1"))
        .reply("+OK")
        .stall();
    ScriptedPop3Server second;
    QVERIFY(second.listen());
    second.login(kUser, kPassword, 5).quit();

    auto pop = clientFor(first);
    pop->Connect();
    pop->FetchMessage(1);
    pop->DeleteMessage();
    QCOMPARE(pop->ErrorCode(), 0);

    pop->setPophostname(second.address());
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->MessageCount(), 5);
    // The first session ended without QUIT: its deletion did not take effect.
    QTRY_VERIFY(!first.hasClient());
    QVERIFY(!first.received().contains(QStringLiteral("QUIT")));
    QVERIFY(pop->rawMessage().isEmpty());
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY2(second.failure().isEmpty(), qPrintable(second.failure()));
}

void TestPop3Session::disconnectWithoutConnectionDoesNothing() {
    FreePOP pop;
    pop.FetchMessage(0);
    QCOMPARE(pop.ErrorCode(), int(FreePOP::BadArgument));
    pop.Disconnect();
    QCOMPARE(pop.ErrorCode(), 0);
    pop.Disconnect();
    QCOMPARE(pop.ErrorCode(), 0);
}

void TestPop3Session::callsDuringAWaitAreRefused() {
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.login(kUser, kPassword, 1)
        .expectLine(QStringLiteral("RETR 1"))
        .drip("+OK\r\n" + simpleMessage("slow") + ".\r\n", 5)
        .quit();

    auto pop = clientFor(server);
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);

    // A timer fires while the fetch waits, as the window's timer would, and calls in.
    int innerError = -1;
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, this, [&] {
        ++ticks;
        if (innerError < 0) {
            pop->Disconnect();
            innerError = pop->ErrorCode();
        }
    });
    timer.start(10);
    pop->FetchMessage(1);
    timer.stop();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY(ticks > 0);
    QCOMPARE(innerError, int(FreePOP::Busy));
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(server.received().count(QStringLiteral("QUIT")), 1);
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
}

void TestPop3Session::readsDescribeTheCompletedMessage() {
    const QByteArray raw = "Received: from relay.example.net\r\n\tby mx.example.com\r\n"
                           "Received: from inner\r\n"
                           "From: =?utf-8?Q?J=C3=BCrgen?= <j@example.com>\r\n"
                           "Subject: =?iso-8859-1?B?R3L832U=?=\r\n"
                           "Content-Type: text/plain; charset=utf-8\r\n"
                           "Content-Transfer-Encoding: base64\r\n\r\n"
                           "RlJFRSBtb25leQ==\r\n";
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.login(kUser, kPassword, 1).message(1, raw).quit();

    auto pop = clientFor(server);
    pop->Connect();
    pop->FetchMessage(1);
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY(pop->Sender().isEmpty());
    pop->CompleteFetch();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->Sender(), QStringLiteral("J\u00fcrgen <j@example.com>"));
    QCOMPARE(pop->Subject(), QStringLiteral("Gr\u00fc\u00dfe"));
    QCOMPARE(pop->Body(), QStringLiteral("FREE money"));
    QCOMPARE(pop->HeaderValue(QStringLiteral("Received:")),
             QStringLiteral("from relay.example.net\tby mx.example.com"));
    QCOMPARE(pop->HeaderValue(QStringLiteral("X-Missing:")), QString());
    pop->Disconnect();
}

void TestPop3Session::savesTheCurrentMessage() {
    const QByteArray raw = simpleMessage("<b>Win</b>", "<script>alert(1)</script>\r\n");
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.login(kUser, kPassword, 1)
        .message(1, raw)
        .expectLine(QStringLiteral("DELE 1"))
        .reply("+OK")
        .quit();
    TempFolder folder;

    auto pop = clientFor(server);
    pop->SaveMessage(folder.file(QStringLiteral("none.html")));
    QCOMPARE(pop->ErrorCode(), int(FreePOP::NoCurrentMessage));
    pop->Connect();
    pop->FetchMessage(1);

    // Saved before CompleteFetch: the page still shows the decoded subject.
    pop->SaveMessage(folder.file(QStringLiteral("win.html")));
    QCOMPARE(pop->ErrorCode(), 0);
    const QByteArray page = folder.read(QStringLiteral("win.html"));
    QVERIFY(page.contains("<title>&lt;b&gt;Win&lt;/b&gt;</title>"));
    QVERIFY(page.contains("&lt;script&gt;alert(1)&lt;/script&gt;"));
    QVERIFY(!page.contains("<script"));

    // The archive folder is the caller's to create; a missing one is a failed write.
    const QString missing = folder.path() + QStringLiteral("/SpamDeleted/win.html");
    pop->SaveMessage(missing);
    QCOMPARE(pop->ErrorCode(), int(FreePOP::FileWriteFailed));
    QVERIFY(!QFileInfo::exists(missing));
    QVERIFY(!QFileInfo::exists(folder.path() + QStringLiteral("/SpamDeleted")));
    pop->SaveMessage(QString());
    QCOMPARE(pop->ErrorCode(), int(FreePOP::FileWriteFailed));

    // A failed save does not spoil the session.
    pop->DeleteMessage();
    QCOMPARE(pop->ErrorCode(), 0);
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
}

void TestPop3Session::readerIsIndependentOfChunking() {
    // A reply split at every possible point, including between CR and LF and right after a
    // line-leading dot, reads the same as in one piece.
    const QByteArray wire =
        "+OK 52 octets\r\nSubject: x\r\n\r\n...a\r\n..\r\nlast\n.\r\n+OK next\r\n";
    const QByteArray expected = "Subject: x\r\n\r\n..a\r\n.\r\nlast\n";
    for (qsizetype split = 1; split <= wire.size(); ++split) {
        Pop3ReplyReader reader;
        reader.expectMultiLine();
        Pop3ReplyReader::Outcome outcome = Pop3ReplyReader::Outcome::NeedMore;
        qsizetype fed = 0;
        while (fed < wire.size() && outcome == Pop3ReplyReader::Outcome::NeedMore) {
            // First the piece up to the split, then one byte at a time.
            const qsizetype length = fed == 0 ? split : 1;
            reader.append(wire.mid(fed, length));
            fed += length;
            outcome = reader.advance();
        }
        QCOMPARE(outcome, Pop3ReplyReader::Outcome::Complete);
        QVERIFY(reader.isPositive());
        QCOMPARE(reader.statusText(), QByteArray("52 octets"));
        QCOMPARE(reader.takeBody(), expected);
        // What follows the terminator is kept for the next reply.
        reader.append(wire.mid(fed));
        reader.expectStatus();
        QCOMPARE(reader.advance(), Pop3ReplyReader::Outcome::Complete);
        QCOMPARE(reader.statusText(), QByteArray("next"));
        QCOMPARE(reader.pendingSize(), 0);
    }
}

QTEST_GUILESS_MAIN(TestPop3Session)
#include "tst_pop3session.moc"
