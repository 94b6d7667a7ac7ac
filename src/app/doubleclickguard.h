#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QPoint>
#include <QPointer>

class QWidget;

// Keeps a pop-up menu that a click on the tray icon opened from closing on the second half of a
// double click. The menu opens on the first press; the second press lands on the icon, outside
// the menu (or on its edge), where it would close the menu at once or pick the item under it.
// For as long as the desktop's double-click time runs from the opening click, the menu ignores
// presses and releases within the double-click distance of where that click was; every other
// click acts on the menu as usual. Works while it exists.
class DoubleClickGuard : public QObject {
public:
    DoubleClickGuard(QWidget* menu, const QPoint& clickAt);
    ~DoubleClickGuard() override;
    DoubleClickGuard(const DoubleClickGuard&) = delete;
    DoubleClickGuard& operator=(const DoubleClickGuard&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_menu;
    QPoint m_clickAt;
    QElapsedTimer m_since;
    int m_interval;
    int m_distance;
};
