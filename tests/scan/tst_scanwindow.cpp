// The scan pass in the window, against a mailbox in memory: what the checks leave in the status
// line and the keyword-check counter, the spam notice, the counters and stats.dat, list edits
// made while a pass runs, and sizes beyond 16-bit counts.
#include "app/frmMain.h"
#include "app/ubGrid.h"
#include "config/checkvalue.h"
#include "scanhelpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <memory>

namespace {

const QString& kServer = ScanWindow::kServer;
const QString& kUser = ScanWindow::kUser;
const QString& kPassword = ScanWindow::kPassword;
const QString kClosing = "Corvanta - your closest ally in Fighting SPAM.";

} // namespace

class TestScanWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void classification_data();
    void classification();
    void spamIsArchivedAnnouncedDeletedAndCounted();
    void markupFromMailStaysText();
    void archiveFailureKeepsTheMessage();
    void countersAndStatisticsAtTheEnd();
    void statisticsNotSavedShownUntilTheNextPass();
    void passesWithoutWork();
    void listEditsDuringAPassCount();
    void beyondSixteenBitCounts();
};

void TestScanWindow::classification_data() {
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("subject");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("received");
    QTest::addColumn<QList<int>>("switches"); // whitelist, blacklist, address, keywords
    QTest::addColumn<QStringList>("whitelist");
    QTest::addColumn<QStringList>("blacklist");
    QTest::addColumn<QStringList>("keywords");
    QTest::addColumn<QString>("status"); // left by the checks; "before" when none showed
    QTest::addColumn<QString>("keywordChecks");
    QTest::addColumn<bool>("spam");

    const QString rose = "Grandma Rose <rose@family.example>";
    const QString deals = "\"Deals Desk\" <offers@bulk-offers.example>";
    const QList<int> allOn{1, 1, 1, 1};

    QTest::newRow("whitelisted domain in other case, also blacklisted")
        << rose << "apple cake"
        << "cake" << QString() << allOn << QStringList{"nobody.example", "Family.Example"}
        << QStringList{"rose@"} << QStringList{"cake"} << "WHITELIST ADDRESS DETECTED"
        << "0" << false;
    QTest::newRow("whitelist miss leaves its last comparison")
        << rose << "hi"
        << "hi" << QString() << QList<int>{1, 0, 0, 0}
        << QStringList{"friends.example", "club.example", ""} << QStringList() << QStringList()
        << "FROM is GRANDMA ROSE <ROSE@FAMILY.EXAMPLE> CHECKING FOR CLUB.EXAMPLE"
        << "0" << false;
    QTest::newRow("blacklist miss, then keywords")
        << deals << "Savings"
        << "Dear member" << QString() << QList<int>{0, 1, 0, 1} << QStringList()
        << QStringList{"spam.example"} << QStringList{"lottery", "prize"}
        << "KEYWORD CHECK = PRIZE CHECKING BODY"
        << "2" << false;
    QTest::newRow("phrase in subject in other case")
        << deals << "Try our MIRACLE Cure today"
        << "miracle cure" << QString() << QList<int>{0, 0, 0, 1} << QStringList() << QStringList()
        << QStringList{"miracle cure"} << "SPAM DETECTED"
        << "1" << true;
    QTest::newRow("keyword only in the body")
        << deals << "A note"
        << "You have unclaimed FUNDS waiting" << QString() << QList<int>{0, 0, 0, 1}
        << QStringList() << QStringList() << QStringList{"lottery", "Unclaimed Funds", "prize"}
        << "SPAM DETECTED"
        << "2" << true;
    QTest::newRow("upper case by Unicode rules")
        << deals
        << "Viele Gr\xc3\xbc\xc3\x9f"
           "e"
        << "x" << QString() << QList<int>{0, 0, 0, 1} << QStringList() << QStringList()
        << QStringList{"GR\u00dc\u00dfE"} << "SPAM DETECTED"
        << "1" << true;
    QTest::newRow("address check")
        << rose << "hi"
        << "hi"
        << "from [203.0.113.45] (helo=x) by mx.example" << QList<int>{0, 0, 1, 0} << QStringList()
        << QStringList() << QStringList() << "CHECKING IP ADDRESS 203.0.113.45"
        << "0" << false;
    QTest::newRow("address after a host name is not shown")
        << rose << "hi"
        << "hi"
        << "from mail.example (mail.example [192.0.2.10]) by mx" << QList<int>{0, 0, 1, 0}
        << QStringList() << QStringList() << QStringList() << "before"
        << "0" << false;
    QTest::newRow("address without closing bracket is not shown")
        << rose << "hi"
        << "hi"
        << "from [203.0.113.45 by mx" << QList<int>{0, 0, 1, 0} << QStringList() << QStringList()
        << QStringList() << "before"
        << "0" << false;
    QTest::newRow("address check decides nothing")
        << rose << "hi"
        << "hi"
        << "from [203.0.113.45] by mx" << QList<int>{0, 0, 1, 1} << QStringList() << QStringList()
        << QStringList{"lottery"} << "KEYWORD CHECK = LOTTERY CHECKING BODY"
        << "1" << false;
    QTest::newRow("greyed switches")
        << deals << "lottery"
        << "lottery"
        << "from [1.2.3.4]" << QList<int>{2, 2, 2, 2} << QStringList{"bulk"} << QStringList{"bulk"}
        << QStringList{"lottery"} << "before"
        << "0" << false;
    QTest::newRow("empty entries are skipped")
        << deals << "lottery"
        << "x" << QString() << QList<int>{1, 1, 0, 1} << QStringList{""}
        << QStringList{"", "nobody"} << QStringList{"", ""}
        << "FROM is \"DEALS DESK\" <OFFERS@BULK-OFFERS.EXAMPLE> CHECKING FOR NOBODY"
        << "0" << false;
    QTest::newRow("empty whitelist row does not let spam through")
        << deals << "hi"
        << "x" << QString() << QList<int>{1, 1, 0, 0} << QStringList{""}
        << QStringList{"bulk-offers"} << QStringList() << "SPAM DETECTED"
        << "0" << true;
}

void TestScanWindow::classification() {
    QFETCH(QString, from);
    QFETCH(QString, subject);
    QFETCH(QString, body);
    QFETCH(QString, received);
    QFETCH(QList<int>, switches);
    QFETCH(QStringList, whitelist);
    QFETCH(QStringList, blacklist);
    QFETCH(QStringList, keywords);
    QFETCH(QString, status);
    QFETCH(QString, keywordChecks);
    QFETCH(bool, spam);

    ScanWindow w;
    const QByteArray raw =
        mailMessage(from.toUtf8(), subject.toUtf8(), body.toUtf8(), received.toUtf8());
    w.account({raw});
    w.switches(switches[0], switches[1], switches[2], switches[3]);
    fillGrid(w.form.gridwhitelist, whitelist);
    fillGrid(w.form.gridblacklist, blacklist);
    fillGrid(w.form.gridkeywords, keywords);
    w.form.Label17->setText("before");
    QString atLogout;
    w.pop->onCall = [&](const QString& call) {
        if (call == "Disconnect")
            atLogout = w.form.Label17->text();
    };
    NoticeRecorder notices(w.form);

    w.form.cmdscannow_Click();

    QCOMPARE(atLogout, status);
    QCOMPARE(w.form.Text2->text(), keywordChecks);
    QCOMPARE(w.pop->removed(kServer), spam ? QList<int>{1} : QList<int>());
    QCOMPARE(notices.texts(), spam ? QStringList{"Spam from" + from} : QStringList());
    QCOMPARE(w.form.txtEmailsBlockedCount->text(), spam ? "1" : "0");
    QCOMPARE(w.form.txttotalemailsever->text(), "1");
    QCOMPARE(w.form.Label17->text(), kClosing);
}

void TestScanWindow::spamIsArchivedAnnouncedDeletedAndCounted() {
    ScanWindow w;
    const QByteArray spam =
        mailMessage("Prize Team <win@claims.example>", "You won", "Claim your lottery prize.\r\n");
    w.account({mailMessage("A <a@x.example>", "hello"), spam, spam});
    w.switches(0, 0, 0, 1);
    fillGrid(w.form.gridkeywords, {"lottery"});
    NoticeRecorder notices(w.form);

    w.form.cmdscannow_Click();

    // Messages keep their numbers after a deletion; both copies are archived under names of
    // their own, in a folder the pass created.
    QCOMPARE(w.pop->removed(kServer), QList<int>({2, 3}));
    const QDir archive(w.folder.file("SpamDeleted"));
    QCOMPARE(archive.entryList(QDir::Files, QDir::Name),
             QStringList({"You won (2).html", "You won.html"}));
    QCOMPARE(notices.notices.size(), 2);
    for (const NoticeRecorder::Notice& notice : std::as_const(notices.notices)) {
        QCOMPARE(notice.box.text, "Spam fromPrize Team <win@claims.example>");
        QCOMPARE(notice.box.title, "Corvanta");
        QCOMPARE(notice.box.buttons, MsgBoxButtons::Ok);
        QCOMPARE(notice.status, "SPAM DETECTED");
    }
    // The archive is written before the notice, the deletion mark after it.
    const QStringList calls = w.pop->calls();
    const qsizetype save = calls.indexOf(QRegularExpression("SaveMessage .*/You won.html"));
    QVERIFY(save > 0);
    QCOMPARE(calls.at(save + 1), "DeleteMessage 2");
    QCOMPARE(w.form.txtEmailsBlockedCount->text(), "2");
}

void TestScanWindow::markupFromMailStaysText() {
    ScanWindow w;
    const QByteArray from = "\"<b>Boss</b><img src=x onerror=alert(1)>\" <boss@corp.example>";
    w.account({mailMessage(from, "<i>hi</i>"), mailMessage(from, "again")});
    w.switches(0, 1, 0, 0);
    fillGrid(w.form.gridblacklist, {"NOBODY"});
    QString atSecondFetch;
    w.pop->onCall = [&](const QString& call) {
        if (call == "FetchMessage 2") {
            atSecondFetch = w.form.Label17->text();
            w.form.gridblacklist->addrow("corp.example");
        }
    };
    NoticeRecorder notices(w.form);

    w.form.cmdscannow_Click();

    QCOMPARE(w.form.Label17->textFormat(), Qt::PlainText);
    QCOMPARE(atSecondFetch,
             "FROM is \"<B>BOSS</B><IMG SRC=X ONERROR=ALERT(1)>\" <BOSS@CORP.EXAMPLE> "
             "CHECKING FOR NOBODY");
    QCOMPARE(notices.texts(), QStringList{"Spam from" + QString::fromLatin1(from)});
}

void TestScanWindow::archiveFailureKeepsTheMessage() {
    ScanWindow w;
    w.account({mailMessage("X <x@spam.example>", "offer"), mailMessage("Y <y@ok.example>", "hi")});
    w.switches(0, 1, 0, 0);
    fillGrid(w.form.gridblacklist, {"spam.example"});
    w.form.txtEmailsBlockedCount->setText("7");
    w.pop->failSaves();
    NoticeRecorder notices(w.form);

    w.form.cmdscannow_Click();

    QCOMPARE(w.pop->count("DeleteMessage 1"), 0);
    QVERIFY(w.pop->removed(kServer).isEmpty());
    QCOMPARE(w.form.txtEmailsBlockedCount->text(), "7");
    QCOMPARE(w.form.txttotalemailsever->text(), "2");
    QCOMPARE(notices.notices.size(), 1);
    QCOMPARE(notices.notices[0].status,
             "SPAM DETECTED - kept on the server: the archive file could not be written");
    QCOMPARE(notices.notices[0].box.text,
             "Spam fromX <x@spam.example>\r\nIt was kept on the server because its archive file "
             "could not be written.");
    // The history says why it is still there.
    QVERIFY(w.folder.read("scan.log")
                .contains("\tkept\tme on pop.home.example\tX <x@spam.example>\toffer\tblacklist "
                          "entry `spam.example` found in the sender\tthe archive file could not be "
                          "written\r\n"));
}

void TestScanWindow::countersAndStatisticsAtTheEnd() {
    ScanWindow w;
    w.account({mailMessage("A <a@x.example>", "lottery"), mailMessage("B <b@y.example>", "hi"),
               mailMessage("C <c@z.example>", "hello")});
    w.switches(1, 0, 2, 1);
    fillGrid(w.form.gridkeywords, {"lottery", "prize"});
    fillGrid(w.form.gridwhitelist, {"nobody"});
    w.form.txtAccountsCount->setText("9"); // written as it stands, not recounted
    w.form.txtEmailsBlockedCount->setText("41");
    w.form.txttotalemailsever->setText("999999");
    w.form.Text2->setText("not a number");
    w.form.combominutes->setEditText("15");
    NoticeRecorder notices(w.form);

    w.form.cmdscannow_Click();

    QCOMPARE(w.form.txtEmailsBlockedCount->text(), "42");
    QCOMPARE(w.form.txttotalemailsever->text(), "1000002");
    QCOMPARE(w.form.Text2->text(), "5"); // 1 + 2 + 2 subject comparisons
    QCOMPARE(w.form.Label17->text(), kClosing);
    QCOMPARE(w.folder.read("stats.dat"),
             "9\r\n0\r\n0\r\n0\r\n42\r\n1000002\r\n 0 \r\n15\r\n 1 \r\n 0 \r\n 2 \r\n 1 \r\n");
}

void TestScanWindow::statisticsNotSavedShownUntilTheNextPass() {
    const QString notSaved = kClosing + " - counters not saved to stats.dat: Is a directory";
    ScanWindow w;
    w.account({mailMessage("A <a@x.example>", "hi")});
    w.form.txttotalemailsever->setText("10");
    // A folder where stats.dat belongs: not even the superuser can write the file.
    w.folder.write("stats.dat/kept.txt", "kept");
    NoticeRecorder notices(w.form);

    w.form.cmdscannow_Click();

    QCOMPARE(w.form.Label17->text(), notSaved);
    QCOMPARE(w.form.Label17->toolTip(), notSaved);
    QCOMPARE(w.form.txttotalemailsever->text(), "11");
    QVERIFY(notices.notices.isEmpty());
    // The window's own events leave the line alone.
    QCoreApplication::processEvents();
    QCOMPARE(w.form.Label17->text(), notSaved);

    // The next pass that saves shows the closing text alone.
    QVERIFY(QDir(w.folder.file("stats.dat")).removeRecursively());
    w.form.cmdscannow_Click();
    QCOMPARE(w.form.Label17->text(), kClosing);
    QVERIFY(w.form.Label17->toolTip().isEmpty());
    QCOMPARE(w.folder.read("stats.dat").split('\n').value(5), "12\r");

    // Reload reads the counters back from the file and the title replaces the notice.
    QVERIFY(QFile::remove(w.folder.file("stats.dat")));
    w.folder.write("stats.dat/kept.txt", "kept");
    w.form.cmdscannow_Click();
    QCOMPARE(w.form.Label17->text(), notSaved);
    w.form.cmdreloadconfig_Click();
    QCOMPARE(w.form.Label17->text(), "Corvanta - Simple and effective anti-spam protection.");
    QVERIFY(w.form.Label17->toolTip().isEmpty());
    QVERIFY(notices.notices.isEmpty());
}

void TestScanWindow::passesWithoutWork() {
    {
        // No accounts: nothing happens at all.
        ScanWindow w;
        w.form.Label17->setText("before");
        w.form.cmdscannow_Click();
        QCOMPARE(w.form.Label17->text(), "before");
        QVERIFY(!w.folder.exists("stats.dat"));
        QVERIFY(w.pop->calls().isEmpty());
    }
    {
        // Every log-in refused: skipped without a box and without a log-out, and the pass ends as
        // usual, naming the accounts after its closing text.
        ScanWindow w;
        w.pop->addAccount(kServer, kUser, kPassword, {mailMessage("A <a@x>", "hi")});
        w.addAccountRow(kServer, kUser, "wrong");
        w.addAccountRow("other.example", kUser, kPassword);
        NoticeRecorder notices(w.form);
        w.form.cmdscannow_Click();
        QCOMPARE(w.pop->calls(), QStringList({"Connect " + kServer, "Connect other.example"}));
        QCOMPARE(w.form.txttotalemailsever->text(), "0");
        QCOMPARE(w.form.Label17->text(), kClosing + " - 2 accounts not checked: me, me");
        QVERIFY(w.folder.exists("stats.dat"));
        QVERIFY(notices.notices.isEmpty());
    }
    {
        // An empty mailbox: log-in and log-out, nothing counted.
        ScanWindow w;
        w.account({});
        w.form.cmdscannow_Click();
        QCOMPARE(w.pop->calls(), QStringList({"Connect " + kServer, "Disconnect"}));
        QCOMPARE(w.form.txttotalemailsever->text(), "0");
        QCOMPARE(w.form.Label17->text(), kClosing);
    }
}

void TestScanWindow::listEditsDuringAPassCount() {
    ScanWindow w;
    w.account({mailMessage("A <a@one.example>", "1"), mailMessage("B <b@two.example>", "2"),
               mailMessage("C <c@three.example>", "3"), mailMessage("B <b@two.example>", "4")});
    w.switches(0, 1, 0, 0);
    fillGrid(w.form.gridblacklist, {"nobody"});
    // Edits made while the pass waits (a click during one of its yields) reach the next message.
    w.pop->onCall = [&](const QString& call) {
        if (call == "FetchMessage 2")
            w.form.gridblacklist->addrow("two.example");
        else if (call == "FetchMessage 3")
            w.form.gridblacklist->setCelltext(1, 1, "three.example");
        else if (call == "FetchMessage 4")
            w.form.gridblacklist->removerow(2);
    };
    NoticeRecorder notices(w.form);
    w.form.cmdscannow_Click();
    QCOMPARE(w.pop->removed(kServer), QList<int>({2, 3}));
}

void TestScanWindow::beyondSixteenBitCounts() {
    ScanWindow w;
    constexpr int kRows = 33000;
    constexpr int kMessages = 33000;

    // The account that works is the last of more than 32767 rows.
    for (int i = 1; i < kRows; ++i)
        w.addAccountRow("host" + QString::number(i), kUser, kPassword);
    w.pop->addGeneratedAccount(kServer, kUser, kPassword, kMessages, [](int n) {
        return mailMessage("S <s@x.example>", "number " + QByteArray::number(n) + " ends");
    });
    w.addAccountRow(kServer, kUser, kPassword);

    // The keyword that decides is the last of more than 32767 rows.
    QStringList keywords;
    for (int i = 1; i < kRows; ++i)
        keywords.append("word" + QString::number(i) + "x");
    keywords.append("NUMBER " + QString::number(kMessages) + " ENDS");
    fillGrid(w.form.gridkeywords, keywords);
    w.switches(0, 0, 0, 1);
    NoticeRecorder notices(w.form);

    QElapsedTimer clock;
    clock.start();
    w.form.cmdscannow_Click();
    qInfo("%d accounts, %d messages, %d keywords: %lld ms", kRows, kMessages, kRows,
          clock.elapsed());

    QCOMPARE(w.pop->removed(kServer), QList<int>{kMessages});
    QCOMPARE(w.form.txttotalemailsever->text(), QString::number(kMessages));
    // Every message was compared with every keyword: about 1.1e9 subject comparisons.
    QCOMPARE(w.form.Text2->text(), QString::number(qint64(kMessages) * kRows));
    QCOMPARE(w.pop->count("Connect " + kServer), 1);
    QCOMPARE(w.pop->calls().size(), kRows + 2 * kMessages + 3);
}

QTEST_MAIN(TestScanWindow)
#include "tst_scanwindow.moc"
