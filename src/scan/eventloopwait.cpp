#include "scan/eventloopwait.h"

#include <QEventLoop>
#include <QTimer>

EventLoopWait::~EventLoopWait() = default;

qint64 EventLoopWait::now() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool EventLoopWait::wait(WaitDeadline deadline) {
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, [this, &loop] {
        m_woken = true;
        loop.quit();
    });
    if (!deadline.isNever())
        timer.start(std::chrono::milliseconds(qMax<qint64>(0, deadline.ms() - now())));
    m_woken = false;
    QEventLoop* const outer = std::exchange(m_loop, &loop);
    loop.exec();
    m_loop = outer;
    // The loop also ends when the application quits; then nothing of ours woke it.
    return m_woken;
}

void EventLoopWait::wake() {
    m_woken = true;
    if (m_loop)
        m_loop->quit();
}

WaitDeadline EventLoopWait::after(std::chrono::milliseconds span) const {
    return WaitDeadline::at(now() + span.count());
}

bool EventLoopWait::hasExpired(WaitDeadline deadline) const {
    return !deadline.isNever() && now() >= deadline.ms();
}
