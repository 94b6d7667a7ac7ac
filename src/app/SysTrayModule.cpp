#include "app/SysTrayModule.h"

#include <QSystemTrayIcon>

namespace SysTrayModule {
namespace {
TrayRecord& theRecord()
{
    static TrayRecord record;
    return record;
}

QSystemTrayIcon*& trayIcon()
{
    static QSystemTrayIcon* icon = nullptr;
    return icon;
}

bool& added()
{
    static bool value = false;
    return value;
}
} // namespace

void addIcon(QWidget* owner, const QString& tip, const QIcon& icon)
{
    TrayRecord& rec = theRecord();
    rec.owner = owner;
    rec.identifier = 1;
    rec.tip = tip;
    rec.icon = icon;
    added() = true;
    if (!QSystemTrayIcon::isSystemTrayAvailable())
        return;
    if (!trayIcon())
        trayIcon() = new QSystemTrayIcon();
    trayIcon()->setIcon(rec.icon);
    trayIcon()->setToolTip(rec.tip);
    trayIcon()->show();
}

void removeIcon()
{
    added() = false;
    if (trayIcon())
        trayIcon()->hide();
}

const TrayRecord& record()
{
    return theRecord();
}

bool isAdded()
{
    return added();
}

} // namespace SysTrayModule
