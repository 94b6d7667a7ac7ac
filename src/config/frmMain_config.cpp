// The main window's configuration: the load procedure (run at start-up and again by Reload), the
// Update and Reload buttons, and the "Start Corvanta when I log in" box. The box's state lives in
// the session's autostart entry, so that the desktop's own start-up settings and this box agree.
#include "app/doevents.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "app/module_griddisplay.h"
#include "app/msgbox.h"
#include "app/ubGrid.h"
#include "config/autostart.h"
#include "config/listloaders.h"
#include "config/module_update_config.h"
#include "config/modules_settings.h"
#include "config/statsio.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTextBrowser>

#include <utility>

void frmMain::Form_Load() {
    SSTab1->setCurrentIndex(0);
    Label17->setText(QStringLiteral("Corvanta - Simple and effective anti-spam protection."));
    // The notice of a pass whose counters were not saved goes with the text it belonged to.
    Label17->setToolTip(QString());
    DoEvents();
    splash().label->setText(QStringLiteral("Now Loading. Please wait."));

    readStatsFile(*this);
    readStartupSetting();

    // A start into the tray loads everything without a window coming up.
    if (!std::exchange(m_nextLoadHidden, false)) {
        show();
        splash().show();
        splash().raise();
    }
    DoEvents();

    const QUrl help = QUrl::fromLocalFile(pathInFolder(QStringLiteral("index.html")));
    if (webhelpbrowser->source() == help)
        webhelpbrowser->reload();
    else
        webhelpbrowser->setSource(help);

    DoEvents();
    module_accountsgrid(*this);
    DoEvents();
    module_whitelist(*this);
    DoEvents();
    module_blacklist(*this);
    DoEvents();
    module_keywords(*this);

    splash().hide();
    module_griddisplay(*this);
    modules_settings(*this);
    DoEvents();
}

void frmMain::cmdupdateconfig_Click() {
    module_update_config(*this);
    module_griddisplay(*this);
}

void frmMain::cmdreloadconfig_Click() {
    for (QLineEdit* box : {txtAccountsCount, txtblacklistCount, txtEmailsAllowedCount,
                           txtEmailsBlockedCount, txtkeywordsCount, txtwhitelistCount})
        box->setText(QStringLiteral("0"));
    for (ubGrid* grid : {gridAccounts, gridblacklist, gridkeywords, gridwhitelist})
        grid->clearrows();
    module_griddisplay(*this);
    Form_Load();
    module_griddisplay(*this);
}

void frmMain::readStartupSetting() {
    checkstartup->setChecked(autostart::isEnabled(autostart::programIn(m_programFolder)));
}

void frmMain::checkstartup_Click() {
    const QString program = autostart::programIn(m_programFolder);
    QString reason;
    const bool wanted = checkstartup->isChecked();
    const bool done =
        wanted ? autostart::enable(program, &reason) : autostart::disable(program, &reason);
    if (done)
        return;
    // The box shows what the session will do, not what was asked for.
    readStartupSetting();
    const QString what =
        wanted ? QStringLiteral("Corvanta could not be set to start when you log in.")
               : QStringLiteral("Corvanta could not be kept from starting when you log in.");
    MsgBox(what + QString::fromLatin1(kCrLf) + reason);
}
