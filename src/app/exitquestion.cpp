#include "app/exitquestion.h"

#include "app/SysTrayModule.h"
#include "app/endprogram.h"
#include "app/msgbox.h"

bool exitQuestion() {
    const MsgBoxAnswer answer =
        MsgBox(QStringLiteral("Click OK to exit this application.") + QLatin1String(kCrLf) +
                   QStringLiteral("Click CANCEL to keep it running in the system tray."),
               MsgBoxButtons::OkCancel, QStringLiteral("Exit application?"));
    if (answer != MsgBoxAnswer::Ok)
        return false;
    SysTrayModule::removeIcon();
    EndProgram();
    return true;
}
