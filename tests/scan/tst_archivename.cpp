// Names of the spam archive files: safe, visible, within the name limit, never reused.
#include "scan/archivename.h"
#include "support/tempfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

namespace {

QString u(const char* text) {
    return QString::fromUtf8(text);
}

QString repeated(const QString& piece, int times) {
    QString s;
    for (int i = 0; i < times; ++i)
        s += piece;
    return s;
}

} // namespace

class TestArchiveName : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void names_data();
    void names();
    void longNamesAreCutWhole_data();
    void longNamesAreCutWhole();
    void repeatsAreNumbered();
    void aNameTakenLateGivesWayToTheNext_data();
    void aNameTakenLateGivesWayToTheNext();
    void theNextNameKeepsTheNumbering_data();
    void theNextNameKeepsTheNumbering();
    void pathsStayInTheFolder();
    void archiveFolderIsCreated();
};

void TestArchiveName::names_data() {
    QTest::addColumn<QString>("subject");
    QTest::addColumn<int>("copy");
    QTest::addColumn<QString>("name");

    QTest::newRow("plain") << u("Hello there") << 1 << u("Hello there.html");
    QTest::newRow("numbered") << u("Hello") << 2 << u("Hello (2).html");
    QTest::newRow("separators") << u("a/b\\c") << 1 << u("a_b_c.html");
    QTest::newRow("parent folder") << u("..") << 1 << u("__.html");
    QTest::newRow("climbing out") << u("../../etc/passwd") << 1 << u("___.._etc_passwd.html");
    QTest::newRow("hidden file") << u(".profile") << 1 << u("_profile.html");
    QTest::newRow("dots inside kept") << u("v1.2 ... out") << 1 << u("v1.2 ... out.html");
    QTest::newRow("empty subject") << QString() << 1 << u("(no subject).html");
    QTest::newRow("empty subject numbered") << QString() << 3 << u("(no subject) (3).html");
    QTest::newRow("reserved characters") << u("a:b*c?d\"e<f>g|h") << 1 << u("a_b_c_d_e_f_g_h.html");
    QTest::newRow("controls") << (u("a\tb\r\nc") + QChar(0) + u("d\x1b") + QChar(0x7f) +
                                  QChar(0x85))
                              << 1 << u("a_b__c_d___.html");
    QTest::newRow("direction override") << u("gpj\u202Eexe.") << 1 << u("gpj_exe..html");
    QTest::newRow("lone surrogate") << (u("x") + QChar(0xD800) + u("y")) << 1 << u("x_y.html");
    // Read back as a byte order mark, the name would lose it and no longer name the file.
    QTest::newRow("zero-width no-break space")
        << (QChar(0xFEFF) + u("Win") + QChar(0xFEFF)) << 1 << u("_Win_.html");
    QTest::newRow("letters and emoji kept") << u("Grüße 😀 中文") << 1 << u("Grüße 😀 中文.html");
}

void TestArchiveName::names() {
    QFETCH(QString, subject);
    QFETCH(int, copy);
    QFETCH(QString, name);
    QCOMPARE(archiveFileName(subject, copy), name);
}

void TestArchiveName::longNamesAreCutWhole_data() {
    QTest::addColumn<QString>("subject");
    QTest::addColumn<int>("copy");
    QTest::addColumn<int>("expectedBytes");

    // 243 bytes are left for the subject beside ".html"; whole characters may leave a few unused.
    QTest::newRow("ASCII") << repeated(u("a"), 300) << 1 << 248;
    QTest::newRow("ASCII numbered") << repeated(u("a"), 300) << 12 << 248;
    QTest::newRow("two-byte letters") << repeated(u("é"), 200) << 1 << 247;
    QTest::newRow("three-byte letters") << repeated(u("中"), 100) << 1 << 248;
    QTest::newRow("four-byte emoji") << repeated(u("😀"), 100) << 1 << 245;
    // e and a combining accent, 3 bytes together, are not parted.
    QTest::newRow("combining accents") << u("a") + repeated(u("e\u0301"), 100) << 1 << 246;
    // One letter carrying 200 accents is cut between accents, for want of anything better.
    QTest::newRow("one huge letter") << u("a") + repeated(u("\u0301"), 200) << 1 << 248;
}

void TestArchiveName::longNamesAreCutWhole() {
    QFETCH(QString, subject);
    QFETCH(int, copy);
    QFETCH(int, expectedBytes);

    const QString name = archiveFileName(subject, copy);
    const QByteArray bytes = QFile::encodeName(name);
    QCOMPARE(bytes.size(), expectedBytes);
    QCOMPARE(QString::fromUtf8(bytes), name); // no half character
    const QString ending =
        copy > 1 ? QStringLiteral(" (%1).html").arg(copy) : QStringLiteral(".html");
    QVERIFY(name.endsWith(ending));
    const QString stem = name.chopped(ending.size());
    QVERIFY(subject.startsWith(stem));
    QVERIFY(!stem.back().isHighSurrogate());
    if (subject.contains(u("\u0301")))
        QVERIFY(stem.endsWith(u("\u0301")));

    // Such a file can really be made.
    TempFolder folder;
    QFile file(QDir(folder.path()).filePath(name));
    QVERIFY(file.open(QIODevice::WriteOnly));
}

void TestArchiveName::repeatsAreNumbered() {
    TempFolder folder;
    const QDir dir(folder.path());
    const auto take = [](const QString& path) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
    };

    QCOMPARE(archiveFilePath(folder.path(), u("Offer")), dir.filePath(u("Offer.html")));
    take(dir.filePath(u("Offer.html")));
    QCOMPARE(archiveFilePath(folder.path(), u("Offer")), dir.filePath(u("Offer (2).html")));
    take(dir.filePath(u("Offer (2).html")));
    take(dir.filePath(u("Offer (4).html")));
    QCOMPARE(archiveFilePath(folder.path(), u("Offer")), dir.filePath(u("Offer (3).html")));

    // A folder or a dangling link under the name also takes it.
    QVERIFY(dir.mkdir(u("Deal.html")));
    QCOMPARE(archiveFilePath(folder.path(), u("Deal")), dir.filePath(u("Deal (2).html")));
    QVERIFY(QFile::link(dir.filePath(u("nowhere")), dir.filePath(u("Gone.html"))));
    QCOMPARE(archiveFilePath(folder.path(), u("Gone")), dir.filePath(u("Gone (2).html")));

    QCOMPARE(dir.entryList(QDir::Files).size(), 3);
}

void TestArchiveName::aNameTakenLateGivesWayToTheNext_data() {
    QTest::addColumn<QStringList>("taken");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("next");

    QTest::newRow("first copy") << QStringList{u("Offer.html")} << u("Offer.html")
                                << u("Offer (2).html");
    QTest::newRow("numbered copy")
        << QStringList{u("Offer (7).html")} << u("Offer (7).html") << u("Offer (8).html");
    QTest::newRow("later copies taken too")
        << QStringList{u("Offer.html"), u("Offer (2).html"), u("Offer (3).html")} << u("Offer.html")
        << u("Offer (4).html");
    // Brackets that the numbering never writes belong to the subject.
    QTest::newRow("not a copy number")
        << QStringList{u("Sale (x).html"), u("Sale (1).html"), u("Sale (02).html")}
        << u("Sale (02).html") << u("Sale (02) (2).html");
    QTest::newRow("empty subject") << QStringList{u("(no subject).html")} << u("(no subject).html")
                                   << u("(no subject) (2).html");
    QTest::newRow("other ending") << QStringList{u("notes.txt")} << u("notes.txt")
                                  << u("notes.txt (2)");
    // The longer number is made room for by cutting the subject, as archiveFileName does.
    QTest::newRow("longest name") << QStringList{archiveFileName(repeated(u("a"), 300), 9)}
                                  << archiveFileName(repeated(u("a"), 300), 9)
                                  << archiveFileName(repeated(u("a"), 300), 10);
}

void TestArchiveName::aNameTakenLateGivesWayToTheNext() {
    QFETCH(QStringList, taken);
    QFETCH(QString, name);
    QFETCH(QString, next);
    TempFolder folder;
    for (const QString& file : taken)
        folder.write(file, "earlier");
    QCOMPARE(nextArchiveFilePath(folder.file(name)), folder.file(next));
}

void TestArchiveName::theNextNameKeepsTheNumbering_data() {
    names_data();
    QTest::newRow("long, two-byte letters") << repeated(u("é"), 200) << 1 << QString();
    QTest::newRow("long, emoji") << repeated(u("😀"), 100) << 9 << QString();
    QTest::newRow("long, combining accents")
        << u("a") + repeated(u("e\u0301"), 100) << 99 << QString();
}

void TestArchiveName::theNextNameKeepsTheNumbering() {
    // After any archive name comes the name of the same subject's next copy.
    QFETCH(QString, subject);
    QFETCH(int, copy);
    TempFolder folder;
    QCOMPARE(nextArchiveFilePath(folder.file(archiveFileName(subject, copy))),
             folder.file(archiveFileName(subject, copy + 1)));
}

void TestArchiveName::pathsStayInTheFolder() {
    TempFolder folder;
    const QString canonical = QFileInfo(folder.path()).canonicalFilePath();
    const QStringList subjects{
        u(".."),        u("../x"), u("..\\x"), u("/etc/passwd"),
        u("a/../../b"), u("."),    u("~"),     u("x") + QChar(0) + u("/../y")};
    for (const QString& subject : subjects) {
        const QString path = archiveFilePath(folder.path(), subject);
        QFile f(path);
        QVERIFY2(f.open(QIODevice::WriteOnly), qPrintable(subject));
        f.close();
        const QFileInfo info(path);
        QCOMPARE(info.canonicalPath(), canonical);
        QVERIFY2(!info.fileName().startsWith(QLatin1Char('.')), qPrintable(info.fileName()));
    }
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files).size(), subjects.size());
}

void TestArchiveName::archiveFolderIsCreated() {
    TempFolder program;
    const QString archive = spamArchiveFolder(program.path());
    QCOMPARE(archive, program.path() + u("/SpamDeleted"));
    QVERIFY(!QFileInfo::exists(archive));
    QVERIFY(ensureArchiveFolder(archive));
    QVERIFY(QFileInfo(archive).isDir());
    QVERIFY(ensureArchiveFolder(archive)); // already there

    // A file where the folder should be is not replaced.
    program.write(u("blocked"), "data");
    QVERIFY(!ensureArchiveFolder(program.file(u("blocked"))));
    QCOMPARE(program.read(u("blocked")), QByteArray("data"));
    QVERIFY(!ensureArchiveFolder(program.file(u("blocked/SpamDeleted"))));
    QVERIFY(!ensureArchiveFolder(QString()));
}

QTEST_GUILESS_MAIN(TestArchiveName)
#include "tst_archivename.moc"
