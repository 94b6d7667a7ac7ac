// The scan pass end to end with the real POP3 component: against the test suite's mail server
// (what is left on the server, the archive pages, the counters and stats.dat), and against a
// scripted server for the faults a real one does not produce on demand.
#include "app/frmMain.h"
#include "app/ubGrid.h"
#include "scan/pop3/FreePOP.h"
#include "scanhelpers.h"
#include "support/demomail.h"
#include "support/dovecot.h"
#include "support/scriptedpop3server.h"
#include "support/ui/scriptedboxes.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString kClosing = "Corvanta - your closest ally in Fighting SPAM.";
const QString kUser = "alice";
const QString kPassword = "open-sesame-42";

// The raw message an archive page holds, read back as the page describes it.
QByteArray messageFromPage(const QByteArray& page) {
    const QByteArray startTag = "<pre id=\"message-source\">";
    const qsizetype start = page.indexOf(startTag);
    const qsizetype end = page.indexOf("</pre>", start);
    if (start < 0 || end < 0)
        return QByteArray();
    const QByteArray escaped = page.mid(start + startTag.size(), end - start - startTag.size());
    QByteArray text;
    for (qsizetype i = 0; i < escaped.size(); ++i) {
        bool replaced = false;
        for (const auto& [entity, c] : {std::pair{"&lt;", '<'},
                                        {"&gt;", '>'},
                                        {"&quot;", '"'},
                                        {"&#39;", '\''},
                                        {"&amp;", '&'}}) {
            if (escaped.mid(i).startsWith(entity)) {
                text += c;
                i += qsizetype(strlen(entity)) - 1;
                replaced = true;
                break;
            }
        }
        if (!replaced)
            text += escaped.at(i);
    }
    if (page.contains("name=\"message-source-encoding\" content=\"iso-8859-1\""))
        return QString::fromUtf8(text).toLatin1();
    return text;
}

QByteArray withCrLf(QByteArray text) {
    text.replace("\r\n", "\n");
    text.replace("\n", "\r\n");
    return text;
}

// No element of the message can take effect: its "<" all arrive escaped.
// No script, image or frame of the message's, and no link but the page's own, which saves the
// message from the page itself and loads nothing.
bool runsNothing(const QByteArray& page) {
    const QByteArray lower = page.toLower();
    return !lower.contains("<script") && !lower.contains("<img") && !lower.contains("<iframe") &&
           !lower.contains("onerror=\"") && lower.count("<a ") == 1 &&
           QRegularExpression("<a id=\"message-download\" download=\"[^\"<>]*\" "
                              "href=\"data:message/rfc822;base64,[A-Za-z0-9+/=]*\">")
               .match(QString::fromUtf8(page))
               .hasMatch();
}

QStringList boxTexts(const ScriptedBoxes& boxes) {
    QStringList texts;
    for (const MsgBoxRequest& box : boxes.shown())
        texts.append(box.text);
    return texts;
}

} // namespace

class TestScanPass : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void scansRealMailboxes();
    void archivesHostileMailSafely();
    void failedFetchIsCountedAndSkipped();
    void droppedConnectionAndSilentServers();
    void unwritableArchiveKeepsTheMessage();
};

void TestScanPass::scansRealMailboxes() {
    DovecotMailbox demo;
    DovecotMailbox locked;
    DovecotMailbox empty;
    if (!demo.available() || !locked.available() || !empty.available())
        QSKIP(demo.skipReason());
    const QList<QByteArray> messages = demomail::messages();
    QCOMPARE(messages.size(), 6);
    QVERIFY(demo.seed(messages));
    QVERIFY(locked.seed({messages.at(0)}));

    ScanWindow w(false);
    w.addAccountRow(demo.server(), demo.userName(), demo.password());
    w.addAccountRow(locked.server(), locked.userName(), "not-the-password");
    w.addAccountRow(empty.server(), empty.userName(), empty.password());
    const demomail::Lists lists = demomail::lists();
    fillGrid(w.form.gridwhitelist, lists.whitelist);
    fillGrid(w.form.gridblacklist, lists.blacklist);
    fillGrid(w.form.gridkeywords, lists.keywords);
    w.switches(1, 1, 1, 1);
    w.form.txtEmailsBlockedCount->setText("41");
    w.form.txttotalemailsever->setText("999");
    ScriptedBoxes boxes;

    w.form.cmdscannow_Click();

    // On the servers: the spam is gone, the rest is there; the refused account is untouched.
    QCOMPARE(demo.messages(), QList<QByteArray>({messages[1], messages[3], messages[5]}));
    QCOMPARE(locked.messages().size(), 1);
    QVERIFY(empty.messages().isEmpty());

    // The refused log-in brings up no box; each spam message one notice.
    QCOMPARE(boxTexts(boxes),
             QStringList({"Spam from\"Deals Desk\" <offers@bulk-offers.example>",
                          "Spam from\"Prize Notification\" <notice@claims-center.example>",
                          "Spam from\"Wellness Team\" <team@herbal-wonders.example>"}));
    for (const MsgBoxRequest& box : boxes.shown()) {
        QCOMPARE(box.title, "Corvanta");
        QCOMPARE(box.buttons, MsgBoxButtons::Ok);
    }

    QCOMPARE(w.form.txtEmailsBlockedCount->text(), "44");
    QCOMPARE(w.form.txttotalemailsever->text(), "1005");
    // The refused log-in is named after the closing text, with the server's own words.
    const QString lockedAccount = locked.userName() + " on " + locked.server();
    QCOMPARE(w.form.Label17->text(), kClosing + " - not checked: " + locked.userName());
    QVERIFY(shownText(w.form.Label17->toolTip())
                .contains(lockedAccount + ": the server refused the login name or the password: "));
    QCOMPARE(w.folder.read("stats.dat"),
             "0\r\n0\r\n0\r\n0\r\n44\r\n1005\r\n 0 \r\n5\r\n 1 \r\n 1 \r\n 1 \r\n 1 \r\n");

    // The archive folder was created; one page per spam message, named after its subject,
    // holding the message as it was retrieved.
    const QDir archive(w.folder.file("SpamDeleted"));
    const QStringList names = archive.entryList(QDir::Files, QDir::Name);
    QCOMPARE(names, QStringList({"A personal note about your health.html",
                                 "Congratulations, you are a LOTTERY winner - claim today.html",
                                 "Exclusive savings for our valued member.html"}));
    const QByteArray pages[] = {w.folder.read("SpamDeleted/" + names[2]),
                                w.folder.read("SpamDeleted/" + names[1]),
                                w.folder.read("SpamDeleted/" + names[0])};
    const QByteArray spam[] = {messages[0], messages[2], messages[4]};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(messageFromPage(pages[i]), withCrLf(spam[i]));
        QVERIFY(runsNothing(pages[i]));
        // Each page says why, with the account it came from.
        QVERIFY(pages[i].contains("<p id=\"removal-reason\">Removed as spam: "));
        QVERIFY(pages[i].contains(QByteArray("<p id=\"removal-account\">From the mailbox " +
                                             demo.userName().toUtf8() + " on ")));
    }
    // The history names every page and the account that could not be checked.
    const QByteArray log = w.folder.read("scan.log");
    for (const QString& name : names)
        QVERIFY2(log.contains(("\tSpamDeleted/" + name + "\r\n").toUtf8()), log.constData());
    QVERIFY(log.contains(("\tnot checked\t" + lockedAccount + "\tthe server refused").toUtf8()));
}

void TestScanPass::archivesHostileMailSafely() {
    DovecotMailbox box;
    if (!box.available())
        QSKIP(box.skipReason());
    const QByteArray from = "\"<img src=x onerror=alert(1)>\" <evil@spam.example>";
    const QByteArray hostile =
        "From: " + from +
        "\r\nTo: me@home.example\r\nSubject: ../../<script>alert(1)</script>\r\n"
        "MIME-Version: 1.0\r\nContent-Type: text/html; charset=utf-8\r\n\r\n"
        "<html><body onload=\"steal()\"><script>steal()</script>"
        "<iframe src=\"http://evil.example/\"></iframe><a href=\"x\">x</a></body></html>\r\n";
    QVERIFY(box.seed({hostile}));

    ScanWindow w(false);
    w.addAccountRow(box.server(), box.userName(), box.password());
    fillGrid(w.form.gridblacklist, {"spam.example"});
    w.switches(0, 1, 0, 0);
    ScriptedBoxes boxes;

    w.form.cmdscannow_Click();

    QVERIFY(box.messages().isEmpty());
    QCOMPARE(boxTexts(boxes), QStringList{"Spam from" + QString::fromLatin1(from)});
    // Nothing was written outside the archive folder, whose one page stays inside it, but the
    // counters and the history.
    QCOMPARE(QDir(w.folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList({"scan.log", "SpamDeleted", "stats.dat"}));
    const QStringList names =
        QDir(w.folder.file("SpamDeleted")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    QCOMPARE(names.size(), 1);
    QVERIFY(!names[0].contains('/'));
    const QByteArray page = w.folder.read("SpamDeleted/" + names[0]);
    QVERIFY(runsNothing(page));
    QCOMPARE(messageFromPage(page), hostile);
}

void TestScanPass::failedFetchIsCountedAndSkipped() {
    const QByteArray spam = mailMessage("S <s@spam.example>", "offer");
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    // Message 2 cannot be fetched; 1 and 3 are judged and deleted under their own numbers.
    server.login(kUser, kPassword, 3)
        .message(1, spam)
        .expectLine("DELE 1")
        .reply("+OK")
        .expectLine("RETR 2")
        .reply("-ERR message is locked")
        .message(3, spam)
        .expectLine("DELE 3")
        .reply("+OK")
        .quit();

    ScanWindow w(false);
    w.addAccountRow(server.address(), kUser, kPassword);
    fillGrid(w.form.gridblacklist, {"spam.example"});
    w.switches(0, 1, 0, 0);
    w.form.txttotalemailsever->setText("10");
    ScriptedBoxes boxes;

    w.form.cmdscannow_Click();

    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
    QVERIFY(server.isFinished());
    QCOMPARE(boxes.shown().size(), 2);
    QCOMPARE(w.form.txttotalemailsever->text(), "13");
    QCOMPARE(w.form.txtEmailsBlockedCount->text(), "2");
}

void TestScanPass::droppedConnectionAndSilentServers() {
    const QByteArray ham = mailMessage("H <h@home.example>", "hello");
    ScriptedPop3Server silent;
    ScriptedPop3Server slow;
    ScriptedPop3Server dropping;
    QVERIFY(silent.listen() && slow.listen() && dropping.listen());
    // Never greets.
    silent.stall();
    // Never answers the second retrieval.
    slow.login(kUser, kPassword, 2).message(1, ham).expectLine("RETR 2").stall();
    // Breaks off in the middle of message 2; the next account reaches it again.
    dropping.login(kUser, kPassword, 3)
        .message(1, ham)
        .expectLine("RETR 2")
        .send("+OK 900 octets\r\nFrom: H <h@home.example>\r\nSubj")
        .drop()
        .login("bob", kPassword, 1)
        .message(1, ham)
        .quit();

    ScanWindow w(false);
    w.form.FreePOP1->setPoptimeout(1);
    w.addAccountRow(silent.address(), kUser, kPassword);
    w.addAccountRow(slow.address(), kUser, kPassword);
    w.addAccountRow(dropping.address(), kUser, kPassword);
    w.addAccountRow(dropping.address(), "bob", kPassword);
    ScriptedBoxes boxes;

    QElapsedTimer clock;
    clock.start();
    w.form.cmdscannow_Click();
    QVERIFY(clock.elapsed() < 20000);

    for (const ScriptedPop3Server* server : {&silent, &slow, &dropping})
        QVERIFY2(server->failure().isEmpty(), qPrintable(server->failure()));
    QVERIFY(dropping.isFinished());
    // After the break nothing more is asked of that connection, and no QUIT removes anything.
    const QStringList lines = dropping.received();
    const qsizetype broken = lines.indexOf("RETR 2");
    const qsizetype next = lines.indexOf("USER bob");
    QVERIFY(broken > 0 && next > broken);
    for (const QString& line : lines.mid(broken + 1, next - broken - 1))
        QVERIFY2(!QRegularExpression("^(RETR|DELE|QUIT)").match(line).hasMatch(), qPrintable(line));
    QVERIFY(!slow.received().contains("QUIT"));
    // Every message number of the accounts that logged in counts: 2 + 3 + 1.
    QCOMPARE(w.form.txttotalemailsever->text(), "6");
    // The server that never greeted could not be checked; the others were logged into.
    QCOMPARE(w.form.Label17->text(), kClosing + " - not checked: " + kUser);
    QVERIFY(shownText(w.form.Label17->toolTip()).contains(kUser + " on " + silent.address()));
    QVERIFY(shownText(w.form.Label17->toolTip()).contains("the server did not answer in time"));
    QVERIFY(boxes.shown().isEmpty());
}

void TestScanPass::unwritableArchiveKeepsTheMessage() {
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    // No DELE may come: the script expects the next retrieval right after the first.
    server.login(kUser, kPassword, 2)
        .message(1, mailMessage("S <s@spam.example>", "offer"))
        .message(2, mailMessage("H <h@home.example>", "hello"))
        .quit();

    ScanWindow w(false);
    // A file where the archive folder should be.
    w.folder.write("SpamDeleted", "not a folder");
    w.addAccountRow(server.address(), kUser, kPassword);
    fillGrid(w.form.gridblacklist, {"spam.example"});
    w.switches(0, 1, 0, 0);
    w.form.txtEmailsBlockedCount->setText("5");
    NoticeRecorder notices(w.form);

    w.form.cmdscannow_Click();

    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
    QVERIFY(server.isFinished());
    QCOMPARE(w.form.txtEmailsBlockedCount->text(), "5");
    QCOMPARE(w.form.txttotalemailsever->text(), "2");
    QCOMPARE(w.folder.read("SpamDeleted"), "not a folder");
    QCOMPARE(notices.notices.size(), 1);
    QCOMPARE(notices.notices[0].status,
             "SPAM DETECTED - kept on the server: the archive file could not be written");
    QVERIFY(notices.notices[0].box.text.startsWith("Spam fromS <s@spam.example>\r\n"));
}

QTEST_MAIN(TestScanPass)
#include "tst_scanpass.moc"
