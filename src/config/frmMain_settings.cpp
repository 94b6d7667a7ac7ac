// The main window's "Start Corvanta when I log in" box. Its state lives in the session's
// autostart entry, so that the desktop's own start-up settings and this box agree.
#include "app/frmMain.h"
#include "app/msgbox.h"
#include "config/autostart.h"

#include <QCheckBox>

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
