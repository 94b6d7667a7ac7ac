// Files made ahead for the archive pages: written, then named; never a stray file, never a file
// replaced, and no waiting where none can be made.
#include "scan/sparefiles.h"
#include "support/tempfolder.h"

#include <QDir>
#include <QTest>

#include <cerrno>
#include <unistd.h>

namespace {

// Whether unnamed files can be made in the test folders at all (Linux, most local file systems).
bool canMakeSpares() {
    TempFolder folder;
    SpareFiles spares;
    const int fd = spares.take(folder.path());
    if (fd >= 0)
        ::close(fd);
    return fd >= 0;
}

} // namespace

class TestSpareFiles : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() {
        if (!canMakeSpares())
            QSKIP("The file system of the temporary folder cannot make unnamed files.");
    }
    void filesAreNamedOnlyWhenWritten();
    void aNameInUseIsNotTaken();
    void aFolderWhereNoneCanBeMade();
};

void TestSpareFiles::filesAreNamedOnlyWhenWritten() {
    TempFolder first;
    TempFolder second;
    {
        SpareFiles spares(3);
        for (int i = 0; i < 20; ++i) {
            // Half way the folder changes: what was made for the first is given up.
            const TempFolder& folder = i < 10 ? first : second;
            const int fd = spares.take(folder.path());
            QVERIFY(fd >= 0);
            const QByteArray page = "page " + QByteArray::number(i);
            QCOMPARE(::write(fd, page.constData(), size_t(page.size())), page.size());
            // Until it is named, the file is not in the folder.
            QCOMPARE(QDir(folder.path()).count(), uint(2 + i % 10));
            QVERIFY(SpareFiles::giveName(fd, folder.file(QString::number(i) + ".html")));
            ::close(fd);
        }
    }
    // The files made and never taken are gone with their maker.
    for (const TempFolder* folder : {&first, &second}) {
        const QStringList names = QDir(folder->path()).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(names.size(), 10);
        for (const QString& name : names)
            QCOMPARE(folder->read(name), "page " + name.chopped(5).toUtf8());
    }
}

void TestSpareFiles::aNameInUseIsNotTaken() {
    TempFolder folder;
    folder.write("taken.html", "the first");
    SpareFiles spares;
    const int fd = spares.take(folder.path());
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, "the second", 10), 10);
    QVERIFY(!SpareFiles::giveName(fd, folder.file("taken.html")));
    QCOMPARE(errno, EEXIST);
    ::close(fd);
    QCOMPARE(folder.read("taken.html"), "the first");
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

void TestSpareFiles::aFolderWhereNoneCanBeMade() {
    TempFolder folder;
    const QString missing = folder.file("missing");
    SpareFiles spares;
    // No file, and no wait for one that never comes.
    QCOMPARE(spares.take(missing), -1);
    QCOMPARE(spares.take(missing), -1);
    // Once the folder is there, files come.
    QVERIFY(QDir().mkpath(missing));
    const int fd = spares.take(missing);
    QVERIFY(fd >= 0);
    ::close(fd);
    QVERIFY(QDir(missing).isEmpty());
}

QTEST_MAIN(TestSpareFiles)
#include "tst_sparefiles.moc"
