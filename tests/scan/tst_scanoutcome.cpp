// What the window tells of a pass beyond the counters, against a mailbox in memory: accounts
// that could not be checked (status line, Accounts grid, tray notifications), why each removed
// message was removed (its archive page), and the scan history in scan.log.
#include "app/SysTrayModule.h"
#include "app/frmMain.h"
#include "app/ubGrid.h"
#include "scanhelpers.h"
#include "support/scriptedpop3server.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>

namespace {

const QString kClosing = "Corvanta - your closest ally in Fighting SPAM.";
const QString kBadServer = "pop.b.example";
const QString kBadUser = "bob";
const QString kRightPassword = "right-horse-7";
const QString kWrongPassword = "wrong-battery-9";

struct TrayMessage {
    QString title;
    QString text;
    SysTrayModule::MessageKind kind;
};

// Every tray notification asked for while it lives.
class TrayMessages {
public:
    TrayMessages() {
        SysTrayModule::setMessageObserver(
            [this](const QString& title, const QString& text, SysTrayModule::MessageKind kind) {
                messages.append({title, text, kind});
            });
    }
    ~TrayMessages() { SysTrayModule::setMessageObserver({}); }
    TrayMessages(const TrayMessages&) = delete;
    TrayMessages& operator=(const TrayMessages&) = delete;
    QList<TrayMessage> messages;
};

QVariant gridData(const ubGrid* grid, int row, int col, int role) {
    return grid->model()->index(row - 1, col - 1).data(role);
}

// The lines of scan.log without their times.
QStringList logLines(const TempFolder& folder) {
    QStringList lines;
    for (const QString& line : QString::fromUtf8(folder.read("scan.log")).split("\r\n")) {
        if (!line.isEmpty())
            lines.append(line.section('\t', 1));
    }
    return lines;
}

QString pageText(const TempFolder& folder, const QString& name, const QString& id) {
    const QString page = QString::fromUtf8(folder.read("SpamDeleted/" + name));
    const QRegularExpression element("<p id=\"" + id + "\">(.*?)</p>");
    return element.match(page).captured(1);
}

} // namespace

class TestScanOutcome : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void failingAccountIsShownUntilItWorksAgain();
    void removedMessagesSayWhy();
    void scanLogThatCannotBeWrittenStopsNothing();
    void serverWordsInNoticesStayText();
};

void TestScanOutcome::failingAccountIsShownUntilItWorksAgain() {
    ScanWindow w;
    w.account({mailMessage("A <a@x.example>", "hello")});
    w.pop->addAccount(kBadServer, kBadUser, kRightPassword, {mailMessage("B <b@x>", "hi")});
    w.addAccountRow(kBadServer, kBadUser, kWrongPassword);
    w.form.txtAccountsCount->setText("2");
    NoticeRecorder notices(w.form);
    TrayMessages tray;
    const QString failing = "Not checked in the last scan: the server refused the login name or "
                            "the password";

    // Two passes with the wrong password: the line, the row's mark and one notification.
    for (int pass = 1; pass <= 2; ++pass) {
        w.form.cmdscannow_Click();
        QCOMPARE(w.form.Label17->text(), kClosing + " - not checked: bob");
        // In full in the tooltip, shown as the text it is.
        QCOMPARE(shownText(w.form.Label17->toolTip()),
                 kClosing + " This account could not be checked: bob on pop.b.example: the "
                            "server refused the login name or the password");
        QCOMPARE(tray.messages.size(), 1);
        QCOMPARE(shownText(gridData(w.form.gridAccounts, 2, 2, Qt::ToolTipRole).toString()),
                 failing);
        QVERIFY(!gridData(w.form.gridAccounts, 2, 1, Qt::DecorationRole).isNull());
        QVERIFY(gridData(w.form.gridAccounts, 1, 1, Qt::ToolTipRole).isNull());
        QVERIFY(gridData(w.form.gridAccounts, 1, 1, Qt::DecorationRole).isNull());
    }
    QCOMPARE(tray.messages.at(0).title, "A mail account could not be checked");
    QCOMPARE(tray.messages.at(0).text,
             "bob on pop.b.example: the server refused the login name or the password");
    QCOMPARE(tray.messages.at(0).kind, SysTrayModule::MessageKind::Warning);
    // No box held up either pass, and the grid, its count and accounts.dat are as they were.
    QVERIFY(notices.notices.isEmpty());
    QCOMPARE(w.form.gridAccounts->rows(), 2);
    QCOMPARE(gridData(w.form.gridAccounts, 2, 1, Qt::DisplayRole).toString(), kBadServer);
    QCOMPARE(w.form.gridAccounts->celltext(2, 3), kWrongPassword);
    QCOMPARE(w.form.txtAccountsCount->text(), "2");
    QVERIFY(!w.folder.exists("accounts.dat"));
    QCOMPARE(w.form.txttotalemailsever->text(), "2");

    // The password mended: one notification that it works again, and the notices are gone.
    w.form.gridAccounts->setCelltext(2, 3, kRightPassword);
    w.form.cmdscannow_Click();
    QCOMPARE(tray.messages.size(), 2);
    QCOMPARE(tray.messages.at(1).title, "A mail account is checked again");
    QCOMPARE(tray.messages.at(1).text, "bob on pop.b.example");
    QCOMPARE(tray.messages.at(1).kind, SysTrayModule::MessageKind::Information);
    QCOMPARE(w.form.Label17->text(), kClosing);
    QVERIFY(w.form.Label17->toolTip().isEmpty());
    QVERIFY(gridData(w.form.gridAccounts, 2, 2, Qt::ToolTipRole).isNull());
    w.form.cmdscannow_Click();
    QCOMPARE(tray.messages.size(), 2);

    const QString notChecked = "not checked\tbob on pop.b.example\tthe server refused the login "
                               "name or the password";
    const QStringList lines = logLines(w.folder);
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines.at(0), notChecked);
    QVERIFY(lines.at(1).startsWith("pass\t2 accounts\t1 not checked\t1 messages\t0 removed\t"));
    QCOMPARE(lines.at(2), notChecked);
    QVERIFY(lines.at(4).startsWith("pass\t2 accounts\t0 not checked\t2 messages\t0 removed\t"));
    // The password is nowhere in what the user is shown.
    const QByteArray log = w.folder.read("scan.log");
    QVERIFY(!log.contains(kWrongPassword.toUtf8()) && !log.contains(kRightPassword.toUtf8()));
}

void TestScanOutcome::removedMessagesSayWhy() {
    ScanWindow w;
    // Entries with markup characters and a control character, as a list file may hold them.
    w.account({mailMessage("Deals <sales@o'brien&co.example>", "Offer"),
               mailMessage("A <a@x.example>", "Get <FREE> stuff"),
               mailMessage("B <b@x.example>", "Note", "Act\x01now, please.\r\n"),
               mailMessage("Grandma <rose@family.example>", "Cake")});
    w.switches(0, 1, 0, 1);
    fillGrid(w.form.gridblacklist, {"nobody.example", "O'Brien&Co.example"});
    fillGrid(w.form.gridkeywords, {"<free>", "act\x01now"});
    NoticeRecorder notices(w.form);

    w.form.cmdscannow_Click();

    QCOMPARE(w.pop->removed(ScanWindow::kServer), QList<int>({1, 2, 3}));
    QCOMPARE(pageText(w.folder, "Offer.html", "removal-reason"),
             "Removed as spam: blacklist entry <code class=\"entry\">O&#39;Brien&amp;Co.example"
             "</code> found in the sender");
    QCOMPARE(pageText(w.folder, "Get _FREE_ stuff.html", "removal-reason"),
             "Removed as spam: keyword <code class=\"entry\">&lt;free&gt;</code> found in the "
             "subject");
    QCOMPARE(pageText(w.folder, "Note.html", "removal-reason"),
             "Removed as spam: keyword <code class=\"entry\">act\\x01now</code> found in the body");
    QCOMPARE(pageText(w.folder, "Note.html", "removal-account"),
             "From the mailbox me on pop.home.example");
    QVERIFY(
        pageText(w.folder, "Note.html", "removal-time")
            .contains(QRegularExpression("^Removed on \\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d "
                                         "[+-]\\d\\d:\\d\\d$")));

    const QStringList lines = logLines(w.folder);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines.at(0), "removed\tme on pop.home.example\tDeals <sales@o'brien&co.example>\t"
                          "Offer\tblacklist entry `O'Brien&Co.example` found in the sender\t"
                          "SpamDeleted/Offer.html");
    QCOMPARE(lines.at(1),
             "removed\tme on pop.home.example\tA <a@x.example>\tGet <FREE> stuff\t"
             "keyword `<free>` found in the subject\tSpamDeleted/Get _FREE_ stuff.html");
    QCOMPARE(lines.at(2), "removed\tme on pop.home.example\tB <b@x.example>\tNote\t"
                          "keyword `act\\x01now` found in the body\tSpamDeleted/Note.html");
    QVERIFY(lines.at(3).startsWith("pass\t1 accounts\t0 not checked\t4 messages\t3 removed\t"));
}

void TestScanOutcome::scanLogThatCannotBeWrittenStopsNothing() {
    ScanWindow w;
    w.account({mailMessage("Prize <win@claims.example>", "You won", "lottery\r\n")});
    w.addAccountRow(kBadServer, kBadUser, kWrongPassword);
    w.switches(0, 0, 0, 1);
    fillGrid(w.form.gridkeywords, {"lottery"});
    // A folder where the file belongs: not even the superuser can write it.
    w.folder.write("scan.log/kept.txt", "kept");
    NoticeRecorder notices(w.form);
    TrayMessages tray;

    w.form.cmdscannow_Click();

    QCOMPARE(w.pop->removed(ScanWindow::kServer), QList<int>({1}));
    QCOMPARE(notices.texts(), QStringList({"Spam fromPrize <win@claims.example>"}));
    QCOMPARE(w.form.txtEmailsBlockedCount->text(), "1");
    QCOMPARE(w.folder.read("stats.dat").split('\n').value(4), "1\r");
    QCOMPARE(w.form.Label17->text(), kClosing + " - not checked: bob");
    QVERIFY(shownText(w.form.Label17->toolTip())
                .endsWith("The scan history scan.log could not be written: Is a directory"));
    QCOMPARE(tray.messages.size(), 1);
    QCOMPARE(w.folder.read("scan.log/kept.txt"), "kept");
}

void TestScanOutcome::serverWordsInNoticesStayText() {
    // A real log-in whose refusal carries markup: a tooltip would otherwise show it as rich text.
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.reply("+OK ready")
        .expectLine("USER bob")
        .reply("+OK")
        .expectLine("PASS " + kWrongPassword)
        .reply("-ERR <img src=\"file:///etc/x.png\"><b>no</b> & go");
    ScanWindow w(false);
    w.addAccountRow(server.address(), kBadUser, kWrongPassword);
    TrayMessages tray;

    w.form.cmdscannow_Click();

    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
    const QString said = "refused the log-in: <img src=\"file:///etc/x.png\"><b>no</b> & go";
    const QString statusTip = w.form.Label17->toolTip();
    const QString rowTip = gridData(w.form.gridAccounts, 1, 1, Qt::ToolTipRole).toString();
    for (const QString& tip : {statusTip, rowTip}) {
        QVERIFY2(shownText(tip).endsWith(said), qPrintable(tip));
        QVERIFY2(!tip.contains("<img") && !tip.contains("<b>"), qPrintable(tip));
        QVERIFY(!tip.contains(kWrongPassword));
    }
    // A desktop may read markup in a notification: it gets the plain words alone.
    QCOMPARE(tray.messages.size(), 1);
    QCOMPARE(tray.messages.at(0).text,
             "bob on " + server.address() + ": the server refused the login name or the password");
    QVERIFY(!w.folder.read("scan.log").contains(kWrongPassword.toUtf8()));
}

QTEST_MAIN(TestScanOutcome)
#include "tst_scanoutcome.moc"
