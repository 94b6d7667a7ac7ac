#include "app/popupmenu.h"

#include <QAction>
#include <QMenu>
#include <QPoint>

namespace {
PopupMenuHandler& handlerSlot() {
    static PopupMenuHandler handler;
    return handler;
}
} // namespace

void PopupMenu(QMenu* menu, const QPoint& at) {
    if (!menu)
        return;
    if (const PopupMenuHandler& handler = handlerSlot()) {
        if (QAction* chosen = handler(menu, at))
            chosen->trigger();
        return;
    }
    menu->exec(at);
}

void setPopupMenuHandler(PopupMenuHandler handler) {
    handlerSlot() = std::move(handler);
}
