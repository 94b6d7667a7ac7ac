#pragma once

#include <QWidget>

class QLabel;

// The small borderless window shown while the lists load and while the configuration is saved.
class frmSplash : public QWidget {
    Q_OBJECT
public:
    explicit frmSplash(QWidget* parent = nullptr);

    QLabel* Label1;
    QLabel* label; // the progress line
};
