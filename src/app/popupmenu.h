#pragma once

#include <functional>

class QAction;
class QMenu;
class QPoint;

// Pops a menu up at a point on the screen and waits until it closes; the item the user chose
// has run its handler by the time the call returns.
void PopupMenu(QMenu* menu, const QPoint& at);

// Replaces the real pop-up, so a test can see that a menu would pop up, where, and pick an item
// without a menu loop. The handler returns the item to choose (nullptr: the menu was dismissed);
// the chosen item is then triggered as a click on it would. An empty function restores the real
// pop-up.
using PopupMenuHandler = std::function<QAction*(QMenu* menu, const QPoint& at)>;
void setPopupMenuHandler(PopupMenuHandler handler);
