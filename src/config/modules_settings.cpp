#include "config/modules_settings.h"

#include "app/frmMain.h"

#include <QComboBox>

void modules_settings(frmMain& form) {
    QComboBox* combo = form.combominutes;
    // Adding items must not replace what the user typed or what stats.dat set.
    const QString text = combo->currentText();
    for (int minutes = 5; minutes < 60; minutes += 5) {
        const QString item = QString::number(minutes);
        if (combo->findText(item) < 0)
            combo->addItem(item);
    }
    combo->setEditText(text);
}
