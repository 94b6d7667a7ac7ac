#pragma once

#include <QWidget>

class QLabel;

// A form that is never shown: it only holds the pictures other forms put on their menus.
class frmPictures : public QWidget {
    Q_OBJECT
public:
    explicit frmPictures(QWidget* parent = nullptr);

    QLabel* Picture1; // the tray menu's check mark, 17 x 15 pixels
};
