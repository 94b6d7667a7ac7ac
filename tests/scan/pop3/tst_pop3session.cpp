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

QByteArray mail(const QByteArray& subject, const QByteArray& body = "Hello.\r\n") {
    return "From: Sender <sender@example.com>\r\nSubject: " + subject + "\r\n\r\n" + body;
}

std::unique_ptr<FreePOP> clientFor(const ScriptedPop3Server& server, int timeoutSeconds = 10) {
    auto pop = std::make_unique<FreePOP>();
    pop->setPophostname(server.address());
    pop->setPopusername(kUser);
    pop->setPoppassword(kPassword);
    pop->setPoptimeout(timeoutSeconds);
    return pop;
}

// After a session broke, every call fails at once and no QUIT goes out, so nothing marked for
// deletion is removed by accident.
void verifySessionIsOver(FreePOP& pop, const ScriptedPop3Server& server) {
    QElapsedTimer clock;
    clock.start();
    pop.FetchMessage(2);
    QVERIFY(pop.ErrorCode() != 0);
    pop.DeleteMessage();
    QVERIFY(pop.ErrorCode() != 0);
    pop.Disconnect();
    QVERIFY(clock.elapsed() < 500);
    QVERIFY(!server.received().contains(QStringLiteral("QUIT")));
}

} // namespace

class TestPop3Session : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void runsAWholeSession();
    void loginRefused_data();
    void loginRefused();
    void reachesServerOnItsPort();
    void parsesServerAddresses_data();
    void parsesServerAddresses();
    void parsesRequiredStls_data();
    void parsesRequiredStls();
    void brokenServers_data();
    void brokenServers();
    void slowServersTimeOut_data();
    void slowServersTimeOut();
    void oversizedMessagesAreSkipped_data();
    void oversizedMessagesAreSkipped();
    void callsDuringAWaitAreRefused();
    void readsAndSavesTheCurrentMessage();
    void readerIsIndependentOfChunking_data();
    void readerIsIndependentOfChunking();
    void statusLinesEndInCrLf();
};

void TestPop3Session::runsAWholeSession() {
    // Lines that start with a dot, a line that is a lone dot, a last line without CRLF.
    const QByteArray dotted = mail("dots", ".\r\n..two dots\r\n.hidden\r\nend .\r\n.");
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.login(kUser, kPassword, 3)
        .message(1, dotted)
        .expectLine(QStringLiteral("DELE 1"))
        .reply("+OK marked")
        .expectLine(QStringLiteral("RETR 2"))
        .reply("-ERR no such message")
        .message(3, mail("three"))
        .expectLine(QStringLiteral("DELE 3"))
        .reply("-ERR locked")
        .quit();

    auto pop = clientFor(server);
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->MessageCount(), 3);
    QVERIFY(pop->capabilities().isEmpty());
    QVERIFY(!pop->isEncrypted());
    pop->FetchMessage(1);
    QCOMPARE(pop->ErrorCode(), 0);
    // Byte for byte, except the line end the server had to add.
    QCOMPARE(pop->rawMessage(), dotted + "\r\n");
    pop->DeleteMessage();
    QCOMPARE(pop->ErrorCode(), 0);

    // A refused message leaves no current message behind, and the session usable.
    pop->FetchMessage(2);
    QCOMPARE(pop->ErrorCode(), int(FreePOP::CommandRefused));
    pop->CompleteFetch();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::NoCurrentMessage));
    pop->DeleteMessage();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::NoCurrentMessage));
    pop->FetchMessage(3);
    QCOMPARE(pop->ErrorCode(), 0);
    pop->DeleteMessage();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::CommandRefused));
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->MessageCount(), 0);
    // Without a connection, Disconnect has nothing to do.
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);

    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
    QVERIFY(server.isFinished());
    // Compared without printing: a failure must not show the password. The server knows no CAPA.
    QVERIFY(server.received().mid(0, 4) ==
            QStringList({QStringLiteral("CAPA"), QStringLiteral("USER alice"),
                         QStringLiteral("PASS ") + kPassword, QStringLiteral("STAT")}));
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
    if (!atUser)
        server.reply("+OK").expectLine(QStringLiteral("PASS ") + kPassword);
    server.reply(refusal).stall();

    auto pop = clientFor(server);
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::LoginRefused));
    QVERIFY(!pop->errorString().isEmpty());
    QVERIFY(!pop->errorString().contains(kPassword));
    // A refused USER means the password never went out.
    QCOMPARE(server.received().size(), atUser ? 2 : 3); // CAPA, USER and perhaps PASS
    QTRY_VERIFY(!server.hasClient());
    pop->FetchMessage(1);
    QCOMPARE(pop->ErrorCode(), int(FreePOP::NotConnected));

    // A line break would smuggle a command after the login name or password: nothing is sent.
    pop->setPoppassword(QStringLiteral("secret\r\nDELE 1"));
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::BadArgument));
    QVERIFY(!pop->errorString().contains(QLatin1String("secret")));
    QCOMPARE(server.connectionCount(), 1);
}

void TestPop3Session::reachesServerOnItsPort() {
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.login(kUser, kPassword, 2)
        .expectLine(QStringLiteral("UIDL"))
        .reply("-ERR no ids")
        .stall()
        .login(kUser, kPassword, 5)
        .quit();

    // A port in the server cell wins over popport; a bare host is reached on popport.
    auto pop = clientFor(server);
    pop->setPophostname(QStringLiteral(" 127.0.0.1:%1 ").arg(server.port()));
    pop->Connect();
    QCOMPARE(pop->MessageCount(), 2);
    pop->setPophostname(QStringLiteral("127.0.0.1"));
    pop->setPopport(server.port());
    // Connecting again drops the open session without QUIT, so nothing marked there is removed.
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->MessageCount(), 5);
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(server.connectionCount(), 2);
    QCOMPARE(server.received().count(QStringLiteral("QUIT")), 1);
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));

    // Nobody listening: refused at once, not after the time-out.
    QTcpServer probe;
    QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
    pop->setPophostname(QStringLiteral("127.0.0.1:%1").arg(probe.serverPort()));
    probe.close();
    pop->setPoptimeout(60);
    QElapsedTimer clock;
    clock.start();
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::ConnectionFailed));
    QVERIFY(clock.elapsed() < 5000);
    pop->setPophostname(QStringLiteral("mail.example.com:pop"));
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::ConnectionFailed));
}

void TestPop3Session::parsesServerAddresses_data() {
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("host"); // empty: not a usable server
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("tls");
    QTest::newRow("bare host") << "mail.example.com"
                               << "mail.example.com" << 110 << false;
    QTest::newRow("host and port") << " mail.example.com:1110 "
                                   << "mail.example.com" << 1110 << false;
    QTest::newRow("port 995 is TLS") << "mail.example.com:995"
                                     << "mail.example.com" << 995 << true;
    QTest::newRow("bare ipv6") << "2001:db8::1"
                               << "2001:db8::1" << 110 << false;
    QTest::newRow("bracketed ipv6") << "[::1]:1110"
                                    << "::1" << 1110 << false;
    QTest::newRow("pop3 URL") << "pop3://mail.example.com"
                              << "mail.example.com" << 110 << false;
    QTest::newRow("pop3s URL, any case, trailing slash") << "POP3S://Mail.Example.com/"
                                                         << "Mail.Example.com" << 995 << true;
    QTest::newRow("pop3s URL with port") << "pop3s://mail.example.com:9950"
                                         << "mail.example.com" << 9950 << true;
    QTest::newRow("pop3 URL on port 995") << "pop3://mail.example.com:995"
                                          << "mail.example.com" << 995 << true;
    QTest::newRow("pop3s URL, bracketed ipv6") << "pop3s://[2001:db8::25]:9950"
                                               << "2001:db8::25" << 9950 << true;
    QTest::newRow("port out of range") << "mail.example.com:65536"
                                       << "" << 0 << false;
    QTest::newRow("unclosed bracket") << "[::1"
                                      << "" << 0 << false;
    QTest::newRow("stray bracket") << "mail.example.com]:110"
                                   << "" << 0 << false;
    QTest::newRow("empty brackets") << "[]:110"
                                    << "" << 0 << false;
    QTest::newRow("unknown scheme") << "imap://mail.example.com"
                                    << "" << 0 << false;
    QTest::newRow("URL without host") << "pop3s://:995"
                                      << "" << 0 << false;
    QTest::newRow("URL with bad port") << "pop3s://mail.example.com:"
                                       << "" << 0 << false;
    QTest::newRow("ipv6 unbracketed in URL") << "pop3://2001:db8::1"
                                             << "" << 0 << false;
    QTest::newRow("URL with a path") << "pop3s://mail.example.com/inbox"
                                     << "" << 0 << false;
    QTest::newRow("URL with a user") << "pop3s://alice@mail.example.com"
                                     << "" << 0 << false;
}

void TestPop3Session::parsesServerAddresses() {
    QFETCH(QString, cell);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(bool, tls);
    const std::optional<ServerAddress> address = parseServerAddress(cell, 110);
    QCOMPARE(address.has_value(), !host.isEmpty());
    if (address) {
        QCOMPARE(address->host, host);
        QCOMPARE(int(address->port), port);
        QCOMPARE(address->implicitTls, tls);
        return;
    }
    // The component turns such a cell into a clear failure, without going to the network.
    FreePOP pop;
    pop.setPophostname(cell);
    pop.Connect();
    QCOMPARE(pop.ErrorCode(), int(FreePOP::ConnectionFailed));
    QVERIFY(pop.errorString().contains(cell.trimmed()));
}

void TestPop3Session::parsesRequiredStls_data() {
    QTest::addColumn<QString>("cell");
    QTest::addColumn<QString>("host"); // empty: not a usable server
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("tls");
    QTest::addColumn<bool>("stls");
    // The default port given below is 1110: a required upgrade means the usual port, 110.
    QTest::newRow("pop3+stls URL") << "pop3+stls://mail.example.com"
                                   << "mail.example.com" << 110 << false << true;
    QTest::newRow("any case, port, trailing slash") << " POP3+STLS://Mail.Example.com:1100/ "
                                                    << "Mail.Example.com" << 1100 << false << true;
    QTest::newRow("bracketed ipv6") << "pop3+stls://[2001:db8::25]"
                                    << "2001:db8::25" << 110 << false << true;
    QTest::newRow("port 995 is TLS from the start") << "pop3+stls://mail.example.com:995"
                                                    << "mail.example.com" << 995 << true << false;
    QTest::newRow("plain cells leave the upgrade to the server")
        << "mail.example.com"
        << "mail.example.com" << 1110 << false << false;
    QTest::newRow("pop3 URL") << "pop3://mail.example.com:110"
                              << "mail.example.com" << 110 << false << false;
    QTest::newRow("pop3s URL") << "pop3s://mail.example.com"
                               << "mail.example.com" << 995 << true << false;
    QTest::newRow("no host") << "pop3+stls://:110"
                             << "" << 0 << false << false;
    QTest::newRow("a path") << "pop3+stls://mail.example.com/inbox"
                            << "" << 0 << false << false;
    QTest::newRow("misspelt scheme") << "pop3+tls://mail.example.com"
                                     << "" << 0 << false << false;
}

void TestPop3Session::parsesRequiredStls() {
    QFETCH(QString, cell);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(bool, tls);
    QFETCH(bool, stls);
    const std::optional<ServerAddress> address = parseServerAddress(cell, 1110);
    QCOMPARE(address.has_value(), !host.isEmpty());
    if (!address)
        return;
    QCOMPARE(address->host, host);
    QCOMPARE(int(address->port), port);
    QCOMPARE(address->implicitTls, tls);
    QCOMPARE(address->requireStls, stls);
}

void TestPop3Session::brokenServers_data() {
    QTest::addColumn<QByteArray>("stage"); // the answer that goes wrong: greeting, STAT or RETR
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("dropAfter");
    QTest::addColumn<bool>("connects");
    QTest::addColumn<int>("error");

    QTest::newRow("garbage greeting") << QByteArray("greeting") << QByteArray("HELLO THERE\r\n")
                                      << false << false << int(FreePOP::ProtocolError);
    QTest::newRow("STAT without a count") << QByteArray("stat") << QByteArray("+OK many\r\n")
                                          << false << false << int(FreePOP::ProtocolError);
    // Replies are read in step with commands; a stray one must not pass as the next answer (here
    // the unique ids asked for right after STAT).
    QTest::newRow("an answer too many")
        << QByteArray("stat") << QByteArray("+OK 2 2000\r\n+OK stray\r\n") << false << false
        << int(FreePOP::ProtocolError);
    QTest::newRow("garbage status") << QByteArray("retr") << QByteArray("* 1 FETCH (BODY[])\r\n")
                                    << false << true << int(FreePOP::ProtocolError);
    QTest::newRow("overlong status line") << QByteArray("retr") << "+OK " + QByteArray(20000, 'x')
                                          << false << true << int(FreePOP::ProtocolError);
    QTest::newRow("dropped mid-line")
        << QByteArray("retr") << QByteArray("+OK\r\nSubject: cut\r\n\r\nhalf a li") << true << true
        << int(FreePOP::ConnectionLost);
}

void TestPop3Session::brokenServers() {
    QFETCH(QByteArray, stage);
    QFETCH(QByteArray, answer);
    QFETCH(bool, dropAfter);
    QFETCH(bool, connects);
    QFETCH(int, error);

    ScriptedPop3Server server;
    QVERIFY(server.listen());
    if (stage == "stat") {
        server.reply("+OK ready")
            .expect(QStringLiteral("USER .*"))
            .reply("+OK")
            .expect(QStringLiteral("PASS .*"))
            .reply("+OK")
            .expectLine(QStringLiteral("STAT"));
    } else if (stage == "retr") {
        server.login(kUser, kPassword, 2).expectLine(QStringLiteral("RETR 1"));
    }
    server.send(answer);
    if (dropAfter)
        server.drop();
    else
        server.stall();

    auto pop = clientFor(server, 30);
    QElapsedTimer clock;
    clock.start();
    pop->Connect();
    if (connects) {
        QCOMPARE(pop->ErrorCode(), 0);
        pop->FetchMessage(1);
    }
    QCOMPARE(pop->ErrorCode(), error);
    QVERIFY(pop->rawMessage().isEmpty());
    QVERIFY2(clock.elapsed() < 5000, "waited for the time-out");
    verifySessionIsOver(*pop, server);
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));

    // The next account starts afresh.
    ScriptedPop3Server next;
    QVERIFY(next.listen());
    next.login(kUser, kPassword, 1).quit();
    pop->setPophostname(next.address());
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
}

void TestPop3Session::slowServersTimeOut_data() {
    QTest::addColumn<bool>("duringLogin");
    QTest::addColumn<int>("dripMs"); // 0: silent
    QTest::newRow("silent before the greeting") << true << 0;
    QTest::newRow("message one byte at a time") << false << 100;
}

void TestPop3Session::slowServersTimeOut() {
    QFETCH(bool, duringLogin);
    QFETCH(int, dripMs);

    // Each byte comes well within the time-out; the whole answer does not.
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    QByteArray answer = "+OK a very slow server says hello\r\n";
    if (!duringLogin) {
        server.login(kUser, kPassword, 1).expectLine(QStringLiteral("RETR 1"));
        answer = "+OK\r\n" + mail("slow") + ".\r\n";
    }
    if (dripMs > 0)
        server.drip(answer, dripMs);
    server.stall();

    auto pop = clientFor(server, 1);
    QElapsedTimer clock;
    clock.start();
    pop->Connect();
    if (!duringLogin) {
        QCOMPARE(pop->ErrorCode(), 0);
        clock.restart();
        pop->FetchMessage(1);
    }
    QCOMPARE(pop->ErrorCode(), int(FreePOP::TimedOut));
    QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    QTRY_VERIFY(!server.hasClient());
    verifySessionIsOver(*pop, server);
}

void TestPop3Session::oversizedMessagesAreSkipped_data() {
    QTest::addColumn<QByteArray>("big");
    QTest::addColumn<int>("error");
    QTest::newRow("over the size limit")
        << mail("large", QByteArray(3000, '.') + "\r\n.\r\n") << int(FreePOP::MessageTooLarge);
    QTest::newRow("line over the line limit")
        << mail("long", QByteArray(700, 'z') + "\r\nafter") << int(FreePOP::LineTooLong);
}

void TestPop3Session::oversizedMessagesAreSkipped() {
    QFETCH(QByteArray, big);
    QFETCH(int, error);

    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.login(kUser, kPassword, 2).message(1, big).message(2, mail("small")).quit();

    auto pop = clientFor(server);
    Pop3Limits limits;
    limits.maxMessageSize = 2000;
    limits.maxMessageLine = 4000;
    if (error == FreePOP::LineTooLong)
        limits.maxMessageLine = 500;
    pop->setLimits(limits);
    pop->Connect();
    pop->FetchMessage(1);
    QCOMPARE(pop->ErrorCode(), error);
    pop->DeleteMessage();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::NoCurrentMessage));
    // The rest of the big message was read past, so the next reply is read correctly.
    pop->FetchMessage(2);
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->rawMessage(), mail("small"));
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
}

void TestPop3Session::callsDuringAWaitAreRefused() {
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.login(kUser, kPassword, 1)
        .expectLine(QStringLiteral("RETR 1"))
        .drip("+OK\r\n" + mail("slow") + ".\r\n", 5)
        .quit();

    auto pop = clientFor(server);
    pop->Connect();
    // A timer fires while the fetch waits, as the window's timer would, and calls in.
    int innerError = -1;
    QTimer timer;
    connect(&timer, &QTimer::timeout, this, [&] {
        if (innerError < 0) {
            pop->Disconnect();
            innerError = pop->ErrorCode();
        }
    });
    timer.start(10);
    pop->FetchMessage(1);
    timer.stop();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(innerError, int(FreePOP::Busy));
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(server.received().count(QStringLiteral("QUIT")), 1);
}

void TestPop3Session::readsAndSavesTheCurrentMessage() {
    const QByteArray raw = "Received: from relay.example.net\r\n\tby mx.example.com\r\n"
                           "Received: from inner\r\n"
                           "From: =?utf-8?Q?J=C3=BCrgen?= <j@example.com>\r\n"
                           "Subject: <b>Win</b> =?iso-8859-1?B?R3L832U=?=\r\n"
                           "Content-Transfer-Encoding: base64\r\n\r\n"
                           "PHNjcmlwdD5GUkVFPC9zY3JpcHQ+\r\n";
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.login(kUser, kPassword, 1).message(1, raw).quit();
    TempFolder folder;

    auto pop = clientFor(server);
    pop->Connect();
    pop->FetchMessage(1);
    QVERIFY(pop->Sender().isEmpty()); // not parsed yet

    // Saved before CompleteFetch: the page still shows the decoded subject, escaped.
    pop->SaveMessage(folder.file(QStringLiteral("win.html")));
    QCOMPARE(pop->ErrorCode(), 0);
    const QByteArray page = folder.read(QStringLiteral("win.html"));
    QVERIFY(page.contains("<title>&lt;b&gt;Win&lt;/b&gt; Gr\xc3\xbc\xc3\x9f"
                          "e</title>"));
    QVERIFY(!page.contains("<b>"));
    // The archive folder is the caller's to create; a missing one is a failed write.
    const QString missing = folder.path() + QStringLiteral("/SpamDeleted/win.html");
    pop->SaveMessage(missing);
    QCOMPARE(pop->ErrorCode(), int(FreePOP::FileWriteFailed));
    QVERIFY(!QFileInfo::exists(folder.path() + QStringLiteral("/SpamDeleted")));

    pop->CompleteFetch();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->Sender(), QStringLiteral("J\u00fcrgen <j@example.com>"));
    QCOMPARE(pop->Subject(), QStringLiteral("<b>Win</b> Gr\u00fc\u00dfe"));
    QCOMPARE(pop->Body(), QStringLiteral("<script>FREE</script>"));
    QCOMPARE(pop->HeaderValue(QStringLiteral("Received:")),
             QStringLiteral("from relay.example.net\tby mx.example.com"));
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
}

void TestPop3Session::readerIsIndependentOfChunking_data() {
    QTest::addColumn<QByteArray>("wire"); // a multi-line reply, then the status "+OK next"
    QTest::addColumn<qsizetype>("maxLine");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<QByteArray>("body");

    // Only CR LF ends a line: a bare LF, also before a lone dot, is content; a leading dot is
    // removed only after CR LF.
    QTest::newRow("framing")
        << QByteArray("+OK 52 octets\r\nSubject: x\r\n\r\n...a\r\n..\r\nnul \0 and LF\n.\n"
                      "text\n.\r\n+OK\r\n.x\n..\r\n\r\r\n.\r\n+OK next\r\n",
                      90)
        << qsizetype(1000) << true
        << QByteArray("Subject: x\r\n\r\n..a\r\n.\r\nnul \0 and LF\n.\ntext\n.\r\n+OK\r\nx\n..\r\n"
                      "\r\r\n",
                      59);
    // A line over the limit is skipped to its CR LF, however the CR and the LF arrive, and the
    // reply still ends at its own terminator.
    QTest::newRow("overlong line before the end")
        << QByteArray("+OK\r\n0123456789\r\n.\r\n+OK next\r\n") << qsizetype(8) << false
        << QByteArray();
    QTest::newRow("overlong line with bare LFs")
        << QByteArray("+OK\r\n01\n.\n456789\n\r\nok\r\n.\r\n+OK next\r\n") << qsizetype(8) << false
        << QByteArray();
}

void TestPop3Session::readerIsIndependentOfChunking() {
    // A reply split at every point (between CR and LF, right after a line-leading dot) reads the
    // same as in one piece, and what follows the terminator is kept for the next reply.
    QFETCH(QByteArray, wire);
    QFETCH(qsizetype, maxLine);
    QFETCH(bool, complete);
    QFETCH(QByteArray, body);

    for (qsizetype split = 1; split <= wire.size(); ++split) {
        Pop3ReplyReader reader;
        Pop3Limits limits;
        limits.maxMessageLine = maxLine;
        reader.setLimits(limits);
        reader.expectMultiLine();
        Pop3ReplyReader::Outcome outcome = Pop3ReplyReader::Outcome::NeedMore;
        qsizetype fed = 0;
        while (fed < wire.size() && outcome == Pop3ReplyReader::Outcome::NeedMore) {
            const qsizetype length = fed == 0 ? split : 1;
            reader.append(wire.mid(fed, length));
            fed += length;
            outcome = reader.advance();
        }
        if (complete) {
            QCOMPARE(outcome, Pop3ReplyReader::Outcome::Complete);
            QCOMPARE(reader.takeBody(), body);
        } else {
            QCOMPARE(outcome, Pop3ReplyReader::Outcome::Failed);
            QCOMPARE(reader.fault(), Pop3ReplyReader::Fault::LineTooLong);
            QVERIFY(!reader.lostSync());
        }
        reader.append(wire.mid(fed));
        reader.expectStatus();
        QCOMPARE(reader.advance(), Pop3ReplyReader::Outcome::Complete);
        QCOMPARE(reader.statusText(), QByteArray("next"));
    }
}

void TestPop3Session::statusLinesEndInCrLf() {
    // A status line ended by a bare LF means a server whose message lines cannot be framed
    // safely: the reader gives up on the connection rather than guess.
    Pop3ReplyReader reader;
    reader.expectStatus();
    reader.append("+OK ready\n+OK\r\n");
    QCOMPARE(reader.advance(), Pop3ReplyReader::Outcome::Failed);
    QCOMPARE(reader.fault(), Pop3ReplyReader::Fault::BareLineFeed);
    QVERIFY(reader.lostSync());
    // A bare CR inside the line is only text.
    Pop3ReplyReader other;
    other.expectStatus();
    other.append("+OK a\rb\r");
    QCOMPARE(other.advance(), Pop3ReplyReader::Outcome::NeedMore);
    other.append("\n");
    QCOMPARE(other.advance(), Pop3ReplyReader::Outcome::Complete);
    QCOMPARE(other.statusText(), QByteArray("a\rb"));
}

QTEST_GUILESS_MAIN(TestPop3Session)
#include "tst_pop3session.moc"
