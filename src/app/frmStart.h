#pragma once

#include <QElapsedTimer>
#include <QMainWindow>

#include <memory>

class QAction;
class QMenu;
class QTimer;
class frmMain;
class frmPictures;

// The start form. It is never shown: it receives the tray icon's notifications, owns the tray
// menu, and loading it is what loads the main window. It stays loaded for the whole run.
class frmStart : public QMainWindow {
    Q_OBJECT
public:
    // programFolder: handed on to the main window (the executable's folder in the program).
    explicit frmStart(const QString& programFolder, QWidget* parent = nullptr);
    ~frmStart() override;

    // The main window, created on first use; first use also runs its whole load procedure.
    frmMain& mainWindow();
    // The main window once it has been created, else nullptr (nothing is created).
    frmMain* createdMainWindow() const { return m_main.get(); }
    // The form holding the menu pictures, created on first use and never shown.
    frmPictures& pictures();

    // The load procedure: loads the main window, then adds the tray icon and sets the menu
    // bitmap. Run once at start-up.
    void Form_Load();
    // Makes the load procedure start into the tray: the main window loads without coming up.
    // When the desktop shows no tray, the window comes up after all once trayWaitMs have passed
    // without one (at log-in the panel may start after the program), so the program is never
    // out of reach. Call before Form_Load.
    void setStartInTray(bool inTray, int trayWaitMs = kTrayWaitMs);
    static constexpr int kTrayWaitMs = 10000;
    // True while a start into the tray still waits for a tray to turn up.
    bool isWaitingForTray() const { return m_trayWait != nullptr; }
    // A tray notification: the number of the mouse message over the tray icon. A left button
    // going down pops the tray menu up at the cursor; everything else is ignored.
    void Form_MouseMove(int mouseMessage);

    // Menu commands.
    void mnuFileExit_Click();
    void mnuSysTrayScanNow_Click();
    void mnuHideSysTrayConfg_Click();
    void mnuSysTrayConfg_Click();
    void mnuSysTrayExit_Click();

    // "&File": a separator and "E&xit".
    QMenu* mnuFile;
    QAction* mnuSep0;
    QAction* mnuFileExit;
    // "SysTray", the tray menu.
    QMenu* mnuSysTray;
    QAction* mnuSysTrayScanNow;
    QAction* mnuHideSysTrayConfg;
    QAction* mnuSysTrayConfg;
    QAction* mnuSysTrayExit;

protected:
    bool event(QEvent* event) override;

private:
    void askExit();
    void waitForTray();
    void checkTray();

    QString m_programFolder;
    std::unique_ptr<frmMain> m_main;
    std::unique_ptr<frmPictures> m_pictures;
    bool m_trayMenuOpen = false;
    bool m_startInTray = false;
    int m_trayWaitMs = kTrayWaitMs;
    QTimer* m_trayWait = nullptr;
    QElapsedTimer m_trayWaited;
};
