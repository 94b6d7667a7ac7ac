#include "app/doubleclickguard.h"

#include <QGuiApplication>
#include <QMouseEvent>
#include <QStyleHints>
#include <QWidget>

DoubleClickGuard::DoubleClickGuard(QWidget* menu, const QPoint& clickAt)
    : m_menu(menu)
    , m_clickAt(clickAt)
    , m_interval(QGuiApplication::styleHints()->mouseDoubleClickInterval())
    , m_distance(QGuiApplication::styleHints()->mouseDoubleClickDistance()) {
    m_since.start();
    if (m_menu)
        m_menu->installEventFilter(this);
}

DoubleClickGuard::~DoubleClickGuard() {
    if (m_menu)
        m_menu->removeEventFilter(this);
}

bool DoubleClickGuard::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseButtonRelease: {
        if (m_since.hasExpired(m_interval))
            break;
        const QPoint at = static_cast<QMouseEvent*>(event)->globalPosition().toPoint();
        if ((at - m_clickAt).manhattanLength() <= m_distance)
            return true;
        break;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}
