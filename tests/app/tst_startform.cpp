// The hidden start form: its load order, the tray notifications, the tray menu's commands and
// every way out of the program.
#include "app/SysTrayModule.h"
#include "app/endprogram.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "app/frmStart.h"
#include "app/popupmenu.h"
#include "config/ubGrid.h"
#include "support/tempfolder.h"
#include "support/ui/scriptedboxes.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTest>

#include <functional>

namespace {
const QString kExitText = "Click OK to exit this application.\r\n"
                          "Click CANCEL to keep it running in the system tray.";

QImage iconImage(const QIcon& icon) {
    return icon.pixmap(QSize(32, 32)).toImage();
}

struct Popup {
    QMenu* menu;
    QPoint at;
    bool yieldedBefore;
};
} // namespace

class tst_startform : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void loadsTheMainWindowBeforeTheTrayIcon();
    void menusAndCaptions();
    void trayHandlerPopsUpOnlyOnLeftButtonDown_data();
    void trayHandlerPopsUpOnlyOnLeftButtonDown();
    void trayActivationsReachTheHandler();
    void clickWhileTheMenuIsOpenStartsNoSecondMenu();
    void showAndHideApplication();
    void scanNowRunsAPassWithTheWindowHidden();
    void exitQuestion_data();
    void exitQuestion();
    void everyExitPathRemovesTheIconFirst_data();
    void everyExitPathRemovesTheIconFirst();

private:
    // Records each pop-up instead of running a menu loop and answers with m_choice.
    void recordPopups();
    int m_ends = 0;
    bool m_iconGoneAtEnd = false;
    bool m_yielded = false;
    QList<Popup> m_popups;
    std::function<QAction*(QMenu*)> m_choice;
};

void tst_startform::init() {
    m_ends = 0;
    m_iconGoneAtEnd = false;
    m_popups.clear();
    m_choice = nullptr;
    setEndProgramHandler([this] {
        ++m_ends;
        m_iconGoneAtEnd = !SysTrayModule::isAdded();
    });
    recordPopups();
}

void tst_startform::cleanup() {
    setEndProgramHandler({});
    setPopupMenuHandler({});
    SysTrayModule::setTrayObserver({});
    SysTrayModule::removeIcon();
}

void tst_startform::recordPopups() {
    setPopupMenuHandler([this](QMenu* menu, const QPoint& at) -> QAction* {
        m_popups.append({menu, at, m_yielded});
        return m_choice ? m_choice(menu) : nullptr;
    });
}

// The main window is created, loaded and on show (splash gone, lists in) before the tray icon
// is added; the icon is the main window's, owned by the start form, which is never shown.
void tst_startform::loadsTheMainWindowBeforeTheTrayIcon() {
    TempFolder folder;
    folder.write("accounts.dat", "pop.example.org,alice,secret\r\n");
    folder.write("keywords.dat", "free money\r\n");
    frmStart start(folder.path());
    QVERIFY(!start.createdMainWindow());

    int adds = 0;
    SysTrayModule::setTrayObserver([&](const SysTrayModule::TrayRecord&, bool added) {
        if (!added)
            return;
        ++adds;
        const frmMain* main = start.createdMainWindow();
        QVERIFY(main);
        QVERIFY(main->isVisible());
        QVERIFY(!const_cast<frmMain*>(main)->splash().isVisible());
        QCOMPARE(main->gridAccounts->rows(), 1);
        QCOMPARE(main->gridkeywords->rows(), 1);
    });
    start.Form_Load();
    QCOMPARE(adds, 1);

    frmMain& main = start.mainWindow();
    QVERIFY(!start.isVisible());
    QVERIFY(!QApplication::quitOnLastWindowClosed());
    const SysTrayModule::TrayRecord& record = SysTrayModule::record();
    QCOMPARE(record.owner.data(), &start);
    QCOMPARE(record.identifier, 1u);
    QCOMPARE(record.tip, QString("Left click for menu."));
    QVERIFY(!record.icon.isNull());
    QCOMPARE(iconImage(record.icon), iconImage(main.windowIcon()));
    QCOMPARE(iconImage(start.windowIcon()), iconImage(main.windowIcon()));
    QCOMPARE(main.SSTab1->currentIndex(), 0);

    // The bitmap goes to the file menu's third position, which the file menu does not have:
    // no item is marked.
    for (QMenu* menu : {start.mnuFile, start.mnuSysTray})
        for (const QAction* item : menu->actions())
            QVERIFY2(item->icon().isNull(), qPrintable(item->text()));

    // Without a tray on this desktop the program runs on all the same.
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        QVERIFY(SysTrayModule::isAdded());
        QVERIFY(!SysTrayModule::isShown());
    }
}

void tst_startform::menusAndCaptions() {
    TempFolder folder;
    frmStart start(folder.path());
    QCOMPARE(start.windowTitle(), QString("Corvanta starting ..."));
    const QList<QAction*> bar = start.menuBar()->actions();
    QCOMPARE(bar.size(), 2);
    QCOMPARE(bar.at(0)->menu(), start.mnuFile);
    QCOMPARE(bar.at(1)->menu(), start.mnuSysTray);
    QCOMPARE(start.mnuFile->title(), QString("&File"));
    QCOMPARE(start.mnuSysTray->title(), QString("SysTray"));
    QCOMPARE(start.mnuFile->actions(), (QList<QAction*>{start.mnuSep0, start.mnuFileExit}));
    QVERIFY(start.mnuSep0->isSeparator());
    QCOMPARE(start.mnuFileExit->text(), QString("E&xit"));
    QCOMPARE(start.mnuSysTray->actions(),
             (QList<QAction*>{start.mnuSysTrayScanNow, start.mnuHideSysTrayConfg,
                              start.mnuSysTrayConfg, start.mnuSysTrayExit}));
    QStringList captions;
    for (const QAction* item : start.mnuSysTray->actions())
        captions.append(item->text());
    QCOMPARE(captions, QStringList({"Scan Now", "Hide Application", "Show Application", "Exit"}));
    // Building the form does not create the main window.
    QVERIFY(!start.createdMainWindow());
}

void tst_startform::trayHandlerPopsUpOnlyOnLeftButtonDown_data() {
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
    QTest::newRow("mouse move") << 512 << bottom << false;
    QTest::newRow("left up") << 514 << bottom << false;
    QTest::newRow("double click") << 515 << bottom << false;
    QTest::newRow("right down") << 516 << bottom << false;
    QTest::newRow("right up") << 517 << bottom << false;
    QTest::newRow("middle down") << 519 << bottom << false;
}

// Whatever the message, the handler first lets pending events run.
void tst_startform::trayHandlerPopsUpOnlyOnLeftButtonDown() {
    QFETCH(int, message);
    QFETCH(QPoint, cursor);
    QFETCH(bool, popsUp);

    TempFolder folder;
    frmStart start(folder.path());
    start.Form_Load();
    ScriptedBoxes boxes;
    QCursor::setPos(cursor);
    m_yielded = false;
    QMetaObject::invokeMethod(
        this, [this] { m_yielded = true; }, Qt::QueuedConnection);

    start.Form_MouseMove(message);
    QVERIFY(m_yielded);
    QCOMPARE(m_popups.size(), popsUp ? 1 : 0);
    if (popsUp) {
        QCOMPARE(m_popups.first().menu, start.mnuSysTray);
        QCOMPARE(m_popups.first().at, cursor);
        QVERIFY(m_popups.first().yieldedBefore);
    }
    // A dismissed menu, or an ignored message, leaves everything as it was.
    QVERIFY(start.mainWindow().isVisible());
    QVERIFY(SysTrayModule::isAdded());
    QVERIFY(boxes.shown().isEmpty());
    QCOMPARE(m_ends, 0);
}

// The tray icon's activations arrive at the start form as mouse messages: a single click pops
// the menu up, and the chosen item runs.
void tst_startform::trayActivationsReachTheHandler() {
    TempFolder folder;
    frmStart start(folder.path());
    start.Form_Load();
    frmMain& main = start.mainWindow();

    for (auto reason :
         {QSystemTrayIcon::Context, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick})
        SysTrayModule::notifyOwner(SysTrayModule::mouseMessageFor(reason));
    QCoreApplication::sendPostedEvents(&start);
    QVERIFY(m_popups.isEmpty());

    m_choice = [&](QMenu*) { return start.mnuHideSysTrayConfg; };
    SysTrayModule::notifyOwner(SysTrayModule::mouseMessageFor(QSystemTrayIcon::Trigger));
    QTRY_COMPARE(m_popups.size(), 1);
    QVERIFY(!main.isVisible());
}

void tst_startform::clickWhileTheMenuIsOpenStartsNoSecondMenu() {
    TempFolder folder;
    frmStart start(folder.path());
    start.Form_Load();
    m_choice = [&](QMenu*) -> QAction* {
        if (m_popups.size() == 1)
            start.Form_MouseMove(513); // another click on the icon while the menu is open
        return nullptr;
    };
    start.Form_MouseMove(513);
    QCOMPARE(m_popups.size(), 1);
    // Once the menu has closed, the next click opens it again.
    start.Form_MouseMove(513);
    QCOMPARE(m_popups.size(), 2);
}

// Show and Hide only change visibility: no question, no reload, the page and unsaved edits
// stay; each is harmless when the window already is as asked.
void tst_startform::showAndHideApplication() {
    TempFolder folder;
    frmStart start(folder.path());
    start.Form_Load();
    frmMain& main = start.mainWindow();
    ScriptedBoxes boxes;
    main.SSTab1->setCurrentIndex(3);
    main.gridkeywords->addrow("unsaved");
    main.Label17->setText("status");

    start.mnuSysTrayConfg_Click();
    QVERIFY(main.isVisible());
    start.mnuHideSysTrayConfg->trigger();
    QVERIFY(!main.isVisible());
    start.mnuHideSysTrayConfg->trigger();
    QVERIFY(!main.isVisible());
    start.mnuSysTrayConfg->trigger();
    QVERIFY(main.isVisible());

    QCOMPARE(main.SSTab1->currentIndex(), 3);
    QCOMPARE(main.gridkeywords->rows(), 1);
    QCOMPARE(main.gridkeywords->celltext(1, 1), QString("unsaved"));
    QCOMPARE(main.Label17->text(), QString("status"));
    QVERIFY(boxes.shown().isEmpty());
    QVERIFY(SysTrayModule::isAdded());
    QCOMPARE(m_ends, 0);
}

// "Scan Now" from the tray runs a scan pass, also with the window hidden, and leaves the window
// hidden: the pass's closing text reaches the status line and the statistics are saved.
void tst_startform::scanNowRunsAPassWithTheWindowHidden() {
    TempFolder folder;
    // One account whose server refuses the connection at once.
    folder.write("accounts.dat", "127.0.0.1:1,alice,secret\r\n");
    frmStart start(folder.path());
    start.Form_Load();
    frmMain& main = start.mainWindow();
    main.hide();
    ScriptedBoxes boxes;
    QVERIFY(!folder.exists("stats.dat"));

    m_choice = [&](QMenu*) { return start.mnuSysTrayScanNow; };
    start.Form_MouseMove(513);

    QVERIFY(!main.isVisible());
    QCOMPARE(main.Label17->text(), QString("Corvanta - your closest ally in Fighting SPAM."));
    QVERIFY(folder.exists("stats.dat"));
    QCOMPARE(main.txttotalemailsever->text(), QString("0"));
    QVERIFY(boxes.shown().isEmpty());
}

void tst_startform::exitQuestion_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<bool>("visibleBefore");
    QTest::addColumn<MsgBoxAnswer>("answer");

    for (const char* item : {"mnuSysTrayExit", "mnuFileExit"}) {
        QTest::addRow("%s, OK", item) << QString(item) << true << MsgBoxAnswer::Ok;
        QTest::addRow("%s, Cancel, window visible", item)
            << QString(item) << true << MsgBoxAnswer::Cancel;
        QTest::addRow("%s, Cancel, window hidden", item)
            << QString(item) << false << MsgBoxAnswer::Cancel;
    }
}

// Tray "Exit" and File "E&xit" ask the close question; OK ends the program after taking the
// tray icon away, writing nothing; Cancel leaves the program in the tray with the window hidden.
void tst_startform::exitQuestion() {
    QFETCH(QString, item);
    QFETCH(bool, visibleBefore);
    QFETCH(MsgBoxAnswer, answer);

    TempFolder folder;
    frmStart start(folder.path());
    start.Form_Load();
    frmMain& main = start.mainWindow();
    main.gridkeywords->addrow("unsaved");
    main.setVisible(visibleBefore);
    ScriptedBoxes boxes;
    boxes.answer(answer);

    auto* action = start.findChild<QAction*>(item);
    QVERIFY(action);
    action->trigger();

    QCOMPARE(boxes.shown().size(), 1);
    QCOMPARE(boxes.shown().first().text, kExitText);
    QCOMPARE(boxes.shown().first().title, QString("Exit application?"));
    QCOMPARE(boxes.shown().first().buttons, MsgBoxButtons::OkCancel);
    if (answer == MsgBoxAnswer::Ok) {
        QCOMPARE(m_ends, 1);
        QVERIFY(m_iconGoneAtEnd);
        QVERIFY(QDir(folder.path()).entryList(QDir::Files).isEmpty()); // nothing written
    } else {
        QCOMPARE(m_ends, 0);
        QVERIFY(!main.isVisible());
        QVERIFY(SysTrayModule::isAdded());
        QCOMPARE(main.gridkeywords->celltext(1, 1), QString("unsaved"));
    }
}

void tst_startform::everyExitPathRemovesTheIconFirst_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<MsgBoxAnswer>("answer");
    QTest::newRow("tray menu Exit") << "tray" << MsgBoxAnswer::Ok;
    QTest::newRow("File Exit") << "file" << MsgBoxAnswer::Ok;
    QTest::newRow("Exit button") << "button" << MsgBoxAnswer::Yes;
    QTest::newRow("closing the main window") << "close" << MsgBoxAnswer::Ok;
}

// Each way out, on a program started from the start form with its icon in the tray.
void tst_startform::everyExitPathRemovesTheIconFirst() {
    QFETCH(QString, path);
    QFETCH(MsgBoxAnswer, answer);

    TempFolder folder;
    frmStart start(folder.path());
    start.Form_Load();
    QVERIFY(SysTrayModule::isAdded());
    frmMain& main = start.mainWindow();
    ScriptedBoxes boxes;
    boxes.answer(answer);

    if (path == "tray") {
        m_choice = [&](QMenu*) { return start.mnuSysTrayExit; };
        start.Form_MouseMove(513);
    } else if (path == "file") {
        start.mnuFileExit->trigger();
    } else if (path == "button") {
        main.cmdExitApplication->click();
    } else {
        main.close();
    }
    QCOMPARE(boxes.shown().size(), 1);
    QCOMPARE(boxes.unexpected(), 0);
    QCOMPARE(m_ends, 1);
    QVERIFY(m_iconGoneAtEnd);
}

QTEST_MAIN(tst_startform)
#include "tst_startform.moc"
