#pragma once

#include <QIcon>
#include <QString>

class QWidget;

// The program's icon in the system tray. One record serves the whole run: adding fills it and
// shows the icon, removing takes away the icon that was last added. Failures are ignored: on a
// desktop without a tray the program runs on without an icon.
namespace SysTrayModule {

struct TrayRecord {
    QWidget* owner = nullptr;
    unsigned identifier = 0;
    QString tip;
    QIcon icon;
};

void addIcon(QWidget* owner, const QString& tip, const QIcon& icon);
void removeIcon();

// The record as last filled, and whether the icon is currently added.
const TrayRecord& record();
bool isAdded();

} // namespace SysTrayModule
