#include "app/modal.h"

#include <QDialog>
#include <QEvent>
#include <QEventLoop>
#include <QPointer>
#include <QWidget>

namespace {
ModalHandler& handlerSlot() {
    static ModalHandler handler;
    return handler;
}

// Ends a local event loop when the watched widget is hidden or destroyed.
class HideWatcher : public QObject {
public:
    HideWatcher(QWidget* widget, QEventLoop* loop)
        : m_loop(loop) {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide)
            m_loop->quit();
        return QObject::eventFilter(watched, event);
    }

private:
    QEventLoop* m_loop;
};
} // namespace

void ShowModal(QWidget* dialog) {
    if (!dialog)
        return;
    if (const ModalHandler& handler = handlerSlot()) {
        QPointer<QWidget> guard(dialog);
        dialog->show();
        handler(dialog);
        if (guard && guard->isVisible())
            guard->hide();
        return;
    }
    if (auto* qdialog = qobject_cast<QDialog*>(dialog)) {
        qdialog->exec();
        return;
    }
    QPointer<QWidget> guard(dialog);
    QEventLoop loop;
    HideWatcher watcher(dialog, &loop);
    QObject::connect(dialog, &QObject::destroyed, &loop, &QEventLoop::quit);
    const Qt::WindowModality previous = dialog->windowModality();
    dialog->setWindowModality(Qt::ApplicationModal);
    dialog->show();
    loop.exec(QEventLoop::DialogExec);
    if (guard)
        guard->setWindowModality(previous);
}

void setModalHandler(ModalHandler handler) {
    handlerSlot() = std::move(handler);
}
