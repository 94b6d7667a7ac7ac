#include "app/doevents.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace {
// Long enough that an idle yield costs nothing measurable per item, short enough to stay far
// below what the eye notices as a stall.
constexpr qint64 kYieldIntervalMs = 8;

QElapsedTimer& lastYield() {
    static QElapsedTimer timer;
    return timer;
}
} // namespace

void DoEvents() {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    lastYield().start();
}

bool isYieldDue() {
    const QElapsedTimer& timer = lastYield();
    return !timer.isValid() || timer.elapsed() >= kYieldIntervalMs;
}

void DoEventsIfDue() {
    if (isYieldDue())
        DoEvents();
}
