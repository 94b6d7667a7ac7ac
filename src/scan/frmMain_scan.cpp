// The main window's scan requests: the "Scan now" button (also reached from the tray menu), the
// automatic-scanning box and its minute timer; and the POP3 component the scan pass works with.
#include "app/doevents.h"
#include "app/frmMain.h"
#include "config/checkvalue.h"
#include "config/datafilenames.h"
#include "scan/counters.h"
#include "scan/oauth/oauthtokens.h"
#include "scan/module_scan.h"
#include "scan/pop3/FreePOP.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>

void frmMain::createPop3Component() {
    FreePOP1 = new FreePOP(this);
    // Certificates the user placed here are trusted for encrypted mail servers.
    FreePOP1->setTrustedCertificatesFolder(pathInFolder(QStringLiteral("certificates")));
    // Servers met encrypted are remembered here, so that a later offer without STLS is refused.
    FreePOP1->setTlsMemoryFile(pathInFolder(datafile::tlsServers()));
    // Accounts that sign in with OAuth 2.0 get their access tokens from the refresh tokens here.
    m_oauthTokens = std::make_shared<OAuthTokens>(pathInFolder(datafile::oauthSettings()),
                                                  pathInFolder(datafile::oauthTokens()));
    FreePOP1->setTokenSource(m_oauthTokens);
}

Pop3Mailbox& frmMain::mailbox() {
    if (m_standInMailbox)
        return *m_standInMailbox;
    return *FreePOP1;
}

bool frmMain::replaceMailbox(std::unique_ptr<Pop3Mailbox> standIn) {
    // A running pass holds on to the mailbox it started with.
    if (!standIn || m_scanRunning)
        return false;
    m_standInMailbox = std::move(standIn);
    return true;
}

void frmMain::cmdscannow_Click() {
    // A manual pass leaves the minute counter alone.
    module_scan(*this);
}

void frmMain::checkautoscan_Click() {
    if (checkValue(checkautoscan) == 1) {
        Timer1->start();
        Timer1_Timer();
    } else {
        // The minute counter keeps its value: ticking again counts on from it.
        Timer1->stop();
    }
}

void frmMain::Timer1_Timer() {
    DoEvents();
    const MinuteTick tick = minuteTick(txtTimer->text(), combominutes->currentText());
    if (!tick.runPass) {
        DoEvents();
        txtTimer->setText(tick.counter);
        return;
    }
    txtTimer->setText(tick.counter);
    DoEvents();
    module_scan(*this);
}
