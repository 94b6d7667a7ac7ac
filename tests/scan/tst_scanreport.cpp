// What a pass tells the user, in the core: the plain reason of a failed log-in, which accounts
// started failing or work again from one pass to the next, the reason a message was removed,
// and the scan history file (its lines, and its bound).
#include "scan/accountfailures.h"
#include "scan/pop3/FreePOP.h"
#include "scan/removalreason.h"
#include "scan/scanlog.h"
#include "support/tempfolder.h"

#include <QDir>
#include <QFile>
#include <QTest>

Q_DECLARE_METATYPE(Classification)
Q_DECLARE_METATYPE(AccountFailure)

namespace {

const QDateTime kTime(QDate(2024, 5, 1), QTime(10, 15, 3), Qt::OffsetFromUTC, 2 * 3600);

AccountFailure failure(const QString& server, const QString& login) {
    return {server, login, "the server refused the login name or the password: -ERR no", ""};
}

} // namespace

class TestScanReport : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void loginFailuresInPlainWords_data();
    void loginFailuresInPlainWords();
    void failingAccountsAreToldOnceEachWay();
    void removalNotes_data();
    void removalNotes();
    void logLinesCannotBreak();
    void logRotatesOnceAtItsBound();
    void logThatCannotBeWrittenSaysWhy();
};

void TestScanReport::loginFailuresInPlainWords_data() {
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QString>("reason");

    QTest::newRow("password refused")
        << int(FreePOP::LoginRefused) << "pop.example.org:110 refused the log-in: -ERR [AUTH] no"
        << "the server refused the login name or the password: pop.example.org:110 refused the "
           "log-in: -ERR [AUTH] no";
    QTest::newRow("certificate") << int(FreePOP::CertificateUntrusted) << "The certificate of x"
                                 << "the server's certificate is not trusted: The certificate of x";
    QTest::newRow("downgrade refused")
        << int(FreePOP::EncryptionMissing) << QString()
        << "the server offered no encryption, which this account needs";
    QTest::newRow("unreachable") << int(FreePOP::ConnectionFailed) << QString()
                                 << "the server could not be reached";
    // Also what the tray says, which gives no server's words.
    QTest::newRow("sign-in withdrawn") << int(FreePOP::SignInNeeded) << QString()
                                       << "the OAuth 2.0 sign-in has to be done again";
    QTest::newRow("a code of no log-in") << int(FreePOP::FileWriteFailed) << "x"
                                         << "the log-in failed: x";
}

void TestScanReport::loginFailuresInPlainWords() {
    QFETCH(int, code);
    QFETCH(QString, detail);
    QFETCH(QString, reason);
    QCOMPARE(loginFailureReason(code, detail), reason);
    QVERIFY(reason.startsWith(loginFailureSummary(code)));
    QVERIFY(isAccountFailure(code));
    // The program quitting during a log-in says nothing about the account.
    QVERIFY(!isAccountFailure(FreePOP::Interrupted));
    QVERIFY(!isAccountFailure(FreePOP::NoError));
}

void TestScanReport::failingAccountsAreToldOnceEachWay() {
    AccountWatch watch;
    const AccountFailure bob = failure("pop.b.example", "bob");
    const AccountFailure carol = failure("pop.c.example", "carol");

    // Bob fails; Alice works.
    watch.beginPass();
    watch.checked("pop.a.example", "alice");
    watch.failed(bob);
    AccountWatch::Changes changes = watch.endPass();
    QCOMPARE(changes.startedFailing, QList<AccountFailure>{bob});
    QVERIFY(changes.workingAgain.isEmpty());
    QCOMPARE(watch.failing(), QList<AccountFailure>{bob});
    QVERIFY(watch.failureOf("pop.b.example", "bob"));
    QVERIFY(!watch.failureOf("pop.b.example", "alice"));
    QVERIFY(!watch.failureOf("pop.a.example", "alice"));

    // Bob keeps failing (on two rows, once with another reason): nothing new to tell.
    watch.beginPass();
    watch.failed(bob);
    watch.failed({"pop.b.example", "bob", "the server did not answer in time", ""});
    watch.failed(carol);
    changes = watch.endPass();
    QCOMPARE(changes.startedFailing, QList<AccountFailure>{carol});
    QVERIFY(changes.workingAgain.isEmpty());
    QCOMPARE(watch.failing(), (QList<AccountFailure>{bob, carol}));

    // Bob works again; Carol's row was deleted, so she was not tried: she is dropped quietly.
    watch.beginPass();
    watch.checked("pop.b.example", "bob");
    changes = watch.endPass();
    QVERIFY(changes.startedFailing.isEmpty());
    QCOMPARE(changes.workingAgain, QList<AccountFailure>{bob});
    QVERIFY(watch.failing().isEmpty());

    // A further good pass tells nothing.
    watch.beginPass();
    watch.checked("pop.b.example", "bob");
    changes = watch.endPass();
    QVERIFY(changes.startedFailing.isEmpty() && changes.workingAgain.isEmpty());
}

void TestScanReport::removalNotes_data() {
    QTest::addColumn<Classification>("result");
    QTest::addColumn<QString>("reason");

    Classification blacklisted;
    blacklisted.verdict = Verdict::Spam;
    blacklisted.decidedBy = RuleList::Blacklist;
    blacklisted.row = 2;
    blacklisted.place = MatchPlace::Sender;
    blacklisted.entry = "@hotmail.com";
    QTest::newRow("blacklist") << blacklisted
                               << "blacklist entry `@hotmail.com` found in the sender";

    Classification subject = blacklisted;
    subject.decidedBy = RuleList::Keywords;
    subject.place = MatchPlace::Subject;
    subject.entry = "Click Here";
    QTest::newRow("keyword in the subject")
        << subject << "keyword `Click Here` found in the subject";
    Classification body = subject;
    body.place = MatchPlace::Body;
    QTest::newRow("keyword in the body") << body << "keyword `Click Here` found in the body";

    Classification whitelisted = blacklisted;
    whitelisted.verdict = Verdict::Whitelisted;
    whitelisted.decidedBy = RuleList::Whitelist;
    QTest::newRow("whitelisted: no removal") << whitelisted << QString();
    QTest::newRow("kept: no removal") << Classification() << QString();
}

void TestScanReport::removalNotes() {
    QFETCH(Classification, result);
    QFETCH(QString, reason);
    const RemovalNote note = removalNoteFor(result, accountName("pop.example.org", "alice"), kTime);
    QCOMPARE(removalReasonText(note), reason);
    QCOMPARE(note.isEmpty(), reason.isEmpty());
    if (!note.isEmpty()) {
        QCOMPARE(note.entry, result.entry);
        QCOMPARE(note.account, "alice on pop.example.org");
        QCOMPARE(note.time, kTime);
    }
}

void TestScanReport::logLinesCannotBreak() {
    TempFolder folder;
    ScanLog log(folder.file("scan.log"));
    const QString awkward = QString::fromUtf8("a\tb\r\nc\\d\x01\x7f\xc2\x85\u2028 \xc3\xa9");
    const QString escaped = QString::fromUtf8("a\\tb\\r\\nc\\\\d\\x01\\x7F\\x85\\u2028 \xc3\xa9");
    QVERIFY(log.messageRemoved(kTime, "alice on pop.example.org", awkward, "Offer",
                               "keyword `x` found in the body", "SpamDeleted/Offer.html"));
    QVERIFY(log.messageKept(kTime, "alice on pop.example.org", "s@x", awkward,
                            "blacklist entry `s@x` found in the sender", "disk full"));
    QVERIFY(log.accountNotChecked(kTime, "bob on pop.b.example", "the server refused"));
    QVERIFY(log.passEnded(kTime, {2, 1, 5, 1, 1260}));
    QVERIFY(log.messageRemoved(kTime, "a", QString(ScanLog::kMaxFieldLength + 1, 'x'), "", "", ""));

    const QString time = "2024-05-01T10:15:03+02:00";
    const QStringList lines = QString::fromUtf8(folder.read("scan.log")).split("\r\n");
    QCOMPARE(lines.size(), 6);
    QCOMPARE(lines.at(0), time + "\tremoved\talice on pop.example.org\t" + escaped +
                              "\tOffer\tkeyword `x` found in the body\tSpamDeleted/Offer.html");
    QCOMPARE(lines.at(1), time + "\tkept\talice on pop.example.org\ts@x\t" + escaped +
                              "\tblacklist entry `s@x` found in the sender\tdisk full");
    QCOMPARE(lines.at(2), time + "\tnot checked\tbob on pop.b.example\tthe server refused");
    QCOMPARE(lines.at(3), time + "\tpass\t2 accounts\t1 not checked\t5 messages\t1 removed\t1.3 s");
    QCOMPARE(lines.at(4),
             time + "\tremoved\ta\t" + QString(ScanLog::kMaxFieldLength, 'x') + "...\t\t\t");
    QCOMPARE(lines.at(5), QString());
    // Senders and subjects of one's mail are for one's own eyes.
    const QFileDevice::Permissions permissions = QFile::permissions(folder.file("scan.log"));
    QVERIFY(permissions.testFlag(QFileDevice::ReadOwner));
    QVERIFY(!(permissions & (QFileDevice::ReadGroup | QFileDevice::ReadOther)));
}

void TestScanReport::logRotatesOnceAtItsBound() {
    TempFolder folder;
    const QString path = folder.file("scan.log");
    ScanLog log(path);
    folder.write("scan.log.1", "the oldest history\r\n");
    QVERIFY(log.accountNotChecked(kTime, "a", "r"));
    const qint64 lineSize = QFileInfo(path).size();

    // Up to the bound the file grows.
    const QByteArray old(ScanLog::kRotateSize - 2 * lineSize, 'h');
    folder.write("scan.log", old);
    QVERIFY(log.accountNotChecked(kTime, "a", "r"));
    QCOMPARE(QFileInfo(path).size(), ScanLog::kRotateSize - lineSize);
    QVERIFY(log.accountNotChecked(kTime, "a", "r"));
    QCOMPARE(QFileInfo(path).size(), ScanLog::kRotateSize);
    QCOMPARE(folder.read("scan.log.1"), "the oldest history\r\n");

    // A line that would take it past the bound moves it, whole, in the place of the older one.
    const QByteArray full = folder.read("scan.log");
    QVERIFY(log.accountNotChecked(kTime, "a", "r"));
    QCOMPARE(folder.read("scan.log.1"), full);
    QCOMPARE(folder.read("scan.log"), "2024-05-01T10:15:03+02:00\tnot checked\ta\tr\r\n");
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files).size(), 2);
}

void TestScanReport::logThatCannotBeWrittenSaysWhy() {
    TempFolder folder;
    // A folder where the file belongs: not even the superuser can write it.
    folder.write("scan.log/kept.txt", "kept");
    ScanLog log(folder.file("scan.log"));
    QVERIFY(!log.passEnded(kTime, {}));
    QVERIFY(!log.lastError().isEmpty());
    QCOMPARE(folder.read("scan.log/kept.txt"), "kept");
    QVERIFY(!folder.exists("scan.log.1"));
}

QTEST_GUILESS_MAIN(TestScanReport)
#include "tst_scanreport.moc"
