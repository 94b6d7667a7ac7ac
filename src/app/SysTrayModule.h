#pragma once

#include <QEvent>
#include <QIcon>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

#include <functional>

class QWidget;

// The program's icon in the system tray. One record serves the whole run: adding fills it and
// shows the icon, removing takes away the icon that was last added. Failures are ignored: on a
// desktop without a tray the record is still filled and the program runs on without an icon,
// which appears should a tray turn up later.
//
// Every mouse event over the icon reaches the record's owner window as a TrayNotifyEvent that
// carries the number of the mouse message, so the owner decides what a click means.
namespace SysTrayModule {

// The icon's identifier within its owner; one icon per program.
inline constexpr unsigned kIdentifier = 1;
// The tip field holds 64 characters with its terminator; longer tips are cut.
inline constexpr int kMaxTipLength = 63;

// Mouse messages a notification carries, by their usual numbers.
inline constexpr int kMouseMove = 512;
inline constexpr int kLeftButtonDown = 513;
inline constexpr int kLeftButtonUp = 514;
inline constexpr int kLeftButtonDoubleClick = 515;
inline constexpr int kRightButtonDown = 516;
inline constexpr int kRightButtonUp = 517;
inline constexpr int kMiddleButtonDown = 519;

struct TrayRecord {
    QPointer<QWidget> owner; // cleared by itself when the owner window goes away
    unsigned identifier = 0;
    QString tip;
    QIcon icon;
};

void addIcon(QWidget* owner, const QString& tip, const QIcon& icon);
void removeIcon();

// The record as last filled, and whether the icon is currently added (whether or not the
// desktop has a tray to show it in).
const TrayRecord& record();
bool isAdded();
// Whether an icon is actually on show in the desktop's tray.
bool isShown();
// Whether the desktop has a tray to show the icon in.
bool isTrayAvailable();
// Lets a test decide whether there is a tray. An empty function asks the desktop again.
void setTrayAvailability(std::function<bool()> available);

// The mouse message that stands for a way the tray icon was activated: a single click is the
// left button going down, a double click its double-click message, the context request the
// right button going down, a middle click the middle button going down. 0 when there is none.
int mouseMessageFor(QSystemTrayIcon::ActivationReason reason);

// Hands a mouse message to the record's owner, as the icon does for each activation. The event
// is posted, so it arrives after the tray's own event handling has finished. Nothing happens
// when no owner is set or the owner is gone.
void notifyOwner(int mouseMessage);

// The event in which a notification arrives at the owner window.
class TrayNotifyEvent : public QEvent {
public:
    explicit TrayNotifyEvent(int mouseMessage);
    int mouseMessage() const { return m_mouseMessage; }
    static QEvent::Type eventType();

private:
    int m_mouseMessage;
};

// A notification beside the tray icon (a balloon, or the desktop's notification), for news the
// user should see without a box in the way. Shown only while the icon is added; where the
// desktop has no tray it goes unseen, as the icon does.
enum class MessageKind { Information, Warning };
void showMessage(const QString& title, const QString& text, MessageKind kind);

// Lets a test watch every notification asked for, whether or not a tray shows it. An empty
// function removes the observer.
using MessageObserver =
    std::function<void(const QString& title, const QString& text, MessageKind kind)>;
void setMessageObserver(MessageObserver observer);

// Lets a test watch each add and remove as it happens: the observer is called after the record
// has been updated, with added true for an add. An empty function removes the observer.
using TrayObserver = std::function<void(const TrayRecord& record, bool added)>;
void setTrayObserver(TrayObserver observer);

} // namespace SysTrayModule
