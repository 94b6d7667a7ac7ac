// One running copy per program folder: later starts are refused and ask the running copy to
// show itself, folders run side by side, a copy still starting is waited for.
#include "app/singleinstance.h"
#include "support/tempfolder.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QLocalSocket>
#include <QLockFile>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {
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
} // namespace

class tst_singleinstance : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void laterStartIsRefusedAndAsksTheRunningCopyToShow();
    void foldersRunSideBySide();
    void otherLocalProgramsCannotTriggerOrFlood();
    void copyStillStartingIsReachedOnceItListens();
    void startGivesUpWhenTheHolderNeverListens();
};

// The second start in a folder writes nothing and is refused, and each refused start reaches
// the running copy once. Once the running copy ends, the folder is free again.
void tst_singleinstance::laterStartIsRefusedAndAsksTheRunningCopyToShow() {
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
void tst_singleinstance::foldersRunSideBySide() {
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
void tst_singleinstance::otherLocalProgramsCannotTriggerOrFlood() {
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
void tst_singleinstance::copyStillStartingIsReachedOnceItListens() {
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
void tst_singleinstance::startGivesUpWhenTheHolderNeverListens() {
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

QTEST_MAIN(tst_singleinstance)
#include "tst_singleinstance.moc"
