// The program on a Linux desktop: the "Start Corvanta when I log in" box and the autostart entry
// behind it, a start into the tray with and without a tray, the command line answered without
// touching anything, and the menu entry that scripts/desktop-entry registers for a program
// folder. Every test points the session's folders at temporary ones.
#include "app/SysTrayModule.h"
#include "app/commandline.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "app/frmStart.h"
#include "app/programstart.h"
#include "app/singleinstance.h"
#include "app/ubGrid.h"
#include "config/autostart.h"
#include "config/desktopentry.h"
#include "support/environment.h"
#include "support/tempfolder.h"
#include "support/ui/scriptedboxes.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <memory>

namespace {
constexpr int kProcessMs = 30000;

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Names of everything in a folder, hidden files included.
QStringList names(const QString& folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Counts how often a window of type Window is shown.
template <typename Window>
class ShowCounter : public QObject {
public:
    ShowCounter() { qApp->installEventFilter(this); }
    int count() const { return m_count; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && dynamic_cast<Window*>(watched))
            ++m_count;
        return false;
    }

private:
    int m_count = 0;
};

// A program folder holding one keyword, whose twelve-line stats.dat must survive everything.
const QByteArray kStats = "0\r\n0\r\n0\r\n1\r\n3\r\n9\r\n 0 \r\n5\r\n 0 \r\n 0 \r\n 0 \r\n 1 \r\n";

QString makeFolder(const TempFolder& base, const QString& name) {
    const QString folder = base.file(name);
    QDir().mkpath(folder);
    QFile stats(QDir(folder).filePath("stats.dat"));
    stats.open(QIODevice::WriteOnly);
    stats.write(kStats);
    QFile keywords(QDir(folder).filePath("keywords.dat"));
    keywords.open(QIODevice::WriteOnly);
    keywords.write("free money\r\n");
    return folder;
}

// The built program, placed in a program folder of its own.
QString placeProgram(const QString& folder) {
    const QString target = QDir(folder).filePath("corvanta");
    std::error_code failed;
    std::filesystem::create_hard_link(CORVANTA_PROGRAM, target.toStdString(), failed);
    if (failed && !QFile::copy(CORVANTA_PROGRAM, target))
        return {};
    return target;
}

struct Run {
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run run(const QString& program, const QStringList& arguments, const QProcessEnvironment& env) {
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, arguments);
    Run result;
    if (!process.waitForFinished(kProcessMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// An environment whose home and session folders are the given temporary one.
QProcessEnvironment sessionIn(const TempFolder& home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", home.path());
    env.insert("XDG_CONFIG_HOME", home.file("config"));
    env.insert("XDG_DATA_HOME", home.file("data"));
    return env;
}

QString validator() {
    return QStandardPaths::findExecutable("desktop-file-validate");
}

QString script() {
    return QStringLiteral(CORVANTA_SOURCE_DIR "/scripts/desktop-entry");
}

// A program folder as cmake --install lays it: the program (here a stand-in) and its icons.
QString makeInstalledFolder(const TempFolder& base, const QString& name) {
    const QString folder = base.file(name);
    QDir().mkpath(QDir(folder).filePath("icons"));
    QFile program(QDir(folder).filePath("corvanta"));
    program.open(QIODevice::WriteOnly);
    program.write("#!/bin/sh\n");
    program.setPermissions(program.permissions() | QFile::ExeOwner);
    for (const char* size : {"16", "22", "48", "64"})
        QFile::copy(QStringLiteral(CORVANTA_SOURCE_DIR "/src/app/resources/corvanta-%1.png")
                        .arg(QLatin1String(size)),
                    QDir(folder).filePath(QStringLiteral("icons/corvanta-%1.png").arg(size)));
    QFile::copy(QStringLiteral(CORVANTA_SOURCE_DIR "/src/app/resources/corvanta.png"),
                QDir(folder).filePath("icons/corvanta-32.png"));
    return folder;
}

// What the registered launcher runs.
QStringList launcherCommand(const TempFolder& home) {
    const QHash<QString, QString> keys =
        desktopentry::readMainGroup(readAll(home.file("data/applications/corvanta.desktop")));
    return desktopentry::execArguments(keys.value("Exec"));
}
} // namespace

class TestDesktop : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void startupBoxWritesAndRemovesTheEntry();
    void startupBoxReadsTheEntryAtStartUp();
    void startupBoxThatCannotWriteSaysSo();
    void hiddenStartWithATrayStaysInTheTray();
    void hiddenStartWithoutATrayShowsTheWindow();
    void hiddenStartKeepsHiddenWhenTheTrayComesLate();
    void commandLine_data();
    void commandLine();
    void helpAndVersionTouchNothing();
    void launcherFollowsTheProgramFolder();
    void launcherIsValid();

private:
    TempFolder m_session;
    std::unique_ptr<ScopedEnvironment> m_config;
};

void TestDesktop::initTestCase() {
    m_config =
        std::make_unique<ScopedEnvironment>("XDG_CONFIG_HOME", m_session.file("config").toUtf8());
}

void TestDesktop::cleanup() {
    SysTrayModule::setTrayAvailability({});
    SysTrayModule::removeIcon();
    QFile::remove(autostart::entryPath());
}

// Ticking writes the entry for this program folder, quoted for the space in its name; unticking
// removes it. stats.dat keeps its twelve lines whatever the box says, also through Update.
void TestDesktop::startupBoxWritesAndRemovesTheEntry() {
    TempFolder base;
    const QString folder = makeFolder(base, "Mail Filter");
    ScriptedBoxes boxes;
    frmMain form(folder);
    form.Form_Load();
    QVERIFY(!form.checkstartup->isChecked());
    QVERIFY(!QFileInfo::exists(autostart::entryPath()));

    form.checkstartup->click();
    QVERIFY(form.checkstartup->isChecked());
    const QByteArray entry = readAll(autostart::entryPath());
    const QString program = QDir(folder).filePath("corvanta");
    const QByteArray exec = "\nExec=\"" + program.toUtf8() + "\" --hidden\n";
    QVERIFY2(entry.contains(exec), entry.constData());
    QVERIFY(!entry.contains('\r'));
    form.cmdupdateconfig->click();
    const QByteArray statsTicked = readAll(QDir(folder).filePath("stats.dat"));

    form.checkstartup->click();
    QVERIFY(!form.checkstartup->isChecked());
    QVERIFY(!QFileInfo::exists(autostart::entryPath()));
    form.cmdupdateconfig->click();
    QCOMPARE(readAll(QDir(folder).filePath("stats.dat")), statsTicked);
    QCOMPARE(statsTicked, kStats);
    QVERIFY(boxes.shown().isEmpty());
}

// The box shows the entry as it is when the window loads, and again after Reload: ticked only
// for an entry that starts this program folder.
void TestDesktop::startupBoxReadsTheEntryAtStartUp() {
    TempFolder base;
    const QString folder = makeFolder(base, "Mail Filter");
    ScriptedBoxes boxes;
    QVERIFY(autostart::enable(autostart::programIn(folder)));
    frmMain form(folder);
    form.Form_Load();
    QVERIFY(form.checkstartup->isChecked());

    // Switched off in the desktop's settings meanwhile, then Reload.
    QFile entry(autostart::entryPath());
    QVERIFY(entry.open(QIODevice::Append));
    entry.write("Hidden=true\n");
    entry.close();
    form.cmdreloadconfig->click();
    QVERIFY(!form.checkstartup->isChecked());

    // An entry for another program folder.
    QVERIFY(autostart::enable(QDir(base.file("Other")).filePath("corvanta")));
    frmMain other(folder);
    other.Form_Load();
    QVERIFY(!other.checkstartup->isChecked());
    // The entry stays the other folder's until this box is ticked.
    other.checkstartup->click();
    QVERIFY(autostart::isEnabled(autostart::programIn(folder)));
}

// An entry that cannot be written leaves the box unticked and tells the user why.
void TestDesktop::startupBoxThatCannotWriteSaysSo() {
    TempFolder base;
    const QString folder = makeFolder(base, "Mail Filter");
    ScriptedBoxes boxes;
    // A file where the autostart folder should be.
    const QString autostartFolder = QFileInfo(autostart::entryPath()).absolutePath();
    QDir(autostartFolder).removeRecursively();
    QDir().mkpath(QFileInfo(autostartFolder).absolutePath());
    QFile blocker(autostartFolder);
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    frmMain form(folder);
    form.Form_Load();
    form.checkstartup->click();
    QVERIFY(!form.checkstartup->isChecked());
    QCOMPARE(boxes.shown().size(), 1);
    QVERIFY(boxes.shown().first().text.startsWith(
        "Corvanta could not be set to start when you log in.\r\n"));
    QFile::remove(blocker.fileName());
}

// A start with the session loads everything and puts the icon in the tray without ever showing
// the main window or the splash window; "Show Application" brings the loaded window.
void TestDesktop::hiddenStartWithATrayStaysInTheTray() {
    TempFolder base;
    const QString folder = makeFolder(base, "Mail Filter");
    ScriptedBoxes boxes;
    SysTrayModule::setTrayAvailability([] { return true; });
    ShowCounter<frmMain> windowShown;
    ShowCounter<frmSplash> splashShown;
    SingleInstance instance(folder);
    StartOptions options;
    options.hidden = true;
    const std::unique_ptr<frmStart> start = startProgram(instance, options);
    QVERIFY(start);
    frmMain& window = start->mainWindow();
    QCOMPARE(window.gridkeywords->rows(), 1);
    QCOMPARE(window.txtEmailsBlockedCount->text(), QString("3"));
    QVERIFY(SysTrayModule::isAdded());
    QVERIFY(!start->isWaitingForTray());
    QVERIFY(!window.isVisible());
    QCOMPARE(windowShown.count(), 0);
    QCOMPARE(splashShown.count(), 0);

    start->mnuSysTrayConfg->trigger();
    QVERIFY(window.isVisible());
    // Reload on the shown window shows the splash as always.
    window.cmdreloadconfig->click();
    QCOMPARE(splashShown.count(), 1);
}

// With no tray to go to, a hidden start opens the window after its wait: the program is never
// out of reach.
void TestDesktop::hiddenStartWithoutATrayShowsTheWindow() {
    TempFolder base;
    const QString folder = makeFolder(base, "Mail Filter");
    ScriptedBoxes boxes;
    SysTrayModule::setTrayAvailability([] { return false; });
    SingleInstance instance(folder);
    StartOptions options;
    options.hidden = true;
    options.trayWaitMs = 300;
    const std::unique_ptr<frmStart> start = startProgram(instance, options);
    QVERIFY(start);
    frmMain& window = start->mainWindow();
    QVERIFY(start->isWaitingForTray());
    QVERIFY(!window.isVisible());
    QTRY_VERIFY(window.isVisible());
    QVERIFY(!start->isWaitingForTray());
    QCOMPARE(window.gridkeywords->rows(), 1);
}

// A tray that turns up while the start waits (a panel starting after the program at log-in)
// keeps the window hidden.
void TestDesktop::hiddenStartKeepsHiddenWhenTheTrayComesLate() {
    TempFolder base;
    const QString folder = makeFolder(base, "Mail Filter");
    ScriptedBoxes boxes;
    bool trayUp = false;
    SysTrayModule::setTrayAvailability([&trayUp] { return trayUp; });
    QTimer panelStarts;
    panelStarts.setSingleShot(true);
    connect(&panelStarts, &QTimer::timeout, this, [&trayUp] { trayUp = true; });
    ShowCounter<frmMain> windowShown;
    SingleInstance instance(folder);
    StartOptions options;
    options.hidden = true;
    options.trayWaitMs = 5000;
    const std::unique_ptr<frmStart> start = startProgram(instance, options);
    QVERIFY(start);
    QVERIFY(start->isWaitingForTray());
    panelStarts.start(200);
    QTRY_VERIFY_WITH_TIMEOUT(!start->isWaitingForTray(), 10000);
    QVERIFY(!start->mainWindow().isVisible());
    QCOMPARE(windowShown.count(), 0);
}

void TestDesktop::commandLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("runs");
    QTest::addColumn<bool>("hidden");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::newRow("none") << QStringList{} << true << false << 0 << "";
    QTest::newRow("hidden") << QStringList{"--hidden"} << true << true << 0 << "";
    QTest::newRow("version") << QStringList{"--version"} << false << false << 0 << "Corvanta 1.0\n";
    QTest::newRow("short version") << QStringList{"-v"} << false << false << 0 << "Corvanta 1.0\n";
    QTest::newRow("version wins over hidden")
        << QStringList{"--hidden", "--version"} << false << false << 0 << "Corvanta 1.0\n";
    QTest::newRow("unknown option") << QStringList{"--hiden"} << false << false << 2 << "";
    QTest::newRow("file name") << QStringList{"mail.txt"} << false << false << 2 << "";
}

void TestDesktop::commandLine() {
    QFETCH(QStringList, arguments);
    QFETCH(bool, runs);
    QFETCH(bool, hidden);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    const CommandLine line = readCommandLine(QStringList{"corvanta"} + arguments);
    QCOMPARE(line.run, runs);
    QCOMPARE(line.hidden, hidden);
    QCOMPARE(line.exitCode, exitCode);
    QCOMPARE(line.output, output);
    // A refusal says why; a run or an answer has nothing to complain about.
    QCOMPARE(line.error.isEmpty(), exitCode == 0);
}

// --help and --version answer without a display and leave the program folder and the session's
// folders as they were: no lock file, no data file, no autostart entry. A mistyped option ends
// the start the same way instead of running the program.
void TestDesktop::helpAndVersionTouchNothing() {
    TempFolder folder;
    TempFolder home;
    const QString program = placeProgram(folder.path());
    QVERIFY(!program.isEmpty());
    QProcessEnvironment env = sessionIn(home);
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.remove("QT_QPA_PLATFORM");

    const Run version = run(program, {"--version"}, env);
    QCOMPARE(version.exitCode, 0);
    QCOMPARE(version.out, QByteArray("Corvanta 1.0\n"));
    const Run help = run(program, {"--help"}, env);
    QCOMPARE(help.exitCode, 0);
    QVERIFY2(help.out.contains("--hidden"), help.out.constData());
    QVERIFY2(help.out.contains("--version"), help.out.constData());

    env.insert("QT_QPA_PLATFORM", "offscreen");
    const Run typo = run(program, {"--hiden"}, env);
    QCOMPARE(typo.exitCode, 2);
    QVERIFY2(typo.err.contains("hiden"), typo.err.constData());

    QCOMPARE(names(folder.path()), QStringList{"corvanta"});
    QCOMPARE(names(home.path()), QStringList{});
}

// The launcher registered for a program folder starts that folder's program, whatever its name
// holds; registering again after moving the folder points it at the new place, and remove takes
// the launcher and the icons away. A program folder carrying the script registers itself.
void TestDesktop::launcherFollowsTheProgramFolder() {
    TempFolder base;
    TempFolder home;
    const QProcessEnvironment env = sessionIn(home);
    const QString folder = makeInstalledFolder(base, "Corvanta \"mail\" $filter `x` \\ 100%");

    Run install = run("bash", {script(), "install", folder}, env);
    QVERIFY2(install.exitCode == 0, install.err.constData());
    QCOMPARE(launcherCommand(home), QStringList{QDir(folder).filePath("corvanta")});
    for (const char* size : {"16x16", "22x22", "32x32", "48x48", "64x64"})
        QVERIFY2(QFileInfo::exists(home.file(
                     QStringLiteral("data/icons/hicolor/%1/apps/corvanta.png").arg(size))),
                 size);

    const QString moved = base.file("Moved away");
    QVERIFY(QDir().rename(folder, moved));
    install = run("bash", {script(), "install", moved}, env);
    QVERIFY2(install.exitCode == 0, install.err.constData());
    QCOMPARE(launcherCommand(home), QStringList{QDir(moved).filePath("corvanta")});
    QCOMPARE(QDir(home.file("data/applications")).entryList({"*.desktop"}),
             QStringList{"corvanta.desktop"});

    // The copy of the script inside a program folder registers that folder.
    QVERIFY(QFile::copy(script(), QDir(moved).filePath("desktop-entry")));
    install = run("bash", {QDir(moved).filePath("desktop-entry"), "install"}, env);
    QVERIFY2(install.exitCode == 0, install.err.constData());
    QCOMPARE(launcherCommand(home), QStringList{QDir(moved).filePath("corvanta")});

    // A folder without the program is refused and the entry stays.
    const Run refused = run("bash", {script(), "install", base.path()}, env);
    QVERIFY(refused.exitCode != 0);
    QCOMPARE(launcherCommand(home), QStringList{QDir(moved).filePath("corvanta")});

    const Run removed = run("bash", {script(), "remove"}, env);
    QVERIFY2(removed.exitCode == 0, removed.err.constData());
    QVERIFY(!QFileInfo::exists(home.file("data/applications/corvanta.desktop")));
    QVERIFY(!QFileInfo::exists(home.file("data/icons/hicolor/48x48/apps/corvanta.png")));
}

void TestDesktop::launcherIsValid() {
    if (validator().isEmpty())
        QSKIP("desktop-file-validate is not installed (Debian package desktop-file-utils)");
    TempFolder base;
    TempFolder home;
    const QString folder = makeInstalledFolder(base, "My Programs/Corvanta \\ 'odd' #1");
    const Run install = run("bash", {script(), "install", folder}, sessionIn(home));
    QVERIFY2(install.exitCode == 0, install.err.constData());
    const Run validate =
        run(validator(), {home.file("data/applications/corvanta.desktop")}, sessionIn(home));
    QVERIFY2(validate.exitCode == 0 && validate.out.isEmpty() && validate.err.isEmpty(),
             QByteArray(validate.out + validate.err).constData());
}

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
