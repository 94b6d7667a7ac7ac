// A whole scan pass against servers that misbehave in the middle of a mailbox: whatever they send,
// the pass ends within the time-out, goes on with the next account, and no message is deleted
// that should not be. A session that breaks is abandoned without QUIT, so even the deletion
// marks made before the break do not take effect.
#include "app/frmMain.h"
#include "app/ubGrid.h"
#include "config/checkvalue.h"
#include "scan/module_scan.h"
#include "scan/pop3/FreePOP.h"
#include "support/scriptedpop3server.h"
#include "support/tempfolder.h"
#include "support/ui/scriptedboxes.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QTest>

namespace {

const QString kUser = QStringLiteral("alice");
const QString kPassword = QStringLiteral("open-sesame-42");
constexpr int kTimeoutSeconds = 2;

QByteArray spam(const QByteArray& subject) {
    return "From: Offers <win@bulk-offers.example>\r\nSubject: " + subject +
           "\r\n\r\nYou have won.\r\n";
}

// Lines of a message body, for a message of about that many bytes.
QByteArray bodyOf(int bytes) {
    QByteArray body;
    while (body.size() < bytes)
        body += "0123456789012345678901234567890123456789012345678901234567890123456789\r\n";
    return body;
}

// A mailbox of one spam message, which a pass removes as usual.
void oneSpamRemoved(ScriptedPop3Server& server) {
    server.login(kUser, kPassword, 1)
        .message(1, spam("next"))
        .expectLine(QStringLiteral("DELE 1"))
        .reply("+OK marked")
        .quit();
}

// A window with one account per server, its blacklist holding the spam senders' domain.
void addAccounts(frmMain& form, const QList<const ScriptedPop3Server*>& servers) {
    form.gridAccounts->setCols(3);
    for (const ScriptedPop3Server* server : servers) {
        form.gridAccounts->addrow(server->address());
        const int row = form.gridAccounts->rows();
        form.gridAccounts->setCelltext(row, 2, kUser);
        form.gridAccounts->setCelltext(row, 3, kPassword);
    }
    form.gridblacklist->addrow(QStringLiteral("bulk-offers.example"));
    setCheckValue(form.checkblacklist, 1);
}

QStringList archivedPages(const QString& programFolder) {
    return QDir(programFolder + QStringLiteral("/SpamDeleted")).entryList(QDir::Files);
}

} // namespace

class TestHostileServers : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void passSurvivesAndDeletesNothing_data();
    void passSurvivesAndDeletesNothing();
    void lostDeleteAnswerDeletesNothing();
    void messageCannotEndItsOwnReply_data();
    void messageCannotEndItsOwnReply();
    void bareLineFeedServerFailsAtOnce();
};

void TestHostileServers::passSurvivesAndDeletesNothing_data() {
    QTest::addColumn<QByteArray>("answer"); // to RETR 2
    QTest::addColumn<int>("dripMs");        // 0: sent at once
    QTest::addColumn<bool>("drop");         // the server hangs up after the answer
    // True: the client reads past the bad answer and logs out as usual. False: it gives the
    // connection up, without QUIT.
    QTest::addColumn<bool>("quits");

    static const char kNuls[] = "+OK\0\0\r\nFrom: Friend <f\0@example.org>\r\nSubject: n\0l\r\n\r\n"
                                "\0\0\0\r\n.\r\n";
    const QByteArray nuls(kNuls, sizeof(kNuls) - 1);
    QTest::newRow("line without an end")
        << "+OK\r\n" + spam("endless") + QByteArray(64 * 1024, 'x') << 0 << false << false;
    QTest::newRow("status line without an end")
        << "+OK " + QByteArray(64 * 1024, 'x') << 0 << false << false;
    // The message over the size limit is read past and stays on the server; the session goes on.
    QTest::newRow("message over the size limit") << "+OK\r\n" + spam("big") + bodyOf(3000) + ".\r\n"
                                                 << 0 << false << true;
    QTest::newRow("line over the line limit")
        << "+OK\r\n" + spam("long") + QByteArray(1500, 'z') + "\r\n.\r\n"
        << 0 << false << true;
    // Each byte comes well within the time-out; the whole answer does not.
    QTest::newRow("one byte at a time") << "+OK\r\n" + spam("slow") + ".\r\n"
                                        << 60 << false << false;
    QTest::newRow("NUL bytes in a message") << nuls << 0 << false << true;
    QTest::newRow("NUL byte before the status") << QByteArray("\0+OK\r\n", 6) + spam("x") + ".\r\n"
                                                << 0 << false << false;
    QTest::newRow("garbage instead of a reply")
        << QByteArray("HTTP/1.1 400 Bad Request\r\n\r\n") << 0 << false << false;
    QTest::newRow("hangs up mid-message") << "+OK\r\n" + spam("cut").left(40) << 0 << true << false;
}

void TestHostileServers::passSurvivesAndDeletesNothing() {
    QFETCH(QByteArray, answer);
    QFETCH(int, dripMs);
    QFETCH(bool, drop);
    QFETCH(bool, quits);

    // Message 1 is spam and marked for deletion before message 2 goes wrong.
    ScriptedPop3Server hostile;
    QVERIFY(hostile.listen());
    hostile.login(kUser, kPassword, 3)
        .message(1, spam("first"))
        .expectLine(QStringLiteral("DELE 1"))
        .reply("+OK marked")
        .expectLine(QStringLiteral("RETR 2"));
    if (dripMs > 0)
        hostile.drip(answer, dripMs);
    else
        hostile.send(answer);
    if (drop)
        hostile.drop();
    else if (quits)
        hostile.message(3, "From: Friend <f@example.org>\r\nSubject: hi\r\n\r\nHi.\r\n").quit();
    else
        hostile.stall();

    // The next account is scanned as usual.
    ScriptedPop3Server next;
    QVERIFY(next.listen());
    oneSpamRemoved(next);

    TempFolder folder;
    frmMain form(folder.path());
    ScriptedBoxes boxes;
    Pop3Limits limits;
    limits.maxMessageSize = 2000;
    limits.maxMessageLine = 1000;
    form.FreePOP1->setLimits(limits);
    form.FreePOP1->setPoptimeout(kTimeoutSeconds);
    addAccounts(form, {&hostile, &next});

    QElapsedTimer clock;
    clock.start();
    module_scan(form);
    // At most one operation waits for the time-out.
    QVERIFY2(clock.elapsed() < (kTimeoutSeconds + 3) * 1000,
             qPrintable(QString::number(clock.elapsed())));

    const QStringList sent = hostile.received();
    QVERIFY2(!sent.contains(QStringLiteral("DELE 2")), qPrintable(sent.join(u'|')));
    if (quits) {
        QVERIFY2(hostile.failure().isEmpty(), qPrintable(hostile.failure()));
        QVERIFY(hostile.isFinished());
    } else {
        // Without QUIT the server removes nothing, not even message 1.
        QVERIFY2(!sent.contains(QStringLiteral("QUIT")), qPrintable(sent.join(u'|')));
        QVERIFY(!sent.contains(QStringLiteral("RETR 3")));
    }
    QVERIFY2(next.failure().isEmpty(), qPrintable(next.failure()));
    QVERIFY(next.isFinished());
    // Every message number of both accounts was counted, failed ones included.
    QCOMPARE(form.txttotalemailsever->text(), QStringLiteral("4"));
}

void TestHostileServers::lostDeleteAnswerDeletesNothing() {
    // The server takes DELE and never answers: the time-out ends the session without QUIT, so
    // the mark it may have set is never carried out.
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.login(kUser, kPassword, 2)
        .message(1, spam("first"))
        .expectLine(QStringLiteral("DELE 1"))
        .stall();

    TempFolder folder;
    frmMain form(folder.path());
    ScriptedBoxes boxes;
    form.FreePOP1->setPoptimeout(kTimeoutSeconds);
    addAccounts(form, {&server});

    QElapsedTimer clock;
    clock.start();
    module_scan(form);
    QVERIFY(clock.elapsed() < (kTimeoutSeconds + 3) * 1000);
    const QStringList sent = server.received();
    QVERIFY2(!sent.contains(QStringLiteral("QUIT")), qPrintable(sent.join(u'|')));
    QVERIFY(!sent.contains(QStringLiteral("RETR 2")));
}

void TestHostileServers::messageCannotEndItsOwnReply_data() {
    QTest::addColumn<bool>("pipelining");
    QTest::addColumn<int>("delayMs"); // how long the server takes to answer RETR 3 and DELE
    QTest::newRow("one command at a time") << false << 0;
    QTest::newRow("one command at a time, slow server") << false << 300;
    QTest::newRow("pipelined") << true << 0;
    QTest::newRow("pipelined, slow server") << true << 300;
}

void TestHostileServers::messageCannotEndItsOwnReply() {
    // The server stores mail byte for byte and dot-stuffs only after CR LF. Message 2 carries,
    // after a bare LF, what looks like the end of its reply and then, up to its own end, a spam
    // message from a blacklisted sender, to pass as the answer to RETR 3. It is one message:
    // judged on all of it (the keyword is in its last line), archived whole, deleted; message 3,
    // a good one, stays, and the forged text never becomes a message of its own.
    QFETCH(bool, pipelining);
    QFETCH(int, delayMs);

    const QByteArray good1 = "From: Friend <f@example.org>\r\nSubject: one\r\n\r\nHi.\r\n";
    const QByteArray forged =
        "From: Neighbour <n@example.org>\r\nSubject: two\r\n\r\nLook:\r\ntext\n.\r\n"
        "+OK\r\nFrom: Offers <win@bulk-offers.example>\r\nSubject: forged\r\n\r\n"
        "You have won.\r\nlast line of two: cheap-pills\r\n";
    const QByteArray good3 = "From: Friend <f@example.org>\r\nSubject: three\r\n\r\nBye.\r\n";

    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.setStuffingAfterCrLfOnly(true);
    server.reply("+OK POP3 server ready");
    if (pipelining)
        server.capa({"USER", "PIPELINING"});
    server.expectLine("USER " + kUser).reply("+OK");
    server.expectLine("PASS " + kPassword).reply("+OK");
    server.expectLine(QStringLiteral("STAT")).reply("+OK 3 600");
    server.setMessageCount(3);
    if (pipelining)
        server.list({good1.size(), forged.size(), good3.size()});
    server.message(1, good1).message(2, forged);
    const auto answerRetr3 = [&] {
        server.expectLine(QStringLiteral("RETR 3")).pause(delayMs);
        server.send("+OK\r\n" + ScriptedPop3Server::dotStuffAfterCrLf(good3) + ".\r\n");
    };
    // Asked for ahead, message 3 comes before the deletion of message 2.
    if (pipelining)
        answerRetr3();
    server.expectLine(QStringLiteral("DELE 2")).pause(delayMs).reply("+OK marked");
    if (!pipelining)
        answerRetr3();
    server.quit();

    TempFolder folder;
    frmMain form(folder.path());
    ScriptedBoxes boxes;
    form.FreePOP1->setPoptimeout(kTimeoutSeconds);
    addAccounts(form, {&server});
    form.gridkeywords->addrow(QStringLiteral("cheap-pills"));
    setCheckValue(form.checkkeywords, 1);
    module_scan(form);

    const QStringList sent = server.received();
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
    QVERIFY2(server.isFinished(), qPrintable(sent.join(u'|')));
    QVERIFY(!sent.contains(QStringLiteral("DELE 1")));
    QVERIFY(!sent.contains(QStringLiteral("DELE 3")));
    QCOMPARE(boxes.shown().size(), 1);
    QCOMPARE(boxes.shown().at(0).text, QStringLiteral("Spam fromNeighbour <n@example.org>"));
    const QStringList pages = archivedPages(folder.path());
    QCOMPARE(pages.size(), 1);
    QFile page(folder.path() + QStringLiteral("/SpamDeleted/") + pages.at(0));
    QVERIFY(page.open(QIODevice::ReadOnly));
    const QByteArray html = page.readAll();
    // The message's own lines, the bare LF among them, are in the page as they came.
    QVERIFY(html.contains("text\n.\r\n+OK\r\nFrom: Offers"));
    QVERIFY(html.contains("last line of two"));
    QCOMPARE(form.txtEmailsBlockedCount->text(), QStringLiteral("1"));
    QCOMPARE(form.txttotalemailsever->text(), QStringLiteral("3"));
}

void TestHostileServers::bareLineFeedServerFailsAtOnce() {
    // A server that ends every line in a bare LF cannot be framed safely: the log-in fails at its
    // greeting, before anything is sent, and the next account is scanned as usual.
    ScriptedPop3Server sloppy;
    QVERIFY(sloppy.listen());
    sloppy.send("+OK POP3 server ready\n").stall();
    ScriptedPop3Server next;
    QVERIFY(next.listen());
    oneSpamRemoved(next);

    TempFolder folder;
    frmMain form(folder.path());
    ScriptedBoxes boxes;
    form.FreePOP1->setPoptimeout(30);
    addAccounts(form, {&sloppy, &next});
    QElapsedTimer clock;
    clock.start();
    module_scan(form);
    // Long before the time-out.
    QVERIFY2(clock.elapsed() < 10 * 1000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY2(sloppy.received().isEmpty(), qPrintable(sloppy.received().join(u'|')));
    QVERIFY2(next.isFinished(), qPrintable(next.failure()));

    FreePOP pop;
    pop.setPophostname(sloppy.address());
    pop.setPopusername(kUser);
    pop.setPoppassword(kPassword);
    sloppy.send("+OK POP3 server ready\n").stall();
    pop.Connect();
    QCOMPARE(pop.ErrorCode(), int(FreePOP::ProtocolError));
    QVERIFY2(pop.errorString().contains(QStringLiteral("LF alone")), qPrintable(pop.errorString()));
}

QTEST_MAIN(TestHostileServers)
#include "tst_hostileservers.moc"
