#pragma once

#include "scan/eventloopwait.h"

#include <QFuture>
#include <QFutureWatcher>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <utility>

// Work off the window's thread is done one way throughout the program: a function run through
// QtConcurrent on a thread pool (runInBackground), and its QFuture waited for with awaitFuture,
// which keeps the window's events going meanwhile.

template <typename Function>
auto runInBackground(QThreadPool* pool, Function&& work) {
    return QtConcurrent::run(pool, std::forward<Function>(work));
}

// Waits until the future has finished, handling events meanwhile. False when it has not: the
// deadline passed, or the program is quitting. A finished future costs no event loop.
template <typename T>
bool awaitFuture(const QFuture<T>& future, EventLoopWait& waiter,
                 WaitDeadline deadline = WaitDeadline::never()) {
    if (future.isFinished())
        return true;
    QFutureWatcher<T> watcher;
    QObject::connect(&watcher, &QFutureWatcherBase::finished, &watcher,
                     [&waiter] { waiter.wake(); });
    watcher.setFuture(future);
    while (!future.isFinished()) {
        if (waiter.hasExpired(deadline) || !waiter.waitForLocalWork(deadline))
            return future.isFinished();
    }
    return true;
}
