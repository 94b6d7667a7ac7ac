#include "app/windowfont.h"

#include <QFont>
#include <QWidget>

QFont windowFont() {
    // DejaVu Sans comes with Debian (fonts-dejavu-core); where it is missing, the desktop's
    // sans-serif face of the same pixel size stands in.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(12);
    return font;
}

void useWindowFont(QWidget* window) {
    window->setFont(windowFont());
}
