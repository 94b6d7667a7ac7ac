// The session's autostart entry: the Exec= line a launcher reads back to the exact program path
// whatever characters the program folder holds, the entry written, recognised and removed in
// $XDG_CONFIG_HOME/autostart, and the entry as desktop-file-validate judges it.
#include "config/autostart.h"
#include "config/desktopentry.h"
#include "support/environment.h"
#include "support/tempfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

namespace {
QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString execLine(const QByteArray& entry) {
    for (const QByteArray& line : entry.split('\n'))
        if (line.startsWith("Exec="))
            return QString::fromUtf8(line);
    return {};
}

// Program folders whose names a launcher would split or expand if they were written as they
// stand, with the Exec= line that must come out (backslashes doubled once for the quoting and
// once more for the string value).
void programFolders() {
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("exec");
    QTest::newRow("plain") << "/opt/corvanta/corvanta"
                           << "Exec=/opt/corvanta/corvanta --hidden";
    QTest::newRow("spaces") << "/home/ann/My Programs/corvanta"
                            << "Exec=\"/home/ann/My Programs/corvanta\" --hidden";
    QTest::newRow("double quotes") << "/tmp/a \"b\"/corvanta"
                                   << "Exec=\"/tmp/a \\\\\"b\\\\\"/corvanta\" --hidden";
    QTest::newRow("dollar") << "/tmp/$HOME/corvanta"
                            << "Exec=\"/tmp/\\\\$HOME/corvanta\" --hidden";
    QTest::newRow("backslash") << "/tmp/back\\slash/corvanta"
                               << "Exec=\"/tmp/back\\\\\\\\slash/corvanta\" --hidden";
    QTest::newRow("backtick") << "/tmp/`id`/corvanta"
                              << "Exec=\"/tmp/\\\\`id\\\\`/corvanta\" --hidden";
    QTest::newRow("percent") << "/tmp/100%/corvanta"
                             << "Exec=/tmp/100%%/corvanta --hidden";
    QTest::newRow("percent and space") << "/tmp/100 %f/corvanta"
                                       << "Exec=\"/tmp/100 %%f/corvanta\" --hidden";
    QTest::newRow("shell characters") << "/tmp/it's ~;#&|<>*?()/corvanta"
                                      << "Exec=\"/tmp/it's ~;#&|<>*?()/corvanta\" --hidden";
    QTest::newRow("non-ASCII") << "/home/jörg/Müll-Filter/corvanta"
                               << "Exec=/home/jörg/Müll-Filter/corvanta --hidden";
}
} // namespace

class TestDesktopEntry : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void execLineNamesTheProgramExactly_data() { programFolders(); }
    void execLineNamesTheProgramExactly();
    void execLinesAsDesktopsWriteThem_data();
    void execLinesAsDesktopsWriteThem();
    void entryIsWrittenRecognisedAndRemoved();
    void entriesNotOursOrSwitchedOffAreNotOurs();
    void configFolderFollowsTheSession();
    void entryThatCannotBeWrittenIsReported();
    void autostartEntryIsValid_data() { programFolders(); }
    void autostartEntryIsValid();
};

void TestDesktopEntry::execLineNamesTheProgramExactly() {
    QFETCH(QString, program);
    QFETCH(QString, exec);
    const QByteArray entry = desktopentry::autostartEntry(autostart::command(program));
    QCOMPARE(execLine(entry), exec);
    // Read back as a launcher does: the program and the option, nothing split or expanded.
    const QHash<QString, QString> keys = desktopentry::readMainGroup(entry);
    QCOMPARE(desktopentry::execArguments(keys.value("Exec")), QStringList({program, "--hidden"}));
    QCOMPARE(keys.value("TryExec"), program);
    // A .desktop file has LF line ends only.
    QVERIFY(!entry.contains('\r'));
    QVERIFY(entry.endsWith('\n'));
}

void TestDesktopEntry::execLinesAsDesktopsWriteThem_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QStringList>("arguments");
    QTest::newRow("field codes dropped")
        << "/usr/bin/corvanta %U --x=%%f" << QStringList{"/usr/bin/corvanta", "--x=%f"};
    QTest::newRow("quoted shell command") << "sh -c \"exec /opt/c\\\\$x/corvanta\""
                                          << QStringList{"sh", "-c", "exec /opt/c$x/corvanta"};
    QTest::newRow("empty quoted argument") << "prog \"\" b" << QStringList{"prog", "", "b"};
    QTest::newRow("tabs and runs of spaces") << "prog\t  a   b" << QStringList{"prog", "a", "b"};
    QTest::newRow("quote left open") << "\"/opt/my corvanta --hidden" << QStringList{};
    // Inside quotes these must carry a backslash; a line without is not read as a program.
    QTest::newRow("dollar not escaped") << "\"/opt/$x/corvanta\"" << QStringList{};
    QTest::newRow("backtick not escaped") << "\"/opt/`x`/corvanta\"" << QStringList{};
    QTest::newRow("lone backslash") << "\"/opt/a\\\\b/corvanta\"" << QStringList{};
}

void TestDesktopEntry::execLinesAsDesktopsWriteThem() {
    QFETCH(QString, value);
    QFETCH(QStringList, arguments);
    QCOMPARE(desktopentry::execArguments(desktopentry::unescapeValue(value)), arguments);
}

void TestDesktopEntry::entryIsWrittenRecognisedAndRemoved() {
    TempFolder config;
    ScopedEnvironment configHome("XDG_CONFIG_HOME", config.path().toUtf8());
    const QString program = QDir(config.path()).filePath("My Programs/corvanta");
    const QString entry = config.file("autostart/corvanta.desktop");
    QCOMPARE(autostart::entryPath(), entry);
    QVERIFY(!autostart::isEnabled(program));
    // Nothing to remove is no failure.
    QVERIFY(autostart::disable(program));

    // The autostart folder is made when missing; writing twice leaves one entry.
    QString reason;
    QVERIFY2(autostart::enable(program, &reason), qPrintable(reason));
    QVERIFY(autostart::enable(program, &reason));
    QVERIFY(autostart::isEnabled(program));
    QCOMPARE(QDir(config.file("autostart")).entryList(QDir::Files | QDir::Hidden),
             QStringList{"corvanta.desktop"});
    QCOMPARE(readAll(entry), desktopentry::autostartEntry({program, "--hidden"}));
    // The same program reached through a link is the same program.
    QVERIFY(QFile::link(QDir(config.path()).filePath("My Programs"), config.file("link")));
    QDir().mkpath(config.file("My Programs"));
    QFile(program).open(QIODevice::WriteOnly);
    QVERIFY(autostart::isEnabled(config.file("link/corvanta")));

    QVERIFY(autostart::disable(program, &reason));
    QVERIFY(!QFileInfo::exists(entry));
    QVERIFY(!autostart::isEnabled(program));
}

void TestDesktopEntry::entriesNotOursOrSwitchedOffAreNotOurs() {
    TempFolder config;
    ScopedEnvironment configHome("XDG_CONFIG_HOME", config.path().toUtf8());
    const QString program = "/opt/one/corvanta";

    // An entry for another program folder: not ticked here, and unticking here keeps it.
    QVERIFY(autostart::enable("/opt/two/corvanta"));
    const QByteArray other = readAll(autostart::entryPath());
    QVERIFY(!autostart::isEnabled(program));
    QVERIFY(autostart::disable(program));
    QCOMPARE(readAll(autostart::entryPath()), other);
    // Ticking here makes it this folder's.
    QVERIFY(autostart::enable(program));
    QVERIFY(autostart::isEnabled(program));
    QVERIFY(!autostart::isEnabled("/opt/two/corvanta"));

    // Switched off in the desktop's own start-up settings: not ticked, and still removable.
    const QByteArray ours = readAll(autostart::entryPath());
    for (const QByteArray& off :
         {QByteArray("Hidden=true\n"), QByteArray("X-GNOME-Autostart-enabled=false\n")}) {
        config.write("autostart/corvanta.desktop", ours + off);
        QVERIFY(!autostart::isEnabled(program));
    }
    QVERIFY(autostart::disable(program));
    QVERIFY(!QFileInfo::exists(autostart::entryPath()));

    // Keys of another group and localised names do not count.
    config.write("autostart/corvanta.desktop",
                 "[Desktop Action x]\nExec=/opt/one/corvanta\n[Desktop Entry]\n"
                 "Exec[de]=/opt/one/corvanta\nExec = /opt/two/corvanta\n");
    QVERIFY(!autostart::isEnabled(program));
}

void TestDesktopEntry::configFolderFollowsTheSession() {
    TempFolder home;
    ScopedEnvironment homeFolder("HOME", home.path().toUtf8());
    {
        // Not an absolute path: to be ignored, as if not set.
        ScopedEnvironment relative("XDG_CONFIG_HOME", "relative/config");
        QCOMPARE(autostart::entryPath(), home.file(".config/autostart/corvanta.desktop"));
    }
    ScopedEnvironment unset("XDG_CONFIG_HOME", "");
    QCOMPARE(autostart::entryPath(), home.file(".config/autostart/corvanta.desktop"));
}

void TestDesktopEntry::entryThatCannotBeWrittenIsReported() {
    TempFolder config;
    ScopedEnvironment configHome("XDG_CONFIG_HOME", config.path().toUtf8());
    // A file where the autostart folder should be.
    config.write("autostart", "not a folder");
    QString reason;
    QVERIFY(!autostart::enable("/opt/one/corvanta", &reason));
    QVERIFY(!reason.isEmpty());
    QCOMPARE(config.read("autostart"), QByteArray("not a folder"));

    // An entry that was there stays whole when the new one cannot be written.
    TempFolder second;
    ScopedEnvironment secondHome("XDG_CONFIG_HOME", second.path().toUtf8());
    QVERIFY(autostart::enable("/opt/two/corvanta"));
    const QByteArray before = readAll(autostart::entryPath());
    QFile::setPermissions(second.file("autostart"), QFile::ReadOwner | QFile::ExeOwner);
    if (QFileInfo(second.file("autostart")).isWritable())
        QSKIP("running with rights that ignore folder permissions");
    QVERIFY(!autostart::enable("/opt/one/corvanta", &reason));
    QCOMPARE(readAll(autostart::entryPath()), before);
    QFile::setPermissions(second.file("autostart"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void TestDesktopEntry::autostartEntryIsValid() {
    QFETCH(QString, program);
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    if (validator.isEmpty())
        QSKIP("desktop-file-validate is not installed (Debian package desktop-file-utils)");
    TempFolder folder;
    const QString path = folder.file("corvanta.desktop");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(desktopentry::autostartEntry(autostart::command(program)));
    file.close();
    QProcess validate;
    validate.start(validator, {path});
    QVERIFY(validate.waitForFinished(30000));
    const QByteArray said = validate.readAllStandardOutput() + validate.readAllStandardError();
    QVERIFY2(validate.exitCode() == 0 && said.isEmpty(), said.constData());
}

QTEST_GUILESS_MAIN(TestDesktopEntry)
#include "tst_desktopentry.moc"
