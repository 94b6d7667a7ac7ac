// One running copy per program folder: later starts are refused and bring the running copy to
// the front, folders run side by side, a lock left by a killed copy is taken over. Some cases
// start the built program itself from a temporary program folder.
#include "app/SysTrayModule.h"
#include "app/frmMain.h"
#include "app/frmStart.h"
#include "app/programstart.h"
#include "app/singleinstance.h"
#include "support/tempfolder.h"
#include "support/ui/scriptedboxes.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <memory>

namespace {
// A program start from a fresh process can be slow on a loaded machine.
constexpr int kProcessMs = 30000;

// Everything in a folder, hidden files included, with size and time: a start that writes
// anything changes it.
QStringList listing(const QString& folder) {
    QStringList entries;
    const QFileInfoList infos = QDir(folder).entryInfoList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo& info : infos)
        entries.append(QStringLiteral("%1 %2 %3")
                           .arg(info.fileName())
                           .arg(info.size())
                           .arg(info.lastModified().toMSecsSinceEpoch()));
    return entries;
}

// The process the folder's lock file names, 0 without one.
qint64 lockHolder(const TempFolder& folder) {
    return folder.read(SingleInstance::lockFileName()).split('\n').first().toLongLong();
}

// Whether a copy listens under the name: a local connection is made or refused at once.
bool listening(const QString& serverName) {
    QLocalSocket socket;
    socket.connectToServer(serverName);
    return socket.state() == QLocalSocket::ConnectedState;
}

// The built program, placed in a program folder of its own (it keeps its files beside itself).
QString placeProgram(const TempFolder& folder) {
    const QString target = folder.file("corvanta");
    std::error_code failed;
    std::filesystem::create_hard_link(CORVANTA_PROGRAM, target.toStdString(), failed);
    if (failed && !QFile::copy(CORVANTA_PROGRAM, target))
        return {};
    return target;
}

// A run of the built program, stopped hard when the test ends.
struct Program {
    QProcess process;
    explicit Program(const QString& executable, const QStringList& arguments = {}) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(environment);
        process.setProgram(executable);
        process.setArguments(arguments);
        process.start();
    }
    ~Program() { killHard(); }
    bool running() const { return process.state() != QProcess::NotRunning; }
    qint64 pid() const { return process.processId(); }
    // As a crash ends it: nothing of its own runs, its lock file and socket stay behind.
    bool killHard() {
        if (!running())
            return true;
        QSignalSpy finished(&process, &QProcess::finished);
        process.kill();
        return finished.wait(kProcessMs);
    }
    bool endedQuietly() const {
        return !running() && process.exitStatus() == QProcess::NormalExit &&
               process.exitCode() == 0;
    }
};
} // namespace

class TestSingleInstance : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void laterStartIsRefusedAndAsksTheRunningCopyToShow();
    void foldersRunSideBySide();
    void otherLocalProgramsCannotTriggerOrFlood();
    void copyStillStartingIsReachedOnceItListens();
    void startGivesUpWhenTheHolderNeverListens();
    void secondStartOfTheProgramShowsTheHiddenWindow();
    void startWithTheSessionLeavesTheRunningCopyAlone();
    void programHoldsItsFolderAndAKilledCopyIsTakenOver();
    void twoProgramStartsAtOnceLeaveOneRunning();

private:
    // Sockets of programs killed by a test, removed afterwards.
    QStringList m_serverNames;
};

void TestSingleInstance::cleanup() {
    for (const QString& name : std::as_const(m_serverNames))
        QLocalServer::removeServer(name);
    m_serverNames.clear();
    SysTrayModule::removeIcon();
}

// The second start in a folder writes nothing and is refused, and each refused start reaches
// the running copy once. Once the running copy ends, the folder is free again.
void TestSingleInstance::laterStartIsRefusedAndAsksTheRunningCopyToShow() {
    TempFolder folder;
    folder.write("stats.dat", "0\r\n");
    auto first = std::make_unique<SingleInstance>(folder.path());
    QSignalSpy requests(first.get(), &SingleInstance::showRequested);
    QVERIFY(first->claim());
    QVERIFY(first->isRunningCopy());
    QVERIFY(folder.exists(SingleInstance::lockFileName()));
    const QStringList before = listing(folder.path());

    SingleInstance second(folder.path());
    QVERIFY(!second.claim());
    QVERIFY(!second.isRunningCopy());
    QTRY_COMPARE(requests.count(), 1);
    SingleInstance third(folder.path());
    QVERIFY(!third.claim());
    QTRY_COMPARE(requests.count(), 2);
    QCOMPARE(listing(folder.path()), before);
    QVERIFY(first->claim());

    first.reset();
    QVERIFY(!folder.exists(SingleInstance::lockFileName()));
    SingleInstance next(folder.path());
    QVERIFY(next.claim());
}

// Each folder has its own running copy and its own requests; a folder reached through a link
// is the same folder.
void TestSingleInstance::foldersRunSideBySide() {
    TempFolder one;
    TempFolder two;
    TempFolder links;
    const QString linkToOne = links.file("linked");
    QVERIFY(QFile::link(one.path(), linkToOne));
    QCOMPARE(SingleInstance::serverName(linkToOne), SingleInstance::serverName(one.path()));
    QVERIFY(SingleInstance::serverName(one.path()) != SingleInstance::serverName(two.path()));

    SingleInstance inOne(one.path());
    SingleInstance inTwo(two.path());
    QSignalSpy toOne(&inOne, &SingleInstance::showRequested);
    QSignalSpy toTwo(&inTwo, &SingleInstance::showRequested);
    QVERIFY(inOne.claim());
    QVERIFY(inTwo.claim());

    SingleInstance throughLink(linkToOne);
    QVERIFY(!throughLink.claim());
    QTRY_COMPARE(toOne.count(), 1);
    SingleInstance againInTwo(two.path());
    QVERIFY(!againInTwo.claim());
    QTRY_COMPARE(toTwo.count(), 1);
    QCOMPARE(toOne.count(), 1);

    // In a session with a private runtime folder the socket lives there.
    TempFolder runtime;
    TempFolder three;
    const bool hadRuntime = qEnvironmentVariableIsSet("XDG_RUNTIME_DIR");
    const QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    const QString name = SingleInstance::serverName(three.path());
    SingleInstance inThree(three.path());
    QSignalSpy toThree(&inThree, &SingleInstance::showRequested);
    const bool claimed = inThree.claim();
    SingleInstance againInThree(three.path());
    const bool refused = !againInThree.claim();
    if (hadRuntime)
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
    else
        qunsetenv("XDG_RUNTIME_DIR");
    QCOMPARE(QFileInfo(name).absolutePath(), runtime.path());
    QVERIFY(QFileInfo::exists(name));
    QVERIFY(claimed);
    QVERIFY(refused);
    QTRY_COMPARE(toThree.count(), 1);
}

// Any local program of the user can connect: what is not the request shows nothing, and a
// peer that keeps sending without a line end is cut off. Real requests still get through.
void TestSingleInstance::otherLocalProgramsCannotTriggerOrFlood() {
    TempFolder folder;
    SingleInstance running(folder.path());
    QSignalSpy requests(&running, &SingleInstance::showRequested);
    QVERIFY(running.claim());

    QLocalSocket stranger;
    stranger.connectToServer(SingleInstance::serverName(folder.path()));
    QCOMPARE(stranger.state(), QLocalSocket::ConnectedState);
    stranger.write("show me\nSHOW\nshow");
    stranger.write(QByteArray(4096, 'x'));
    QTRY_COMPARE(stranger.state(), QLocalSocket::UnconnectedState);
    QCOMPARE(requests.count(), 0);

    SingleInstance later(folder.path());
    QVERIFY(!later.claim());
    QTRY_COMPARE(requests.count(), 1);
}

// A copy that holds the lock but does not listen yet is still starting: a later start waits
// for it instead of giving up at once.
void TestSingleInstance::copyStillStartingIsReachedOnceItListens() {
    TempFolder folder;
    QLockFile starting(folder.file(SingleInstance::lockFileName()));
    starting.setStaleLockTime(0);
    QVERIFY(starting.tryLock(0));
    SingleInstance first(folder.path());
    QSignalSpy requests(&first, &SingleInstance::showRequested);
    bool firstClaimed = false;
    // Owned here, so that it cannot fire into a later test should this one fail early.
    QTimer listensLate;
    listensLate.setSingleShot(true);
    connect(&listensLate, &QTimer::timeout, this, [&] {
        starting.unlock();
        firstClaimed = first.claim();
    });
    listensLate.start(300);

    SingleInstance second(folder.path());
    QVERIFY(!second.claim());
    QVERIFY(firstClaimed);
    QTRY_COMPARE(requests.count(), 1);
}

// A holder that never answers (alive, but not listening) does not keep a later start waiting
// for ever, and the later start leaves the folder as it was.
void TestSingleInstance::startGivesUpWhenTheHolderNeverListens() {
    TempFolder folder;
    QLockFile holder(folder.file(SingleInstance::lockFileName()));
    holder.setStaleLockTime(0);
    QVERIFY(holder.tryLock(0));
    const QStringList before = listing(folder.path());

    SingleInstance later(folder.path());
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!later.claim());
    QVERIFY(clock.elapsed() >= SingleInstance::kPatienceMs);
    QCOMPARE(listing(folder.path()), before);
}

// This process runs the folder's copy with its main window hidden in the tray; starting the
// built program again from the folder brings that window back and ends at once, writing
// nothing.
void TestSingleInstance::secondStartOfTheProgramShowsTheHiddenWindow() {
    TempFolder folder;
    folder.write("keywords.dat", "free money\r\n");
    const QString executable = placeProgram(folder);
    QVERIFY(!executable.isEmpty());
    ScriptedBoxes boxes;
    SingleInstance instance(folder.path());
    const std::unique_ptr<frmStart> start = startProgram(instance);
    QVERIFY(start);
    frmMain& window = start->mainWindow();
    start->mnuHideSysTrayConfg->trigger();
    QVERIFY(!window.isVisible());
    const QStringList before = listing(folder.path());

    Program second(executable);
    QSignalSpy finished(&second.process, &QProcess::finished);
    QVERIFY(finished.wait(kProcessMs));
    QVERIFY(second.endedQuietly());
    QTRY_VERIFY(window.isVisible());
    QCOMPARE(listing(folder.path()), before);
    QVERIFY(boxes.shown().isEmpty());

    // A refused start in the same process is no different.
    start->mnuHideSysTrayConfg->trigger();
    SingleInstance third(folder.path());
    QVERIFY(!third.claim());
    QTRY_VERIFY(window.isVisible());
}

// A start with the session (--hidden) that finds the folder's copy running ends quietly and does
// not bring that copy's window up: the user did not ask for it. A start by the user still does.
void TestSingleInstance::startWithTheSessionLeavesTheRunningCopyAlone() {
    TempFolder folder;
    const QString executable = placeProgram(folder);
    QVERIFY(!executable.isEmpty());
    ScriptedBoxes boxes;
    SingleInstance instance(folder.path());
    QSignalSpy requests(&instance, &SingleInstance::showRequested);
    const std::unique_ptr<frmStart> start = startProgram(instance);
    QVERIFY(start);
    frmMain& window = start->mainWindow();
    start->mnuHideSysTrayConfg->trigger();
    const QStringList before = listing(folder.path());

    Program withSession(executable, {"--hidden"});
    QSignalSpy finished(&withSession.process, &QProcess::finished);
    QVERIFY(finished.wait(kProcessMs));
    QVERIFY(withSession.endedQuietly());
    SingleInstance quietInProcess(folder.path());
    QVERIFY(!quietInProcess.claim(SingleInstance::Request::Nothing));
    QCOMPARE(listing(folder.path()), before);
    // Nothing is to arrive, so there is no condition to wait for: a request would have been
    // handled well within this time.
    QTest::qWait(300);
    QCOMPARE(requests.count(), 0);
    QVERIFY(!window.isVisible());

    SingleInstance byTheUser(folder.path());
    QVERIFY(!byTheUser.claim());
    QTRY_VERIFY(window.isVisible());
    QCOMPARE(requests.count(), 1);
}

// The built program takes its folder's lock and answers later starts; killed, it leaves the
// lock behind, and the next start takes it over and runs.
void TestSingleInstance::programHoldsItsFolderAndAKilledCopyIsTakenOver() {
    TempFolder folder;
    const QString executable = placeProgram(folder);
    QVERIFY(!executable.isEmpty());
    m_serverNames.append(SingleInstance::serverName(folder.path()));

    const QString serverName = SingleInstance::serverName(folder.path());
    Program crashed(executable);
    QTRY_COMPARE_WITH_TIMEOUT(lockHolder(folder), crashed.pid(), kProcessMs);
    QTRY_VERIFY_WITH_TIMEOUT(listening(serverName), kProcessMs);
    {
        SingleInstance later(folder.path());
        QVERIFY(!later.claim());
    }
    const qint64 crashedPid = crashed.pid();
    QVERIFY(crashed.killHard());
    QCOMPARE(lockHolder(folder), crashedPid);
    QVERIFY(!listening(serverName));

    Program next(executable);
    QTRY_COMPARE_WITH_TIMEOUT(lockHolder(folder), next.pid(), kProcessMs);
    QTRY_VERIFY_WITH_TIMEOUT(listening(serverName), kProcessMs);
    SingleInstance later(folder.path());
    QVERIFY(!later.claim());
    QVERIFY(next.running());
}

// Of two starts at the same moment in a fresh folder exactly one runs; the other ends quietly.
void TestSingleInstance::twoProgramStartsAtOnceLeaveOneRunning() {
    TempFolder folder;
    const QString executable = placeProgram(folder);
    QVERIFY(!executable.isEmpty());
    m_serverNames.append(SingleInstance::serverName(folder.path()));

    Program a(executable);
    Program b(executable);
    QTRY_VERIFY_WITH_TIMEOUT(!a.running() || !b.running(), kProcessMs);
    Program& refused = a.running() ? b : a;
    Program& runner = a.running() ? a : b;
    QVERIFY(refused.endedQuietly());
    QTRY_COMPARE_WITH_TIMEOUT(lockHolder(folder), runner.pid(), kProcessMs);
    SingleInstance later(folder.path());
    QVERIFY(!later.claim());
    QVERIFY(runner.running());
}

QTEST_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"
