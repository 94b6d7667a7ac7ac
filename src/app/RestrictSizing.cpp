#include "app/RestrictSizing.h"

#include <QCursor>
#include <QPoint>

namespace RestrictSizing {

QPoint cursorPosition() {
    return QCursor::pos();
}

} // namespace RestrictSizing
