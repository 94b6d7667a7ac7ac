// The hidden start form: its load order, the tray notifications, the tray menu's commands and
// every way out of the program.
#include "app/SysTrayModule.h"
#include "app/endprogram.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "app/frmStart.h"
#include "app/popupmenu.h"
#include "app/ubGrid.h"
#include "support/tempfolder.h"
#include "support/ui/scriptedboxes.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTest>

#include <functional>

namespace {
QImage iconImage(const QIcon& icon) {
    return icon.pixmap(QSize(32, 32)).toImage();
}

// A program started from its start form in a fresh program folder.
struct Started {
    TempFolder folder;
    std::unique_ptr<frmStart> start;
    frmMain* main = nullptr;
    explicit Started(const QByteArray& accounts = {}) {
        if (!accounts.isEmpty())
            folder.write("accounts.dat", accounts);
        start = std::make_unique<frmStart>(folder.path());
        start->Form_Load();
        main = &start->mainWindow();
    }
};

struct Popup {
    QMenu* menu;
    QPoint at;
    bool yieldedBefore;
};
} // namespace

class TestStartForm : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void loadsTheMainWindowBeforeTheTrayIcon();
    void trayHandlerPopsUpOnlyOnLeftButtonDown_data();
    void trayHandlerPopsUpOnlyOnLeftButtonDown();
    void trayActivationsReachTheHandlerOneMenuAtATime();
    void showAndHideApplication();
    void scanNowRunsAPassWithTheWindowHidden();
    void exitPaths_data();
    void exitPaths();

private:
    int m_ends = 0;
    bool m_iconGoneAtEnd = false;
    bool m_yielded = false;
    QList<Popup> m_popups;
    // The item picked from each pop-up (none: the menu is dismissed).
    std::function<QAction*()> m_choice;
};

void TestStartForm::init() {
    m_ends = 0;
    m_iconGoneAtEnd = false;
    m_popups.clear();
    m_choice = nullptr;
    setEndProgramHandler([this] {
        ++m_ends;
        m_iconGoneAtEnd = !SysTrayModule::isAdded();
    });
    setPopupMenuHandler([this](QMenu* menu, const QPoint& at) -> QAction* {
        m_popups.append({menu, at, m_yielded});
        return m_choice ? m_choice() : nullptr;
    });
}

void TestStartForm::cleanup() {
    setEndProgramHandler({});
    setPopupMenuHandler({});
    SysTrayModule::setTrayObserver({});
    SysTrayModule::removeIcon();
}

// The main window is created, loaded and on show (splash gone, lists in) before the tray icon
// is added; the icon is the main window's, owned by the start form, which is never shown.
void TestStartForm::loadsTheMainWindowBeforeTheTrayIcon() {
    TempFolder folder;
    folder.write("keywords.dat", "free money\r\n");
    frmStart start(folder.path());
    QVERIFY(!start.createdMainWindow());
    int adds = 0;
    SysTrayModule::setTrayObserver([&](const SysTrayModule::TrayRecord&, bool added) {
        adds += added;
        frmMain* main = start.createdMainWindow();
        QVERIFY(main && main->isVisible());
        QVERIFY(!main->splash().isVisible());
        QCOMPARE(main->gridkeywords->rows(), 1);
    });
    start.Form_Load();
    QCOMPARE(adds, 1);

    const frmMain& main = start.mainWindow();
    QVERIFY(!start.isVisible());
    QVERIFY(!QApplication::quitOnLastWindowClosed());
    const SysTrayModule::TrayRecord& record = SysTrayModule::record();
    QCOMPARE(record.owner.data(), &start);
    QCOMPARE(record.identifier, 1u);
    QCOMPARE(record.tip, QString("Left click for menu."));
    QVERIFY(!record.icon.isNull());
    QCOMPARE(iconImage(record.icon), iconImage(main.windowIcon()));
    // Without a tray on this desktop the program runs on all the same.
    QVERIFY(SysTrayModule::isAdded());
    QCOMPARE(SysTrayModule::isShown(), QSystemTrayIcon::isSystemTrayAvailable());

    QStringList captions;
    for (const QAction* item : start.mnuSysTray->actions())
        captions.append(item->text());
    QCOMPARE(captions, QStringList({"Scan Now", "Hide Application", "Show Application", "Exit"}));
    // The bitmap is meant for the file menu's third position, which that menu does not have.
    for (QMenu* menu : {start.mnuFile, start.mnuSysTray})
        for (const QAction* item : menu->actions())
            QVERIFY2(item->icon().isNull(), qPrintable(item->text()));
}

void TestStartForm::trayHandlerPopsUpOnlyOnLeftButtonDown_data() {
    QTest::addColumn<int>("message");
    QTest::addColumn<QPoint>("cursor");
    QTest::addColumn<bool>("popsUp");

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    const QPoint bottom(screen.right() - 40, screen.bottom() - 5);
    // With the panel at the top or at a side the menu must come up as well, or a hidden main
    // window could never be brought back.
    QTest::newRow("left down, panel at the bottom") << 513 << bottom << true;
    QTest::newRow("left down, panel at the top") << 513 << QPoint(screen.right() - 40, 5) << true;
    QTest::newRow("left down, panel at the left") << 513 << QPoint(5, screen.center().y()) << true;
    for (int ignored : {512, 514, 515, 516, 517, 519})
        QTest::addRow("message %d", ignored) << ignored << bottom << false;
}

// Whatever the message, the handler first lets pending events run; a dismissed menu or an
// ignored message leaves everything as it was.
void TestStartForm::trayHandlerPopsUpOnlyOnLeftButtonDown() {
    QFETCH(int, message);
    QFETCH(QPoint, cursor);
    QFETCH(bool, popsUp);

    Started run;
    ScriptedBoxes boxes;
    QCursor::setPos(cursor);
    m_yielded = false;
    QMetaObject::invokeMethod(
        this, [this] { m_yielded = true; }, Qt::QueuedConnection);

    run.start->Form_MouseMove(message);
    QVERIFY(m_yielded);
    QCOMPARE(m_popups.size(), popsUp ? 1 : 0);
    if (popsUp) {
        QCOMPARE(m_popups.first().menu, run.start->mnuSysTray);
        QCOMPARE(m_popups.first().at, cursor);
        QVERIFY(m_popups.first().yieldedBefore);
    }
    QVERIFY(run.main->isVisible());
    QVERIFY(SysTrayModule::isAdded());
    QVERIFY(boxes.shown().isEmpty());
}

// The icon's activations arrive as mouse messages: only a single click pops the menu up, and
// the chosen item runs. A click while the menu is open starts no second menu loop.
void TestStartForm::trayActivationsReachTheHandlerOneMenuAtATime() {
    Started run;
    for (auto reason : {QSystemTrayIcon::Context, QSystemTrayIcon::DoubleClick,
                        QSystemTrayIcon::MiddleClick, QSystemTrayIcon::Unknown})
        SysTrayModule::notifyOwner(SysTrayModule::mouseMessageFor(reason));
    QCoreApplication::sendPostedEvents(run.start.get());
    QVERIFY(m_popups.isEmpty());

    m_choice = [&] { return run.start->mnuHideSysTrayConfg; };
    SysTrayModule::notifyOwner(SysTrayModule::mouseMessageFor(QSystemTrayIcon::Trigger));
    QTRY_COMPARE(m_popups.size(), 1);
    QVERIFY(!run.main->isVisible());

    m_choice = [&]() -> QAction* {
        if (m_popups.size() == 2)
            run.start->Form_MouseMove(513);
        return nullptr;
    };
    run.start->Form_MouseMove(513);
    QCOMPARE(m_popups.size(), 2);
    run.start->Form_MouseMove(513);
    QCOMPARE(m_popups.size(), 3);
}

// Show and Hide only change visibility: no question, no reload, the page and unsaved edits
// stay; each is harmless when the window already is as asked.
void TestStartForm::showAndHideApplication() {
    Started run;
    ScriptedBoxes boxes;
    run.main->SSTab1->setCurrentIndex(3);
    run.main->gridkeywords->addrow("unsaved");

    run.start->mnuSysTrayConfg->trigger();
    QVERIFY(run.main->isVisible());
    run.start->mnuHideSysTrayConfg->trigger();
    run.start->mnuHideSysTrayConfg->trigger();
    QVERIFY(!run.main->isVisible());
    run.start->mnuSysTrayConfg->trigger();
    QVERIFY(run.main->isVisible());
    QCOMPARE(run.main->SSTab1->currentIndex(), 3);
    QCOMPARE(run.main->gridkeywords->celltext(1, 1), QString("unsaved"));
    QVERIFY(boxes.shown().isEmpty());
    QCOMPARE(m_ends, 0);
}

// The pass's closing text reaches the hidden window's status line, with the account it could not
// check; the window stays hidden, and no box comes up.
void TestStartForm::scanNowRunsAPassWithTheWindowHidden() {
    // One account whose server refuses the connection at once.
    Started run("127.0.0.1:1,alice,secret\r\n");
    run.main->hide();
    ScriptedBoxes boxes;
    m_choice = [&] { return run.start->mnuSysTrayScanNow; };
    run.start->Form_MouseMove(513);

    QVERIFY(!run.main->isVisible());
    QCOMPARE(run.main->Label17->text(), QString("Corvanta - your closest ally in Fighting SPAM. - "
                                                "not checked: alice"));
    QVERIFY(run.folder.exists("stats.dat"));
    QVERIFY(boxes.shown().isEmpty());
}

void TestStartForm::exitPaths_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("visibleBefore");
    QTest::addColumn<MsgBoxAnswer>("answer");
    QTest::newRow("tray Exit, OK") << "tray" << true << MsgBoxAnswer::Ok;
    QTest::newRow("File Exit, OK") << "file" << false << MsgBoxAnswer::Ok;
    QTest::newRow("Exit button, Yes") << "button" << true << MsgBoxAnswer::Yes;
    QTest::newRow("closing the window, OK") << "close" << true << MsgBoxAnswer::Ok;
    QTest::newRow("tray Exit, Cancel, window visible") << "tray" << true << MsgBoxAnswer::Cancel;
    QTest::newRow("File Exit, Cancel, window hidden") << "file" << false << MsgBoxAnswer::Cancel;
}

// Every way out takes the tray icon away before the program ends and writes nothing. Tray
// "Exit" and File "E&xit" ask the close question; their Cancel leaves the program in the tray
// with the main window hidden and its contents kept.
void TestStartForm::exitPaths() {
    QFETCH(QString, path);
    QFETCH(bool, visibleBefore);
    QFETCH(MsgBoxAnswer, answer);

    Started run;
    run.main->gridkeywords->addrow("unsaved");
    run.main->setVisible(visibleBefore);
    ScriptedBoxes boxes;
    boxes.answer(answer);
    if (path == "tray") {
        m_choice = [&] { return run.start->mnuSysTrayExit; };
        run.start->Form_MouseMove(513);
    } else if (path == "file") {
        run.start->mnuFileExit->trigger();
    } else if (path == "button") {
        run.main->cmdExitApplication->click();
    } else {
        run.main->close();
    }

    QCOMPARE(boxes.shown().size(), 1);
    if (path == "tray" || path == "file") {
        QCOMPARE(boxes.shown().first().text,
                 QString("Click OK to exit this application.\r\n"
                         "Click CANCEL to keep it running in the system tray."));
        QCOMPARE(boxes.shown().first().title, QString("Exit application?"));
        QCOMPARE(boxes.shown().first().buttons, MsgBoxButtons::OkCancel);
    }
    if (answer == MsgBoxAnswer::Cancel) {
        QCOMPARE(m_ends, 0);
        QVERIFY(!run.main->isVisible());
        QVERIFY(SysTrayModule::isAdded());
        QCOMPARE(run.main->gridkeywords->celltext(1, 1), QString("unsaved"));
        return;
    }
    QCOMPARE(m_ends, 1);
    QVERIFY(m_iconGoneAtEnd);
    QVERIFY(QDir(run.folder.path()).entryList(QDir::Files).isEmpty());
}

QTEST_MAIN(TestStartForm)
#include "tst_startform.moc"
