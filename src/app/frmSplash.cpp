#include "app/frmSplash.h"

#include "app/twips.h"
#include "app/windowfont.h"

#include <QGuiApplication>
#include <QLabel>
#include <QScreen>

frmSplash::frmSplash(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setWindowTitle(QStringLiteral(" Now Loading"));
    setFixedSize(twips(4800), twips(1935));
    useWindowFont(this);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    pal.setColor(QPalette::WindowText, QColor(0x1f, 0x2a, 0x44));
    setPalette(pal);
    setStyleSheet(QStringLiteral("frmSplash { border: 1px solid #7a869a; }"));

    Label1 = new QLabel(QStringLiteral("Corvanta"), this);
    QFont titleFont = Label1->font();
    titleFont.setPixelSize(titleFont.pixelSize() * 2);
    titleFont.setBold(true);
    Label1->setFont(titleFont);
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setGeometry(0, twips(300), width(), twips(600));

    label = new QLabel(QStringLiteral("Loading... Please wait."), this);
    label->setTextFormat(Qt::PlainText);
    label->setAlignment(Qt::AlignCenter);
    label->setGeometry(0, twips(1080), width(), twips(400));

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}
