#include "app/SysTrayModule.h"

#include <QCoreApplication>
#include <QWidget>

namespace SysTrayModule {
namespace {
TrayRecord& theRecord() {
    static TrayRecord record;
    return record;
}

// The platform's icon: made on the first add that finds a tray, kept for the whole run.
QSystemTrayIcon*& trayIcon() {
    static QSystemTrayIcon* icon = nullptr;
    return icon;
}

bool& added() {
    static bool value = false;
    return value;
}

TrayObserver& observerSlot() {
    static TrayObserver observer;
    return observer;
}

std::function<bool()>& availabilitySlot() {
    static std::function<bool()> available;
    return available;
}

MessageObserver& messageObserverSlot() {
    static MessageObserver observer;
    return observer;
}

void tellObserver(bool isAdd) {
    if (const TrayObserver& observer = observerSlot())
        observer(theRecord(), isAdd);
}

QSystemTrayIcon* makeTrayIcon() {
    auto* icon = new QSystemTrayIcon();
    QObject::connect(icon, &QSystemTrayIcon::activated,
                     [](QSystemTrayIcon::ActivationReason reason) {
                         if (const int message = mouseMessageFor(reason))
                             notifyOwner(message);
                     });
    return icon;
}
} // namespace

void addIcon(QWidget* owner, const QString& tip, const QIcon& icon) {
    TrayRecord& rec = theRecord();
    rec.owner = owner;
    rec.identifier = kIdentifier;
    rec.tip = tip.left(kMaxTipLength);
    rec.icon = icon;
    added() = true;
    // The icon is made even when the desktop has no tray at this moment: a panel that starts
    // after the program (as it may at log-in) still receives it. Until then the program simply
    // runs on without one.
    if (!trayIcon())
        trayIcon() = makeTrayIcon();
    trayIcon()->setIcon(rec.icon);
    trayIcon()->setToolTip(rec.tip);
    trayIcon()->show();
    tellObserver(true);
}

void removeIcon() {
    added() = false;
    if (trayIcon())
        trayIcon()->hide();
    tellObserver(false);
}

const TrayRecord& record() {
    return theRecord();
}

bool isAdded() {
    return added();
}

bool isShown() {
    return trayIcon() && trayIcon()->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

bool isTrayAvailable() {
    if (const std::function<bool()>& available = availabilitySlot())
        return available();
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void setTrayAvailability(std::function<bool()> available) {
    availabilitySlot() = std::move(available);
}

int mouseMessageFor(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
    case QSystemTrayIcon::Trigger:
        return kLeftButtonDown;
    case QSystemTrayIcon::DoubleClick:
        return kLeftButtonDoubleClick;
    case QSystemTrayIcon::Context:
        return kRightButtonDown;
    case QSystemTrayIcon::MiddleClick:
        return kMiddleButtonDown;
    case QSystemTrayIcon::Unknown:
        break;
    }
    return 0;
}

void notifyOwner(int mouseMessage) {
    if (QWidget* owner = theRecord().owner)
        QCoreApplication::postEvent(owner, new TrayNotifyEvent(mouseMessage));
}

TrayNotifyEvent::TrayNotifyEvent(int mouseMessage)
    : QEvent(eventType())
    , m_mouseMessage(mouseMessage) {}

QEvent::Type TrayNotifyEvent::eventType() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

void showMessage(const QString& title, const QString& text, MessageKind kind) {
    if (const MessageObserver& observer = messageObserverSlot())
        observer(title, text, kind);
    if (added() && trayIcon())
        trayIcon()->showMessage(title, text,
                                kind == MessageKind::Warning ? QSystemTrayIcon::Warning
                                                             : QSystemTrayIcon::Information);
}

void setMessageObserver(MessageObserver observer) {
    messageObserverSlot() = std::move(observer);
}

void setTrayObserver(TrayObserver observer) {
    observerSlot() = std::move(observer);
}

} // namespace SysTrayModule
