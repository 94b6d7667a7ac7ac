#include "app/frmStart.h"

#include "app/RestrictSizing.h"
#include "app/SetMenuIconModule.h"
#include "app/SysTrayModule.h"
#include "app/doevents.h"
#include "app/doubleclickguard.h"
#include "app/exitquestion.h"
#include "app/frmMain.h"
#include "app/frmPictures.h"
#include "app/popupmenu.h"
#include "app/twips.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QScopedValueRollback>
#include <QTimer>

namespace {
QAction* menuItem(QMenu* menu, const QString& name, const QString& caption) {
    QAction* item = menu->addAction(caption);
    item->setObjectName(name);
    return item;
}
} // namespace

frmStart::frmStart(const QString& programFolder, QWidget* parent)
    : QMainWindow(parent)
    , m_programFolder(programFolder) {
    setObjectName(QStringLiteral("frmStart"));
    setWindowTitle(QStringLiteral("Corvanta starting ..."));

    QMenuBar* bar = menuBar();
    // The bar belongs to this hidden form; it must not be handed to a desktop's global menu.
    bar->setNativeMenuBar(false);

    mnuFile = bar->addMenu(QStringLiteral("&File"));
    mnuFile->setObjectName(QStringLiteral("mnuFile"));
    mnuSep0 = mnuFile->addSeparator();
    mnuSep0->setObjectName(QStringLiteral("mnuSep0"));
    mnuFileExit = menuItem(mnuFile, QStringLiteral("mnuFileExit"), QStringLiteral("E&xit"));

    mnuSysTray = bar->addMenu(QStringLiteral("SysTray"));
    mnuSysTray->setObjectName(QStringLiteral("mnuSysTray"));
    mnuSysTrayScanNow =
        menuItem(mnuSysTray, QStringLiteral("mnuSysTrayScanNow"), QStringLiteral("Scan Now"));
    mnuHideSysTrayConfg = menuItem(mnuSysTray, QStringLiteral("mnuHideSysTrayConfg"),
                                   QStringLiteral("Hide Application"));
    mnuSysTrayConfg =
        menuItem(mnuSysTray, QStringLiteral("mnuSysTrayConfg"), QStringLiteral("Show Application"));
    mnuSysTrayExit = menuItem(mnuSysTray, QStringLiteral("mnuSysTrayExit"), QStringLiteral("Exit"));

    connect(mnuFileExit, &QAction::triggered, this, &frmStart::mnuFileExit_Click);
    connect(mnuSysTrayScanNow, &QAction::triggered, this, &frmStart::mnuSysTrayScanNow_Click);
    connect(mnuHideSysTrayConfg, &QAction::triggered, this, &frmStart::mnuHideSysTrayConfg_Click);
    connect(mnuSysTrayConfg, &QAction::triggered, this, &frmStart::mnuSysTrayConfg_Click);
    connect(mnuSysTrayExit, &QAction::triggered, this, &frmStart::mnuSysTrayExit_Click);

    // A client area of 4200 x 120 twips below the menu bar.
    resize(twips(4200), twips(120) + bar->sizeHint().height());
}

frmStart::~frmStart() = default;

frmMain& frmStart::mainWindow() {
    if (!m_main) {
        m_main = std::make_unique<frmMain>(m_programFolder);
        m_main->setNextLoadHidden(m_startInTray);
        m_main->Form_Load();
    }
    return *m_main;
}

frmPictures& frmStart::pictures() {
    if (!m_pictures)
        m_pictures = std::make_unique<frmPictures>();
    return *m_pictures;
}

void frmStart::Form_Load() {
    // The program lives on in the tray with every window hidden.
    QApplication::setQuitOnLastWindowClosed(false);
    hide();
    // Reaching for the main window's icon creates and loads the main window; the tray icon
    // comes only after it is on show with its lists loaded.
    setWindowIcon(mainWindow().windowIcon());
    SysTrayModule::addIcon(this, QStringLiteral("Left click for menu."), windowIcon());
    const QPixmap mark = pictures().Picture1->pixmap();
    SetMenuIconModule::setMenuItemBitmaps(this, 0, 2, SetMenuIconModule::kByCommand, mark, mark);
    if (m_startInTray)
        waitForTray();
    DoEvents();
}

void frmStart::setStartInTray(bool inTray, int trayWaitMs) {
    m_startInTray = inTray;
    m_trayWaitMs = trayWaitMs;
}

void frmStart::waitForTray() {
    if (SysTrayModule::isTrayAvailable())
        return;
    if (m_trayWaitMs <= 0) {
        mnuSysTrayConfg_Click();
        return;
    }
    m_trayWaited.start();
    m_trayWait = new QTimer(this);
    m_trayWait->setInterval(qMin(250, m_trayWaitMs));
    connect(m_trayWait, &QTimer::timeout, this, &frmStart::checkTray);
    m_trayWait->start();
}

void frmStart::checkTray() {
    const bool trayCame = SysTrayModule::isTrayAvailable();
    // Shown meanwhile (a later start, the user): nothing left to wait for.
    const bool shown = createdMainWindow() && createdMainWindow()->isVisible();
    const bool waitedEnough = m_trayWaited.hasExpired(m_trayWaitMs);
    if (!trayCame && !shown && !waitedEnough)
        return;
    m_trayWait->stop();
    m_trayWait->deleteLater();
    m_trayWait = nullptr;
    if (!trayCame && !shown)
        mnuSysTrayConfg_Click();
}

void frmStart::Form_MouseMove(int mouseMessage) {
    DoEvents();
    if (mouseMessage != SysTrayModule::kLeftButtonDown)
        return;
    // A click that arrives while the menu is already open must not start a second menu loop
    // on the same menu: the first one would never learn that the menu closed.
    if (m_trayMenuOpen)
        return;
    // The menu pops up wherever the desktop's panel is: at the bottom, at the top or at a side.
    const QScopedValueRollback open(m_trayMenuOpen, true);
    const QPoint at = RestrictSizing::cursorPosition();
    // A double click opens the menu as a single click does, and leaves it open.
    const DoubleClickGuard doubleClick(mnuSysTray, at);
    PopupMenu(mnuSysTray, at);
}

bool frmStart::event(QEvent* event) {
    if (event->type() == SysTrayModule::TrayNotifyEvent::eventType()) {
        Form_MouseMove(static_cast<SysTrayModule::TrayNotifyEvent*>(event)->mouseMessage());
        return true;
    }
    return QMainWindow::event(event);
}

void frmStart::mnuSysTrayScanNow_Click() {
    mainWindow().cmdscannow_Click();
}

void frmStart::mnuHideSysTrayConfg_Click() {
    mainWindow().hide();
}

void frmStart::mnuSysTrayConfg_Click() {
    frmMain& window = mainWindow();
    if (window.isMinimized())
        window.showNormal();
    else
        window.show();
    // Brought back from the tray, the window comes to the front, also from behind others.
    window.raise();
    window.activateWindow();
}

void frmStart::mnuSysTrayExit_Click() {
    askExit();
}

void frmStart::mnuFileExit_Click() {
    askExit();
}

void frmStart::askExit() {
    if (!exitQuestion())
        mainWindow().hide();
}
