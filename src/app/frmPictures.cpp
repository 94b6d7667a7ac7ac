#include "app/frmPictures.h"

#include "app/twips.h"

#include <QLabel>
#include <QPixmap>

frmPictures::frmPictures(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("frmPictures"));
    Picture1 = new QLabel(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    Picture1->setGeometry(twipsRect(0, 0, 375, 375));
    Picture1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Picture1->setPixmap(QPixmap(QStringLiteral(":/menucheck.bmp")));
}
