#pragma once

#include <QWidget>

#include <memory>

class ClickLabel;
class EditingDialogs;
class FreePOP;
class OAuthTokens;
class Pop3Mailbox;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTextBrowser;
class QTimer;
class frmSplash;
class ubGrid;

// The program's only working window. Its controls are the program's state: the counters, the
// settings and the lists live in them, and the modules read and write them directly. The window
// never really closes while the program runs; closing or hiding it leaves the program in the
// tray.
class frmMain : public QWidget {
    Q_OBJECT
public:
    // programFolder: the folder holding the data files, the help page and the spam archive
    // (the executable's folder in the program; a temporary folder in tests).
    explicit frmMain(const QString& programFolder, QWidget* parent = nullptr);
    ~frmMain() override;

    QString programFolder() const { return m_programFolder; }
    QString pathInFolder(const QString& name) const;

    // The splash window, created on first use and then only shown and hidden.
    frmSplash& splash();
    // The account and list dialogs, each created on first use and then only shown and hidden.
    EditingDialogs& editingDialogs();

    // The load procedure: statistics and settings from stats.dat, the splash window, the help
    // page, the four lists. Run once at start-up and again by Reload.
    void Form_Load();
    // Makes the next run of the load procedure leave this window and the splash window hidden
    // (a start into the tray); later runs show them again.
    void setNextLoadHidden(bool hidden) { m_nextLoadHidden = hidden; }
    // The close question; sets cancel to keep the window loaded and hidden.
    void Form_Unload(bool& cancel);

    // Event handlers of the window's controls.
    void cmdsystemtray_Click();
    void cmdExitApplication_Click();
    void cmdreloadconfig_Click();
    void cmdupdateconfig_Click();
    void cmdscannow_Click();
    void checkautoscan_Click();
    void Timer1_Timer();
    void cmdAddAccount_Click();
    void cmdDeleteAccount_Click();
    void cmdAddWhitelist_Click();
    void cmdeletewhitelist_Click();
    void cmdAddBlacklist_Click();
    void cmddeleteblacklist_Click();
    void cmdAddkeywords_Click();
    void cmddeletekeyword_Click();
    void Command1_Click();
    void Image1_Click();
    void Label25_Click();
    // "Start Corvanta when I log in": writes or removes the session's autostart entry.
    void checkstartup_Click();
    // Sets that box from the autostart entry as it is on disk.
    void readStartupSetting();

    // Logo and statistics.
    ClickLabel* Image1;
    QGroupBox* frameStatistics;
    QLineEdit* txtAccountsCount;
    QLineEdit* txtwhitelistCount;
    QLineEdit* txtblacklistCount;
    QLineEdit* txtkeywordsCount;
    QLineEdit* txtEmailsBlockedCount;
    QLineEdit* txttotalemailsever;
    QLineEdit* txtEmailsAllowedCount; // not visible
    QLabel* lblEmailsAllowed;         // its caption, not visible
    ClickLabel* Label25;              // "View Deleted Spam folder"
    QLabel* Label17;                  // the status line

    // The tab pages.
    QTabWidget* SSTab1;
    ubGrid* gridAccounts;
    QPushButton* cmdAddAccount;
    QPushButton* cmdDeleteAccount;
    ubGrid* gridwhitelist;
    QPushButton* cmdAddWhitelist;
    QPushButton* cmdeletewhitelist;
    QPushButton* Command1; // "Import"
    ubGrid* gridblacklist;
    QPushButton* cmdAddBlacklist;
    QPushButton* cmddeleteblacklist;
    ubGrid* gridkeywords;
    QPushButton* cmdAddkeywords;
    QPushButton* cmddeletekeyword;
    QCheckBox* checkkeywords;
    QCheckBox* checkautoscan;
    QComboBox* combominutes;
    QCheckBox* checkwhitelist;
    QCheckBox* checkblacklist;
    QCheckBox* checkspamcop;
    QCheckBox* checkstartup; // kept in the session's autostart folder, not in stats.dat
    QTextBrowser* webhelpbrowser;
    // Link labels of the six pages, created hidden.
    ClickLabel* Label9;
    ClickLabel* Label21;
    ClickLabel* Label20;
    ClickLabel* Label22;
    ClickLabel* Label23;
    ClickLabel* Label24;

    // The command buttons.
    QPushButton* cmdreloadconfig;
    QPushButton* cmdupdateconfig;
    QPushButton* cmdscannow;
    QPushButton* cmdsystemtray;
    QPushButton* cmdExitApplication;

    // Not visible.
    QLineEdit* txtTimer;
    QTimer* Timer1;
    QLineEdit* Text2;
    // The POP3 component of the scan pass, created with the window and owned by it.
    FreePOP* FreePOP1;
    // The mailbox the scan pass works on: FreePOP1, unless a stand-in was put in its place.
    Pop3Mailbox& mailbox();
    // Puts a stand-in in the place of FreePOP1 for the scan pass (tests substitute a scripted
    // mailbox). Refused (false) while a scan pass runs.
    bool replaceMailbox(std::unique_ptr<Pop3Mailbox> standIn);
    // The OAuth 2.0 tokens of the accounts that sign in with it (FreePOP1 gets its access tokens
    // there; the Add Account dialog stores a sign-in there).
    OAuthTokens& oauthTokens() { return *m_oauthTokens; }
    // True while a scan pass runs; a scan request then is ignored.
    bool isScanRunning() const { return m_scanRunning; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildStatistics();
    void buildTabs();
    void buildButtons();
    void connectHandlers();
    // Creates FreePOP1 with the trust settings of the program folder (with the scan handlers).
    void createPop3Component();

    QString m_programFolder;
    frmSplash* m_splash = nullptr;
    EditingDialogs* m_editingDialogs = nullptr;
    // Shared rather than unique only so that this window's code needs no definition of the
    // mailbox: its deleter is made where the stand-in is put in place. It has no other owner.
    std::shared_ptr<Pop3Mailbox> m_standInMailbox;
    std::shared_ptr<OAuthTokens> m_oauthTokens;
    bool m_scanRunning = false;
    bool m_nextLoadHidden = false;
    friend void module_scan(frmMain& form);
};
