// Archive pages on disk: a page never takes the place of an earlier file, and two writers after the
// same name both keep their page. Nothing but the pages is left in the folder.
#include "scan/archivepagefile.h"
#include "scan/pop3/messagepage.h"
#include "scan/pop3/parsedmessage.h"
#include "support/tempfolder.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTest>

#include <cerrno>
#include <latch>
#include <thread>
#include <unistd.h>

namespace {

QByteArray mail(const QByteArray& subject) {
    return "From: Sender <sender@example.com>\r\nSubject: " + subject + "\r\n\r\nHello.\r\n";
}

QByteArray pageOf(const QByteArray& raw) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    writeMessagePage(buffer, parseMessage(raw), raw);
    return buffer.data();
}

QStringList filesIn(const TempFolder& folder) {
    return QDir(folder.path()).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace

class TestArchivePageFile : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void aTakenNameIsNeverReplaced();
    void racingWritersEachKeepTheirPage();
    void renamesNeverReplace_data();
    void renamesNeverReplace();
};

void TestArchivePageFile::aTakenNameIsNeverReplaced() {
    TempFolder folder;
    // Two earlier archives of the subject, the second made after the name was chosen.
    folder.write("Offer.html", "the first archive");
    folder.write("Offer (2).html", "the second archive");

    const QByteArray raw = mail("Offer");
    const SavedPage saved = writeArchivePage(folder.file("Offer.html"), parseMessage(raw), raw);
    QCOMPARE(saved.failure, QString());
    QCOMPARE(saved.path, folder.file("Offer (3).html"));
    QCOMPARE(folder.read("Offer.html"), QByteArray("the first archive"));
    QCOMPARE(folder.read("Offer (2).html"), QByteArray("the second archive"));
    QCOMPARE(folder.read("Offer (3).html"), pageOf(raw));
    QCOMPARE(filesIn(folder), QStringList({"Offer (2).html", "Offer (3).html", "Offer.html"}));
    const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther |
                        QFileDevice::WriteOther;
    QVERIFY(!(QFile::permissions(saved.path) & others));
}

void TestArchivePageFile::racingWritersEachKeepTheirPage() {
    // Two writers (two copies of the program, say) archive a message of the same subject at the
    // same moment, both having found the name free.
    TempFolder folder;
    constexpr int kRounds = 25;
    constexpr int kWriters = 2;
    SavedPage saved[kRounds][kWriters];
    const auto raw = [](int round, int writer) {
        return mail("round " + QByteArray::number(round) + " writer " + QByteArray::number(writer));
    };
    std::latch start(kWriters);
    const auto write = [&](int writer) {
        start.arrive_and_wait();
        for (int round = 0; round < kRounds; ++round) {
            const QString path = folder.file("Race " + QString::number(round) + ".html");
            const QByteArray message = raw(round, writer);
            saved[round][writer] = writeArchivePage(path, parseMessage(message), message);
        }
    };
    std::thread other(write, 1);
    write(0);
    other.join();

    for (int round = 0; round < kRounds; ++round) {
        for (int writer = 0; writer < kWriters; ++writer) {
            const SavedPage& page = saved[round][writer];
            QCOMPARE(page.failure, QString());
            QFile file(page.path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), pageOf(raw(round, writer)));
        }
        QVERIFY(saved[round][0].path != saved[round][1].path);
    }
    QCOMPARE(filesIn(folder).size(), kRounds * kWriters);
}

void TestArchivePageFile::renamesNeverReplace_data() {
    QTest::addColumn<bool>("byLink");
    QTest::newRow("in one step") << false;
    QTest::newRow("by a second name") << true;
}

void TestArchivePageFile::renamesNeverReplace() {
    QFETCH(bool, byLink);
    const auto rename = byLink ? linkNoReplace : renameNoReplace;
    TempFolder folder;
    folder.write("page.tmp", "the new page");
    folder.write("taken.html", "an earlier archive");

    errno = 0;
    QVERIFY(!rename(folder.file("page.tmp"), folder.file("taken.html")));
    QCOMPARE(errno, EEXIST);
    QCOMPARE(folder.read("taken.html"), QByteArray("an earlier archive"));
    QCOMPARE(folder.read("page.tmp"), QByteArray("the new page"));

    QVERIFY(rename(folder.file("page.tmp"), folder.file("free.html")));
    QCOMPARE(folder.read("free.html"), QByteArray("the new page"));
    QCOMPARE(filesIn(folder), QStringList({"free.html", "taken.html"}));
}

QTEST_GUILESS_MAIN(TestArchivePageFile)
#include "tst_archivepagefile.moc"
