#pragma once

#include <QtGlobal>

#include <chrono>
#include <limits>

class QEventLoop;

// A moment on an EventLoopWait's clock, in milliseconds, or never.
class WaitDeadline {
public:
    WaitDeadline() = default; // never
    static WaitDeadline never() { return WaitDeadline(); }
    static WaitDeadline at(qint64 ms) { return WaitDeadline(ms); }
    bool isNever() const { return m_ms == std::numeric_limits<qint64>::max(); }
    qint64 ms() const { return m_ms; }

private:
    explicit WaitDeadline(qint64 ms)
        : m_ms(ms) {}
    qint64 m_ms = std::numeric_limits<qint64>::max();
};

// How the program waits on the window's thread for something that happens elsewhere (a server's
// answer, work on another thread): in a local event loop, so that the window keeps painting and
// its timers keep firing, until wake() is called or a deadline passes. Tests and fuzz targets
// derive from it to run the same code on a simulated clock.
class EventLoopWait {
public:
    EventLoopWait() = default;
    virtual ~EventLoopWait();
    EventLoopWait(const EventLoopWait&) = delete;
    EventLoopWait& operator=(const EventLoopWait&) = delete;

    // Milliseconds on a steady clock.
    virtual qint64 now() const;
    // Handles events until wake() or the deadline. False when neither ended the wait: the
    // program is quitting.
    virtual bool wait(WaitDeadline deadline);
    // The same while work on another thread of this program is awaited: such work takes no time
    // on a simulated clock.
    virtual bool waitForLocalWork(WaitDeadline deadline) { return wait(deadline); }
    // Ends the wait under way; from the window's thread.
    void wake();

    WaitDeadline after(std::chrono::milliseconds span) const;
    bool hasExpired(WaitDeadline deadline) const;

protected:
    // Set by wake(); a derived wait clears it when it begins and reads it when it ends.
    bool m_woken = false;

private:
    QEventLoop* m_loop = nullptr;
};
