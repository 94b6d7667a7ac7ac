// The data files' byte layout and the rules for reading them back.
#include "config/accountline.h"
#include "config/savefailures.h"
#include "config/statsfile.h"
#include "config/textfile.h"
#include "support/filesizelimit.h"
#include "support/tempfolder.h"

#include <QDir>
#include <QFile>
#include <QTest>

#include <optional>

namespace {
constexpr auto kAnyoneButOwner = QFileDevice::ReadGroup | QFileDevice::WriteGroup |
                                 QFileDevice::ReadOther | QFileDevice::WriteOther;
}

class TestDataFiles : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void linesEndWithCrLf();
    void splitting_data();
    void splitting();
    void leadingZeroWidthSpaceSurvives();
    void windowsBytesSurvive();
    void writeReplacesWholeFileAtomically();
    void writeFailureKeepsOldFile();
    void failedWritesKeepOldFileAndTellWhy_data();
    void failedWritesKeepOldFileAndTellWhy();
    void notSavedBoxText();
    void ownerOnlyPermissions();
    void accountLines_data();
    void accountLines();
    void accountRoundTrip();
    void statsLayout();
    void checkLines_data();
    void checkLines();
};

void TestDataFiles::linesEndWithCrLf() {
    QCOMPARE(joinTextLines({}), QByteArray());
    QCOMPARE(joinTextLines({QString()}), QByteArray("\r\n"));
    QCOMPARE(joinTextLines({QStringLiteral(" a "), QString(), QStringLiteral("b")}),
             QByteArray(" a \r\n\r\nb\r\n"));
    QCOMPARE(joinTextLines({QStringLiteral("caf\u00e9")}), QByteArray("caf\xc3\xa9\r\n"));
}

void TestDataFiles::splitting_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("empty file") << QByteArray() << QStringList();
    QTest::newRow("one empty line") << QByteArray("\r\n") << QStringList{QString()};
    QTest::newRow("crlf") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
    QTest::newRow("lf only") << QByteArray("a\nb\n") << QStringList{"a", "b"};
    QTest::newRow("cr only") << QByteArray("a\rb\r") << QStringList{"a", "b"};
    QTest::newRow("last line without end") << QByteArray("a\r\nb") << QStringList{"a", "b"};
    QTest::newRow("empty lines kept")
        << QByteArray("\r\n\r\nx\r\n") << QStringList{QString(), QString(), "x"};
    QTest::newRow("spaces kept") << QByteArray("  a b  \r\n") << QStringList{"  a b  "};
    QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBFx\r\n") << QStringList{"x"};
    QTest::newRow("utf-8") << QByteArray("\xc3\xbc\r\n") << QStringList{QStringLiteral("\u00fc")};
    // Only the file's first bytes are a byte order mark; elsewhere U+FEFF is part of an entry.
    QTest::newRow("second mark") << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBFx\r\n")
                                 << QStringList{QStringLiteral("\uFEFFx")};
    QTest::newRow("mark on a later line")
        << QByteArray("a\r\n\xEF\xBB\xBF\r\n") << QStringList{"a", QStringLiteral("\uFEFF")};
    QTest::newRow("mark in a Windows file")
        << QByteArray("\xe9\r\n\xEF\xBB\xBF"
                      "b\r\n")
        << QStringList{QStringLiteral("\u00e9"), QStringLiteral("\uFEFFb")};
}

void TestDataFiles::splitting() {
    QFETCH(QByteArray, bytes);
    QFETCH(QStringList, lines);
    QCOMPARE(splitTextLines(bytes), lines);
}

void TestDataFiles::leadingZeroWidthSpaceSurvives() {
    // An entry starting with U+FEFF (invisible, pasted from a web page) is kept as typed, also
    // as the first entry of the file, where it looks like a byte order mark.
    const QStringList lines{QStringLiteral("\uFEFFfirst@example.org"), QStringLiteral("\uFEFF")};
    const QByteArray bytes = joinTextLines(lines);
    QVERIFY(bytes.startsWith("\xEF\xBB\xBF\xEF\xBB\xBF"));
    QCOMPARE(splitTextLines(bytes), lines);
    QCOMPARE(splitTextLines(joinTextLines(splitTextLines(bytes))), lines);
}

void TestDataFiles::windowsBytesSurvive() {
    // One line from a Windows machine among UTF-8 lines: only that line is read as Windows-1252.
    const QByteArray bytes("m\xfcller@example.org\r\n\xc3\xbc\r\n\x80 \x9f \x81\r\n");
    const QStringList lines = splitTextLines(bytes);
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines.at(0), QStringLiteral("m\u00fcller@example.org"));
    QCOMPARE(lines.at(1), QStringLiteral("\u00fc"));
    QCOMPARE(lines.at(2), QStringLiteral("\u20ac \u0178 \u0081"));
    for (const QString& line : lines)
        QVERIFY(!line.contains(QChar::ReplacementCharacter));
}

void TestDataFiles::writeReplacesWholeFileAtomically() {
    TempFolder folder;
    folder.write(QStringLiteral("list.dat"), QByteArray(100000, 'x'));
    QVERIFY(writeTextLines(folder.file(QStringLiteral("list.dat")), {QStringLiteral("short")}));
    QCOMPARE(folder.read(QStringLiteral("list.dat")), QByteArray("short\r\n"));
    QVERIFY(writeTextLines(folder.file(QStringLiteral("list.dat")), {}));
    QCOMPARE(QFileInfo(folder.file(QStringLiteral("list.dat"))).size(), 0);
    // No temporary file is left behind.
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{"list.dat"});
}

void TestDataFiles::writeFailureKeepsOldFile() {
    TempFolder folder;
    folder.write(QStringLiteral("sub/keywords.dat"), "old\r\n");
    const QString sub = folder.file(QStringLiteral("sub"));
    QFile::setPermissions(sub, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    if (QFileInfo(sub).isWritable() ||
        QFile(sub + QStringLiteral("/probe")).open(QIODevice::WriteOnly)) {
        QFile::setPermissions(sub, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                       QFileDevice::ExeOwner);
        QSKIP("running with privileges that ignore folder permissions");
    }
    QString reason;
    QVERIFY(!writeTextLines(sub + QStringLiteral("/keywords.dat"), {QStringLiteral("new")}, {},
                            &reason));
    QFile::setPermissions(sub,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    QCOMPARE(folder.read(QStringLiteral("sub/keywords.dat")), QByteArray("old\r\n"));
    QCOMPARE(reason, QStringLiteral("Permission denied"));
}

void TestDataFiles::failedWritesKeepOldFileAndTellWhy_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("entries");
    QTest::addColumn<QString>("reason");
    // A short file is held back in memory and goes to the disk only at the end, a long one
    // goes at once: the disk may fill up at either point.
    QTest::newRow("disk full at the end") << "size limit" << 3 << "File too large";
    QTest::newRow("disk full while writing") << "size limit" << 20000 << "File too large";
    QTest::newRow("folder in its place") << "folder" << 3 << "Is a directory";
}

void TestDataFiles::failedWritesKeepOldFileAndTellWhy() {
    QFETCH(QString, fault);
    QFETCH(int, entries);
    QFETCH(QString, reason);
    TempFolder folder;
    const QByteArray old("old entry\r\n");
    const QString oldFile = fault == "folder" ? "keywords.dat/old.dat" : "keywords.dat";
    folder.write(oldFile, old);
    QStringList lines;
    for (int i = 0; i < entries; ++i)
        lines.append(QStringLiteral("new entry %1").arg(i));

    QString why = QStringLiteral("not set");
    bool written = true;
    {
        std::optional<FileSizeLimit> limit;
        if (fault == "size limit")
            limit.emplace(old.size());
        if (!limit || limit->active())
            written = writeTextLines(folder.file("keywords.dat"), lines, {}, &why);
        else
            why = QStringLiteral("file size limit not available");
    }
    QVERIFY(!written);
    QCOMPARE(why, reason);
    QCOMPARE(folder.read(oldFile), old);
    // No temporary file is left behind.
    QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{"keywords.dat"});
}

void TestDataFiles::notSavedBoxText() {
    // Files keep the order they were written in; each reason follows the files it applies to.
    const QList<FileNotSaved> files{{"stats.dat", "Is a directory"},
                                    {"accounts.dat", "Permission denied"},
                                    {"whitelist.dat", "Permission denied"},
                                    {"keywords.dat", "Is a directory"}};
    QCOMPARE(filesNotSavedText(files),
             QString("These files could not be saved: stats.dat (Is a directory), accounts.dat, "
                     "whitelist.dat (Permission denied), keywords.dat (Is a directory). The "
                     "files as they were before are unchanged."));
}

void TestDataFiles::ownerOnlyPermissions() {
    TempFolder folder;
    const QString path = folder.file(QStringLiteral("accounts.dat"));
    const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
    QVERIFY(writeTextLines(path, {QStringLiteral("pop.example.org,a,b")}, ownerOnly));
    QCOMPARE(QFile::permissions(path) & kAnyoneButOwner, QFileDevice::Permissions());
    QVERIFY((QFile::permissions(path) & ownerOnly) == ownerOnly);
    // A rewrite over a file someone made world-readable makes it private again.
    QFile::setPermissions(path, ownerOnly | QFileDevice::ReadOther | QFileDevice::ReadGroup);
    QVERIFY(writeTextLines(path, {QStringLiteral("pop.example.org,a,c")}, ownerOnly));
    QCOMPARE(QFile::permissions(path) & kAnyoneButOwner, QFileDevice::Permissions());
    QVERIFY((QFile::permissions(path) & ownerOnly) == ownerOnly);
}

void TestDataFiles::accountLines_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("status");
    QTest::addColumn<QStringList>("fields");
    const int ok = int(AccountLineStatus::Accepted);
    const int shortServer = int(AccountLineStatus::ServerTooShort);
    const int bad = int(AccountLineStatus::Malformed);
    QTest::newRow("plain") << "pop.example.org,alice,secret" << ok
                           << QStringList{"pop.example.org", "alice", "secret"};
    QTest::newRow("commas in password")
        << "mail.x.org,bob,a,b,,c" << ok << QStringList{"mail.x.org", "bob", "a,b,,c"};
    QTest::newRow("empty password")
        << "mail.x.org,bob," << ok << QStringList{"mail.x.org", "bob", ""};
    QTest::newRow("empty login") << "mail.x.org,,pw" << ok << QStringList{"mail.x.org", "", "pw"};
    QTest::newRow("spaces kept") << " pop , me , pw " << ok << QStringList{" pop ", " me ", " pw "};
    QTest::newRow("four-character server") << "abcd,u,p" << ok << QStringList{"abcd", "u", "p"};
    QTest::newRow("three-character server") << "abc,u,p" << shortServer << QStringList{};
    QTest::newRow("empty server") << ",u,p" << shortServer << QStringList{};
    QTest::newRow("one comma") << "pop.example.org,alice" << bad << QStringList{};
    QTest::newRow("no comma") << "pop.example.org" << bad << QStringList{};
    QTest::newRow("empty line") << "" << bad << QStringList{};
}

void TestDataFiles::accountLines() {
    QFETCH(QString, line);
    QFETCH(int, status);
    QFETCH(QStringList, fields);
    AccountLine account;
    QCOMPARE(int(parseAccountLine(line, &account)), status);
    if (status == int(AccountLineStatus::Accepted))
        QCOMPARE((QStringList{account.server, account.login, account.password}), fields);
}

void TestDataFiles::accountRoundTrip() {
    // A comma in the login does not survive: the rest moves into the password.
    AccountLine account;
    const QString line =
        formatAccountLine(QStringLiteral("pop.x.org"), QStringLiteral("a,b"), QStringLiteral("pw"));
    QCOMPARE(parseAccountLine(line, &account), AccountLineStatus::Accepted);
    QCOMPARE(account.login, QStringLiteral("a"));
    QCOMPARE(account.password, QStringLiteral("b,pw"));
    // A comma in the server cuts it: here too short to load.
    QCOMPARE(parseAccountLine(formatAccountLine(QStringLiteral("po,p.x.org"), QStringLiteral("u"),
                                                QStringLiteral("p")),
                              &account),
             AccountLineStatus::ServerTooShort);
}

void TestDataFiles::statsLayout() {
    StatsValues values;
    values.accountsCount = QStringLiteral("2");
    values.whitelistCount = QStringLiteral("0");
    values.blacklistCount = QStringLiteral("40000");
    values.keywordsCount = QStringLiteral("7");
    values.blockedCount = QStringLiteral("41");
    values.totalScanned = QStringLiteral("1000");
    values.autoscan = 1;
    values.minutes = QStringLiteral("15");
    values.whitelistOn = 1;
    values.spamcopOn = 2;
    QCOMPARE(joinTextLines(statsLines(values)),
             QByteArray("2\r\n0\r\n40000\r\n7\r\n41\r\n1000\r\n 1 \r\n15\r\n 1 \r\n 0 \r\n 2 \r\n"
                        " 0 \r\n"));
}

void TestDataFiles::checkLines_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<int>("value"); // -1: not a state
    QTest::newRow("written form") << " 1 " << 1;
    QTest::newRow("bare") << "1" << 1;
    QTest::newRow("trailing space") << "1 " << 1;
    QTest::newRow("cleared") << " 0 " << 0;
    QTest::newRow("greyed") << "2" << 2;
    QTest::newRow("out of range") << "3" << -1;
    QTest::newRow("negative") << "-1" << -1;
    QTest::newRow("text") << "yes" << -1;
    QTest::newRow("empty") << "" << -1;
}

void TestDataFiles::checkLines() {
    QFETCH(QString, line);
    QFETCH(int, value);
    QCOMPARE(parseCheckLine(line).value_or(-1), value);
}

QTEST_GUILESS_MAIN(TestDataFiles)
#include "tst_datafiles.moc"
