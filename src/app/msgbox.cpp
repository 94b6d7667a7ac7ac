#include "app/msgbox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {
MsgBoxHandler& handlerSlot() {
    static MsgBoxHandler handler;
    return handler;
}

MsgBoxAnswer showRealBox(const MsgBoxRequest& request) {
    QMessageBox box(QMessageBox::NoIcon, request.title, request.text, QMessageBox::NoButton,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    switch (request.buttons) {
    case MsgBoxButtons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Ok);
        break;
    case MsgBoxButtons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setDefaultButton(QMessageBox::Ok);
        box.setEscapeButton(QMessageBox::Cancel);
        break;
    case MsgBoxButtons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Cancel:
        return MsgBoxAnswer::Cancel;
    case QMessageBox::Yes:
        return MsgBoxAnswer::Yes;
    case QMessageBox::No:
        return MsgBoxAnswer::No;
    default:
        return MsgBoxAnswer::Ok;
    }
}
} // namespace

QString appTitle() {
    return QStringLiteral("Corvanta");
}

MsgBoxAnswer MsgBox(const QString& text, MsgBoxButtons buttons, const QString& title) {
    const MsgBoxRequest request{text, title.isEmpty() ? appTitle() : title, buttons};
    if (const MsgBoxHandler& handler = handlerSlot())
        return handler(request);
    return showRealBox(request);
}

void setMsgBoxHandler(MsgBoxHandler handler) {
    handlerSlot() = std::move(handler);
}
