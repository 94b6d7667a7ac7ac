// The component asks for the next messages ahead, and sends DELE without waiting, only for a server
// that announces PIPELINING; every operation still reports its own reply, in order, and QUIT waits
// for every reply before it.
#include "scan/pop3/FreePOP.h"
#include "support/pagesource.h"
#include "support/scriptedpop3server.h"
#include "support/tempfolder.h"

#include <QDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <memory>

namespace {

const QString kUser = QStringLiteral("alice");
const QString kPassword = QStringLiteral("open-sesame-42");

QByteArray mail(const QByteArray& subject, const QByteArray& body = "Hello.\r\n") {
    return "From: Sender <sender@example.com>\r\nSubject: " + subject + "\r\n\r\n" + body;
}

// Greeting, the capabilities, USER, PASS and STAT with the given count; with PIPELINING also
// LIST, with the given sizes (100 octets each where none are given).
ScriptedPop3Server& loginWith(ScriptedPop3Server& server, const QList<QByteArray>& capabilities,
                              int messages, QList<qsizetype> sizes = {}) {
    server.reply("+OK ready").capa(capabilities);
    server.expectLine("USER " + kUser).reply("+OK");
    server.expectLine("PASS " + kPassword).reply("+OK");
    server.expectLine("STAT").reply("+OK " + QByteArray::number(messages) + " 9000");
    server.setMessageCount(messages);
    if (capabilities.contains("PIPELINING") && messages > 1) {
        while (sizes.size() < messages)
            sizes.append(100);
        server.list(sizes);
    }
    return server;
}

std::unique_ptr<FreePOP> connectedClient(const ScriptedPop3Server& server,
                                         int timeoutSeconds = 10) {
    auto pop = std::make_unique<FreePOP>();
    pop->setPophostname(server.address());
    pop->setPopusername(kUser);
    pop->setPoppassword(kPassword);
    pop->setPoptimeout(timeoutSeconds);
    pop->Connect();
    return pop;
}

QString serverLog(const ScriptedPop3Server& server) {
    return server.received().join(" | ") + " / " + server.failure();
}

} // namespace

class TestPop3Pipelining : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fetchesAheadAndKeepsEveryResultInItsPlace();
    void fetchesOnlyOneAheadAfterALargeMessage();
    void listedSizesBoundWhatIsAskedAhead();
    void withoutPipeliningOneCommandAtATime();
    void failedRepliesAheadSurfaceAtTheirOwnFetch_data();
    void failedRepliesAheadSurfaceAtTheirOwnFetch();
    void messagesOutOfOrderAndTheLastOne();
    void anUnreadDeletionHoldsNothingUp();
    void dataComingLateStillStopsTheLogOut_data();
    void dataComingLateStillStopsTheLogOut();
    void aStatusLineSentTwiceBeforeAMessage();
    void messagesLargerThanListedAreAskedForAgain();
    void pagesNeverReplaceAFileAndLeaveNothingBehind();
    void theWorkerWakesTheWaitingWindow();
};

void TestPop3Pipelining::fetchesAheadAndKeepsEveryResultInItsPlace() {
    // The order the server sees: RETR 2 and RETR 3 go out as soon as message 1 is in, before
    // DELE 1; the replies to both DELEs come after every message.
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    loginWith(server, {"UIDL", "PIPELINING"}, 3)
        .message(1, mail("one"))
        .message(2, mail("two", ".\r\n..dots\r\n"))
        .message(3, mail("three"))
        .expectLine("DELE 1")
        .reply("+OK marked")
        .expectLine("DELE 2")
        .reply("-ERR message 2 is locked")
        .quit();

    auto pop = connectedClient(server);
    QCOMPARE(pop->ErrorCode(), 0);
    pop->FetchMessage(1);
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->rawMessage(), mail("one"));
    pop->CompleteFetch();
    QCOMPARE(pop->Subject(), "one");
    pop->DeleteMessage();
    QCOMPARE(pop->ErrorCode(), 0);

    pop->FetchMessage(2);
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->rawMessage(), mail("two", ".\r\n..dots\r\n"));
    // The reads describe the current message only once it is completed.
    QVERIFY(pop->Subject().isEmpty());
    pop->CompleteFetch();
    QCOMPARE(pop->Subject(), "two");
    QCOMPARE(pop->Body(), ".\n..dots\n");
    // The refusal is DELE 2's, though its reply came after message 3 had been read.
    pop->DeleteMessage();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::CommandRefused));
    QVERIFY(pop->errorString().contains("message 2 is locked"));

    pop->FetchMessage(3);
    QCOMPARE(pop->ErrorCode(), 0);
    pop->CompleteFetch();
    QCOMPARE(pop->Subject(), "three");
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);

    QVERIFY2(server.failure().isEmpty(), qPrintable(serverLog(server)));
    QVERIFY(server.isFinished());
    // Never past the last. The unique ids were asked for with the sizes.
    QCOMPARE(server.received().mid(5), QStringList({"UIDL", "RETR 1", "RETR 2", "RETR 3", "DELE 1",
                                                    "DELE 2", "STAT", "QUIT"}));
}

void TestPop3Pipelining::fetchesOnlyOneAheadAfterALargeMessage() {
    // Small messages are asked for many at a time; while a message over 1 MiB is held, only
    // the next one, so that a mailbox of large messages is not held several at a time.
    const QByteArray large = mail("large", QByteArray(1100 * 1024, 'x') + "\r\n");
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    loginWith(server, {"PIPELINING"}, 10, {large.size()});
    for (int n = 1; n <= 10; ++n)
        server.message(n, n == 1 ? large : mail("small"));
    server.quit();

    auto pop = connectedClient(server);
    pop->FetchMessage(1);
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->rawMessage().size(), large.size());
    QTRY_COMPARE(server.received().mid(5), QStringList({"RETR 1", "RETR 2"}));
    pop->FetchMessage(2);
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->rawMessage(), mail("small"));
    QTRY_COMPARE(server.received().size(), 5 + 2 + 8);
    QCOMPARE(server.received().last(), "RETR 10");
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY2(server.failure().isEmpty(), qPrintable(serverLog(server)));
    QVERIFY(server.isFinished());
}

void TestPop3Pipelining::listedSizesBoundWhatIsAskedAhead() {
    // A small message followed by large ones: only the next message is asked for ahead, whatever
    // its size, and nothing more while it is large. A server that will not list sizes gets one
    // message asked for ahead at a time.
    for (const bool listed : {true, false}) {
        ScriptedPop3Server server;
        QVERIFY(server.listen());
        server.reply("+OK ready").capa({"PIPELINING"});
        server.expectLine("USER " + kUser).reply("+OK");
        server.expectLine("PASS " + kPassword).reply("+OK");
        server.expectLine("STAT").reply("+OK 6 9000");
        server.setMessageCount(6);
        if (listed)
            server.list({100, 3 * 1024 * 1024, 3 * 1024 * 1024, 100, 100, 100});
        else
            server.expectLine("LIST").reply("-ERR not here");
        server.message(1, mail("m")).message(2, mail("m")).quit();

        auto pop = connectedClient(server);
        QCOMPARE(pop->ErrorCode(), 0);
        pop->FetchMessage(1);
        QCOMPARE(pop->ErrorCode(), 0);
        QTRY_COMPARE(server.received().mid(5), QStringList({"RETR 1", "RETR 2"}));
        QTest::qWait(50);
        QCOMPARE(server.received().size(), 7);
        pop->Disconnect();
        QVERIFY2(server.failure().isEmpty(), qPrintable(serverLog(server)));
    }
}

void TestPop3Pipelining::withoutPipeliningOneCommandAtATime() {
    // Capabilities without PIPELINING: the script fails on any command sent before its turn.
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    loginWith(server, {"TOP", "UIDL", "USER"}, 2)
        .message(1, mail("one"))
        .expectLine("DELE 1")
        .reply("+OK")
        .message(2, mail("two"))
        .quit();

    auto pop = connectedClient(server);
    pop->FetchMessage(1);
    QCOMPARE(pop->ErrorCode(), 0);
    pop->CompleteFetch();
    QCOMPARE(pop->Subject(), "one");
    pop->DeleteMessage();
    QCOMPARE(pop->ErrorCode(), 0);
    pop->FetchMessage(2);
    QCOMPARE(pop->ErrorCode(), 0);
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY2(server.failure().isEmpty(), qPrintable(serverLog(server)));
    QVERIFY(server.isFinished());
}

void TestPop3Pipelining::failedRepliesAheadSurfaceAtTheirOwnFetch_data() {
    QTest::addColumn<QByteArray>("answer"); // the server's answer to RETR 2, asked for ahead
    QTest::addColumn<QByteArray>("then");   // "go on", "drop" or "stall"
    QTest::addColumn<int>("error");         // what FetchMessage(2) reports
    QTest::addColumn<bool>("sessionGoesOn");

    QTest::newRow("refused") << QByteArray("-ERR no such message\r\n") << QByteArray("go on")
                             << int(FreePOP::CommandRefused) << true;
    QTest::newRow("too large") << "+OK\r\n" + mail("big", QByteArray(3000, 'x') + "\r\n") + ".\r\n"
                               << QByteArray("go on") << int(FreePOP::MessageTooLarge) << true;
    QTest::newRow("not POP3") << QByteArray("* 2 FETCH\r\n") << QByteArray("stall")
                              << int(FreePOP::ProtocolError) << false;
    QTest::newRow("dropped halfway") << QByteArray("+OK\r\nSubject: cut\r\n\r\nhalf a li")
                                     << QByteArray("drop") << int(FreePOP::ConnectionLost) << false;
    QTest::newRow("silent") << QByteArray() << QByteArray("stall") << int(FreePOP::TimedOut)
                            << false;
}

void TestPop3Pipelining::failedRepliesAheadSurfaceAtTheirOwnFetch() {
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, then);
    QFETCH(int, error);
    QFETCH(bool, sessionGoesOn);

    ScriptedPop3Server server;
    QVERIFY(server.listen());
    loginWith(server, {"PIPELINING"}, 3).message(1, mail("one")).expectLine("RETR 2");
    if (!answer.isEmpty())
        server.send(answer);
    if (then == "drop")
        server.drop();
    else if (then == "stall")
        server.stall();
    else
        server.message(3, mail("three")).expectLine("DELE 1").reply("+OK").quit();

    auto pop = connectedClient(server, 1);
    Pop3Limits limits;
    limits.maxMessageSize = 2000;
    pop->setLimits(limits);
    TempFolder folder;

    pop->FetchMessage(1);
    QCOMPARE(pop->ErrorCode(), 0);
    // Whatever happens to the message after it, the current one is whole.
    pop->CompleteFetch();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->Subject(), "one");
    pop->SaveMessage(folder.file("one.html"));
    QCOMPARE(pop->ErrorCode(), 0);
    pop->DeleteMessage();
    // A deletion that cannot be confirmed fails; the session never reaches QUIT, so nothing is
    // removed either way.
    QCOMPARE(pop->ErrorCode() == 0, sessionGoesOn);

    pop->FetchMessage(2);
    QCOMPARE(pop->ErrorCode(), error);
    QVERIFY(pop->rawMessage().isEmpty());
    pop->CompleteFetch();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::NoCurrentMessage));

    pop->FetchMessage(3);
    if (sessionGoesOn) {
        QCOMPARE(pop->ErrorCode(), 0);
        QCOMPARE(pop->rawMessage(), mail("three"));
        pop->Disconnect();
        QCOMPARE(pop->ErrorCode(), 0);
        QVERIFY(server.isFinished());
    } else {
        QVERIFY(pop->ErrorCode() != 0);
        pop->Disconnect();
        QVERIFY(pop->ErrorCode() != 0);
        QVERIFY(!server.received().contains("QUIT"));
    }
    QVERIFY2(server.failure().isEmpty(), qPrintable(serverLog(server)));
}

void TestPop3Pipelining::messagesOutOfOrderAndTheLastOne() {
    // A caller that goes back, skips, and stops early: each fetch still gets its own message, a
    // message asked for ahead and not wanted is read past, and nothing beyond the last is asked.
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    loginWith(server, {"PIPELINING"}, 4)
        .message(3, mail("three"))
        .message(4, mail("four"))
        .message(1, mail("one"))
        .message(2, mail("two"))
        .message(3, mail("three"))
        .message(4, mail("four"))
        .quit();

    auto pop = connectedClient(server);
    pop->FetchMessage(3);
    QCOMPARE(pop->ErrorCode(), 0);
    pop->FetchMessage(1);
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->rawMessage(), mail("one"));
    pop->CompleteFetch();
    QCOMPARE(pop->Subject(), "one");
    // Message 4 was asked for ahead of 1 already; 2 and 3 are read past.
    pop->FetchMessage(4);
    QCOMPARE(pop->ErrorCode(), 0);
    pop->CompleteFetch();
    QCOMPARE(pop->Subject(), "four");
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY2(server.failure().isEmpty(), qPrintable(serverLog(server)));
    QVERIFY(server.isFinished());
    QCOMPARE(server.received().count("RETR 5"), 0);
}

void TestPop3Pipelining::anUnreadDeletionHoldsNothingUp() {
    // The server never answers DELE 1. A caller that does not ask how the deletion went gets
    // message 2 at once; the missing answer is found only where a later reply depends on it.
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    loginWith(server, {"PIPELINING"}, 2)
        .message(1, mail("one"))
        .message(2, mail("two"))
        .expectLine("DELE 1")
        .stall();

    auto pop = connectedClient(server, 1);
    pop->FetchMessage(1);
    pop->CompleteFetch();
    QCOMPARE(pop->ErrorCode(), 0);
    pop->DeleteMessage();
    pop->FetchMessage(2);
    QCOMPARE(pop->ErrorCode(), 0);
    pop->CompleteFetch();
    QCOMPARE(pop->Subject(), "two");
    // The log-out waits for the answer to DELE 1, which does not come: QUIT, which would have
    // the server carry out a deletion whose answer was never seen, is not sent.
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::TimedOut));
    QVERIFY2(!server.received().contains("QUIT"), qPrintable(serverLog(server)));
}

void TestPop3Pipelining::dataComingLateStillStopsTheLogOut_data() {
    QTest::addColumn<QByteArray>("late");
    QTest::addColumn<int>("afterMs");
    // The rest of a reply, as when a message's content ended its own reply early on a server that
    // does not dot-stuff; a status line or a whole reply a sloppy server sent twice, with the
    // answer to DELE or after it.
    QTest::newRow("a status line twice, at once") << QByteArray("+OK\r\n") << 0;
    QTest::newRow("the rest of a message")
        << QByteArray("From: someone <x@example.org>\r\n") << 300;
    QTest::newRow("a status line twice") << QByteArray("+OK\r\n") << 300;
    QTest::newRow("an empty reply twice") << QByteArray("+OK\r\n.\r\n") << 300;
}

void TestPop3Pipelining::dataComingLateStillStopsTheLogOut() {
    // After the answer to DELE 1, bytes nobody asked for come in, at once or late, when every
    // reply asked for is in: the STAT sent before QUIT gets them as its answer, which is not the
    // answer STAT has, or finds them left over. Nothing is deleted.
    QFETCH(QByteArray, late);
    QFETCH(int, afterMs);
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    loginWith(server, {"PIPELINING"}, 1)
        .message(1, mail("one"))
        .expectLine("DELE 1")
        .reply("+OK marked")
        .pause(afterMs)
        .send(late)
        .stall();

    auto pop = connectedClient(server, 5);
    pop->FetchMessage(1);
    pop->CompleteFetch();
    pop->DeleteMessage();
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::ProtocolError));
    QVERIFY2(!server.received().contains("QUIT"), qPrintable(serverLog(server)));
}

void TestPop3Pipelining::aStatusLineSentTwiceBeforeAMessage() {
    // The message's own status line comes after a stray one: read as the first line of the
    // message, it gives the shift away, and the session is given up before anything is judged.
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    loginWith(server, {"PIPELINING"}, 1)
        .expectLine("RETR 1")
        .send("+OK\r\n+OK 50 octets\r\n" + mail("one") + ".\r\n")
        .stall();
    auto pop = connectedClient(server, 5);
    pop->FetchMessage(1);
    QCOMPARE(pop->ErrorCode(), int(FreePOP::ProtocolError));
    pop->Disconnect();
    QVERIFY(!server.received().contains("QUIT"));
}

void TestPop3Pipelining::messagesLargerThanListedAreAskedForAgain() {
    // The server lists 100 octets for each message, but message 3 is 300 KiB: asked for ahead, it
    // is not kept (a server could otherwise make every message asked for ahead huge); when it is
    // wanted, it is asked for again and comes whole. Message 2, the next one, is never bounded.
    const QByteArray big = mail("big", QByteArray(300 * 1024, 'y') + "\r\n");
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    loginWith(server, {"PIPELINING"}, 4)
        .message(1, mail("one"))
        .message(2, big)
        .message(3, big)
        .message(4, mail("four"))
        .message(3, big)
        .quit();

    auto pop = connectedClient(server);
    for (int n = 1; n <= 4; ++n) {
        pop->FetchMessage(n);
        QCOMPARE(pop->ErrorCode(), 0);
        QCOMPARE(pop->rawMessage(), n == 1 ? mail("one") : n == 4 ? mail("four") : big);
    }
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY2(server.failure().isEmpty(), qPrintable(serverLog(server)));
    QCOMPARE(server.received().mid(5),
             QStringList({"RETR 1", "RETR 2", "RETR 3", "RETR 4", "RETR 3", "QUIT"}));
}

void TestPop3Pipelining::pagesNeverReplaceAFileAndLeaveNothingBehind() {
    // A small page is written on the window's thread, a large one on the worker; neither takes
    // the place of a file under its name, which may have come there after the name was chosen.
    const QByteArray big = mail("big", QByteArray(300 * 1024, 'y') + "\r\n");
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    loginWith(server, {"PIPELINING"}, 2, {100, big.size()})
        .message(1, mail("<kept>"))
        .message(2, big)
        .quit();
    TempFolder folder;
    folder.write("page.html", "an older file");

    auto pop = connectedClient(server);
    pop->FetchMessage(1);
    pop->SaveMessage(folder.file("page.html"));
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->savedPath(), folder.file("page (2).html"));
    QCOMPARE(folder.read("page.html"), QByteArray("an older file"));
    QVERIFY(folder.read("page (2).html").contains("<title>&lt;kept&gt;</title>"));
    pop->SaveMessage(folder.file("new.html"));
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->savedPath(), folder.file("new.html"));
    QCOMPARE(folder.read("new.html"), folder.read("page (2).html"));

    pop->FetchMessage(2);
    QCOMPARE(pop->ErrorCode(), 0);
    pop->SaveMessage(folder.file("page.html"));
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->savedPath(), folder.file("page (3).html"));
    QCOMPARE(folder.read("page.html"), QByteArray("an older file"));
    QCOMPARE(recoverPageSource(folder.read("page (3).html")).value_or("(not a page)"), big);
    QVERIFY(folder.read("page (2).html").contains("<title>&lt;kept&gt;</title>"));

    // Archived mail is its owner's alone, whichever way the file was made.
    const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
                        QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;
    for (const char* name : {"page (2).html", "new.html", "page (3).html"}) {
        const QFileDevice::Permissions permissions = QFile::permissions(folder.file(name));
        QVERIFY2(!(permissions & others), name);
        QVERIFY2(permissions & QFileDevice::ReadOwner, name);
    }
    // A folder that is not there: a failed write, and no file of any name left behind.
    pop->SaveMessage(folder.file("missing/page.html"));
    QCOMPARE(pop->ErrorCode(), int(FreePOP::FileWriteFailed));
    QCOMPARE(pop->savedPath(), QString());
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList({"new.html", "page (2).html", "page (3).html", "page.html"}));
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY2(server.failure().isEmpty(), qPrintable(serverLog(server)));
}

void TestPop3Pipelining::theWorkerWakesTheWaitingWindow() {
    // Message 1 takes the worker a while; CompleteFetch waits for it and returns as soon as it is
    // done, although nothing else happens meanwhile: the server has nothing more to say.
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    loginWith(server, {"PIPELINING"}, 1);
    server.message(1, mail("slow"));
    server.quit();
    struct Mark : MessageAnalysis {};
    auto pop = connectedClient(server);
    QCOMPARE(pop->ErrorCode(), 0);
    pop->setAnalyzer([](const ParsedMessage&) {
        QThread::msleep(300);
        return std::make_shared<Mark>();
    });
    pop->FetchMessage(1);
    QCOMPARE(pop->ErrorCode(), 0);

    // Without the wake the wait would last for ever; the program is told to quit instead, which
    // ends it with an error.
    QTimer watchdog;
    watchdog.setSingleShot(true);
    connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    watchdog.start(5000);
    pop->CompleteFetch();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY(dynamic_cast<const Mark*>(pop->analysis().get()));
    watchdog.stop();
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY2(server.failure().isEmpty(), qPrintable(serverLog(server)));
}

QTEST_GUILESS_MAIN(TestPop3Pipelining)
#include "tst_pop3pipelining.moc"
