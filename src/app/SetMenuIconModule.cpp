#include "app/SetMenuIconModule.h"

#include <QAction>
#include <QIcon>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>

namespace SetMenuIconModule {
namespace {
// The window's menu bar: the main window's menu widget, or a bar placed directly in the window.
QMenuBar* menuBarOf(QWidget* window) {
    if (!window)
        return nullptr;
    if (auto* main = qobject_cast<QMainWindow*>(window))
        return qobject_cast<QMenuBar*>(main->menuWidget());
    return window->findChild<QMenuBar*>(QString(), Qt::FindDirectChildrenOnly);
}

template <typename T>
T* at(const QList<T*>& list, int position) {
    return position >= 0 && position < list.size() ? list.at(position) : nullptr;
}
} // namespace

int setMenuItemBitmaps(QWidget* window, int subMenuPosition, int itemPosition, unsigned flags,
                       const QPixmap& uncheckedBitmap, const QPixmap& checkedBitmap) {
    QMenuBar* bar = menuBarOf(window);
    if (!bar)
        return 0;
    const QAction* subMenuItem = at(bar->actions(), subMenuPosition);
    QMenu* subMenu = subMenuItem ? subMenuItem->menu() : nullptr;
    if (!subMenu)
        return 0;
    QAction* item = at(subMenu->actions(), itemPosition);
    if (!item || item->isSeparator() || item->menu())
        return 0;
    if (flags != kByCommand)
        return 0;

    QIcon icon;
    if (!uncheckedBitmap.isNull())
        icon.addPixmap(uncheckedBitmap, QIcon::Normal, QIcon::Off);
    if (!checkedBitmap.isNull())
        icon.addPixmap(checkedBitmap, QIcon::Normal, QIcon::On);
    item->setIcon(icon);
    return 1;
}

} // namespace SetMenuIconModule
