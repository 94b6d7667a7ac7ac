// The messages' unique ids (UIDL): read strictly, so that an id in any doubt is no id at all; asked
// for only where they can be had, without ever failing a log-in; and the messages the caller will
// skip never asked for ahead.
#include "scan/pop3/FreePOP.h"
#include "scan/pop3/pop3uniqueids.h"
#include "support/scriptedpop3server.h"

#include <QTest>

#include <memory>

namespace {

const QString kUser = QStringLiteral("alice");
const QString kPassword = QStringLiteral("open-sesame-42");

QByteArray mail(const QByteArray& subject) {
    return "From: Sender <sender@example.com>\r\nSubject: " + subject + "\r\n\r\nHello.\r\n";
}

// Greeting, capabilities (none: CAPA refused), USER, PASS, STAT with the count.
ScriptedPop3Server& loginWith(ScriptedPop3Server& server, const QList<QByteArray>& capabilities,
                              int messages) {
    server.reply("+OK ready");
    if (!capabilities.isEmpty())
        server.capa(capabilities);
    server.expectLine("USER " + kUser).reply("+OK");
    server.expectLine("PASS " + kPassword).reply("+OK");
    server.expectLine("STAT").reply("+OK " + QByteArray::number(messages) + " 9000");
    server.setMessageCount(messages);
    return server;
}

std::unique_ptr<FreePOP> connectTo(const ScriptedPop3Server& server,
                                   const Pop3Limits& limits = {}) {
    auto pop = std::make_unique<FreePOP>();
    pop->setPophostname(server.address());
    pop->setPopusername(kUser);
    pop->setPoppassword(kPassword);
    pop->setPoptimeout(10);
    pop->setLimits(limits);
    pop->Connect();
    return pop;
}

QString serverLog(const ScriptedPop3Server& server) {
    return server.received().join(" | ") + " / " + server.failure();
}

} // namespace

class TestPop3UniqueIds : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void listingsInDoubt_data();
    void listingsInDoubt();
    void askedWhereTheyCanBeHad();
    void noIdsNeverFailTheLogIn();
    void skippedMessagesAreNotAskedForAhead();
};

void TestPop3UniqueIds::listingsInDoubt_data() {
    QTest::addColumn<QByteArray>("listing");
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<QByteArray>>("ids");

    QTest::newRow("plain") << QByteArray("1 whqtswO00WBw418f9t5JxYwZ\r\n2 QhdPYR:00WBw1Ph7x7\r\n")
                           << 2
                           << QList<QByteArray>{"whqtswO00WBw418f9t5JxYwZ", "QhdPYR:00WBw1Ph7x7"};
    QTest::newRow("any order, one missing")
        << QByteArray("3 c\r\n1 a\r\n") << 3 << QList<QByteArray>{"a", "", "c"};
    QTest::newRow("70 characters and 71")
        << ("1 " + QByteArray(70, '~') + "\r\n2 " + QByteArray(71, 'x') + "\r\n") << 2
        << QList<QByteArray>{QByteArray(70, '~'), ""};
    QTest::newRow("the same id twice: both in doubt")
        << QByteArray("1 a\r\n2 b\r\n3 a\r\n") << 3 << QList<QByteArray>{"", "b", ""};
    QTest::newRow("the same number twice: in doubt")
        << QByteArray("1 a\r\n2 b\r\n1 c\r\n") << 2 << QList<QByteArray>{"", "b"};
    QTest::newRow("blanks, controls and 8-bit bytes")
        << QByteArray("1 a b\r\n2 \tb\r\n3 c\x7f\r\n4 d\xe9\r\n5 \r\n6 ok\r\n") << 6
        << QList<QByteArray>{"", "", "", "", "", "ok"};
    QTest::newRow("numbers out of range or not plain")
        << QByteArray("0 z\r\n3 y\r\n-1 x\r\n01 w\r\n+2 v\r\n 1 u\r\n1  t\r\n2 s\r\n") << 2
        << QList<QByteArray>{"", "s"};
    QTest::newRow("a line without an id")
        << QByteArray("1\r\n2 b\r\n") << 2 << QList<QByteArray>{"", "b"};
    QTest::newRow("nothing listed") << QByteArray() << 2 << QList<QByteArray>{"", ""};
}

void TestPop3UniqueIds::listingsInDoubt() {
    QFETCH(QByteArray, listing);
    QFETCH(int, count);
    QFETCH(QList<QByteArray>, ids);
    QCOMPARE(parseUniqueIds(listing, count), ids);
}

void TestPop3UniqueIds::askedWhereTheyCanBeHad() {
    {
        // Capabilities without UIDL: not asked (the script would answer it).
        ScriptedPop3Server server;
        QVERIFY(server.listen());
        loginWith(server, {"USER", "TOP"}, 1).message(1, mail("one")).quit();
        auto pop = connectTo(server);
        QCOMPARE(pop->ErrorCode(), 0);
        QVERIFY(pop->uniqueIds().isEmpty());
        pop->FetchMessage(1);
        pop->Disconnect();
        QVERIFY2(!server.received().contains("UIDL"), qPrintable(serverLog(server)));
        QVERIFY2(server.isFinished(), qPrintable(serverLog(server)));
    }
    {
        // An empty mailbox has nothing to list.
        ScriptedPop3Server server;
        QVERIFY(server.listen());
        loginWith(server, {"UIDL"}, 0).quit();
        auto pop = connectTo(server);
        QCOMPARE(pop->ErrorCode(), 0);
        pop->Disconnect();
        QVERIFY2(!server.received().contains("UIDL"), qPrintable(serverLog(server)));
    }
    {
        // With PIPELINING, LIST and UIDL go out together: the script reads both lines before it
        // answers either. The ids are read as listed, those in doubt left out, and kept for the
        // session only.
        ScriptedPop3Server server;
        QVERIFY(server.listen());
        loginWith(server, {"PIPELINING", "UIDL"}, 4)
            .expectLine("LIST")
            .expectLine("UIDL")
            .send("+OK\r\n1 100\r\n2 100\r\n3 100\r\n4 100\r\n.\r\n"
                  "+OK\r\n1 id-1\r\n2 same\r\n3 id\xff\r\n4 same\r\n.\r\n")
            .message(1, mail("one"))
            .message(2, mail("two"))
            .message(3, mail("three"))
            .message(4, mail("four"))
            .quit();
        auto pop = connectTo(server);
        QCOMPARE(pop->ErrorCode(), 0);
        QCOMPARE(pop->uniqueIds(), QList<QByteArray>({"id-1", "", "", ""}));
        for (int n = 1; n <= 4; ++n) {
            pop->FetchMessage(n);
            QCOMPARE(pop->ErrorCode(), 0);
        }
        pop->Disconnect();
        QCOMPARE(pop->ErrorCode(), 0);
        QVERIFY(pop->uniqueIds().isEmpty());
        QVERIFY2(server.isFinished(), qPrintable(serverLog(server)));
    }
}

void TestPop3UniqueIds::noIdsNeverFailTheLogIn() {
    {
        // A server that does not know CAPA is asked all the same, and may refuse.
        ScriptedPop3Server server;
        QVERIFY(server.listen());
        loginWith(server, {}, 2)
            .expectLine("UIDL")
            .reply("-ERR not supported")
            .message(1, mail("one"))
            .message(2, mail("two"))
            .quit();
        auto pop = connectTo(server);
        QCOMPARE(pop->ErrorCode(), 0);
        QCOMPARE(pop->MessageCount(), 2);
        QVERIFY(pop->uniqueIds().isEmpty());
        pop->FetchMessage(1);
        QCOMPARE(pop->ErrorCode(), 0);
        pop->FetchMessage(2);
        pop->Disconnect();
        QCOMPARE(pop->ErrorCode(), 0);
        QVERIFY2(server.isFinished(), qPrintable(serverLog(server)));
    }
    {
        // A listing larger than anything the client reads, or with a line too long: read past,
        // the session goes on in step.
        for (const bool tooLong : {false, true}) {
            Pop3Limits limits;
            limits.maxMessageSize = 2000;
            limits.maxMessageLine = 500;
            QByteArray listing = "+OK\r\n";
            if (tooLong) {
                listing += "1 " + QByteArray(600, 'x') + "\r\n";
            } else {
                for (int n = 1; n <= 400; ++n)
                    listing += "1 id-" + QByteArray::number(n) + "\r\n";
            }
            ScriptedPop3Server server;
            QVERIFY(server.listen());
            loginWith(server, {"UIDL"}, 1)
                .expectLine("UIDL")
                .send(listing + ".\r\n")
                .message(1, mail("one"))
                .quit();
            auto pop = connectTo(server, limits);
            QCOMPARE(pop->ErrorCode(), 0);
            QVERIFY(pop->uniqueIds().isEmpty());
            pop->FetchMessage(1);
            QCOMPARE(pop->ErrorCode(), 0);
            QCOMPARE(pop->rawMessage(), mail("one"));
            pop->Disconnect();
            QCOMPARE(pop->ErrorCode(), 0);
            QVERIFY2(server.isFinished(), qPrintable(serverLog(server)));
        }
    }
    {
        // A connection that breaks in the listing is a broken session, though.
        ScriptedPop3Server server;
        QVERIFY(server.listen());
        loginWith(server, {"UIDL"}, 2).expectLine("UIDL").send("+OK\r\n1 a\r\n").drop();
        auto pop = connectTo(server);
        QCOMPARE(pop->ErrorCode(), int(FreePOP::ConnectionLost));
    }
}

void TestPop3UniqueIds::skippedMessagesAreNotAskedForAhead() {
    // Six messages; the caller will fetch 2, 5 and 6 only. Anything else asked for ahead breaks
    // the script.
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    loginWith(server, {"PIPELINING"}, 6)
        .list({100, 100, 100, 100, 100, 100})
        .message(2, mail("two"))
        .message(5, mail("five"))
        .message(6, mail("six"))
        .quit();
    auto pop = connectTo(server);
    QCOMPARE(pop->ErrorCode(), 0);
    pop->planFetches({2, 5, 6});
    pop->FetchMessage(2);
    QCOMPARE(pop->rawMessage(), mail("two"));
    // Both wanted messages after it are asked for at once.
    QTRY_COMPARE(server.received().mid(5), QStringList({"RETR 2", "RETR 5", "RETR 6"}));
    pop->FetchMessage(5);
    QCOMPARE(pop->rawMessage(), mail("five"));
    pop->FetchMessage(6);
    QCOMPARE(pop->rawMessage(), mail("six"));
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY2(server.failure().isEmpty(), qPrintable(serverLog(server)));
    QVERIFY(server.isFinished());
}

QTEST_MAIN(TestPop3UniqueIds)
#include "tst_pop3uniqueids.moc"
