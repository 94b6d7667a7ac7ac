#pragma once

#include "scan/eventloopwait.h"
#include "scan/pop3/pop3transport.h"

#include <QByteArray>
#include <QPointer>

#include <functional>
#include <map>
#include <memory>

// A network in memory on a simulated clock, for protocol tests and fuzz targets that play the
// mail server: nothing waits for real time, so a server that never answers costs a time-out of
// the simulated clock only, and a run is the same every time.
//
// Time moves only when the client waits: SimulatedWait runs the next thing due on the network (a
// delivery to the client, a close) or, when nothing is due before the deadline, jumps to it.

// The clock and what is due on it.
class SimulatedNetwork {
public:
    qint64 now() const { return m_now; }
    // Runs action at the given time (not before now); actions due at the same time run in the
    // order they were added.
    void at(qint64 time, std::function<void()> action);
    // Runs the earliest action due no later than deadline, moving the clock to it. False when
    // there is none.
    bool runNext(WaitDeadline deadline);
    // Moves the clock to the deadline.
    void advanceTo(WaitDeadline deadline);
    bool idle() const { return m_due.empty(); }

private:
    qint64 m_now = 0;
    quint64 m_order = 0;
    std::map<std::pair<qint64, quint64>, std::function<void()>> m_due;
};

// The client's wait on the simulated clock.
class SimulatedWait : public EventLoopWait {
public:
    explicit SimulatedWait(SimulatedNetwork& network)
        : m_network(network) {}

    qint64 now() const override { return m_network.now(); }
    // Handles the program's own pending events, then runs what is next due on the network, or
    // moves the clock to the deadline. A wait without a deadline with nothing due would never
    // end: hung() tells, and the wait returns false as if the program were quitting.
    bool wait(WaitDeadline deadline) override;
    // Work of the program's own threads takes no simulated time: waits for real events.
    bool waitForLocalWork(WaitDeadline deadline) override;
    bool hung() const { return m_hung; }

private:
    SimulatedNetwork& m_network;
    bool m_hung = false;
};

class MemoryTransport;

// The server side of memory connections.
class MemoryServer {
public:
    virtual ~MemoryServer() = default;
    // A client connected through transport; the server greets it through transport's server end.
    virtual void connected(MemoryTransport& transport) = 0;
    // The client wrote these bytes.
    virtual void received(MemoryTransport& transport, const QByteArray& bytes) = 0;
    // The client dropped the connection.
    virtual void aborted(MemoryTransport& transport) = 0;
};

// A connection in memory between the client and a MemoryServer. No TLS is spoken: an address
// with implicit TLS ("pop3s://") counts as encrypted from the first byte, since nobody is on the
// way in memory, so that the log-ins that go over TLS only can be played; STLS is never offered.
class MemoryTransport : public Pop3Transport {
    Q_OBJECT
public:
    MemoryTransport(SimulatedNetwork& network, MemoryServer& server);

    void open(const ServerAddress& address) override;
    bool startTls() override { return false; }
    void write(const QByteArray& bytes) override;
    QByteArray read() override;
    void abort() override;
    bool isEncrypted() const override { return m_implicitTls; }
    TlsFault tlsFault() const override;

    // The server end: bytes that reach the client at a time of the clock, in the order sent; and
    // the connection closed from the server's side once what was sent before has arrived.
    void deliver(const QByteArray& bytes, qint64 at);
    void closeAt(qint64 at, const QString& reason);
    bool isOpen() const { return m_open; }

    // A transport factory for FreePOP: every connection goes to server.
    static std::function<std::unique_ptr<Pop3Transport>(const TrustedCertificates&)>
    factory(SimulatedNetwork& network, MemoryServer& server);

private:
    SimulatedNetwork& m_network;
    MemoryServer& m_server;
    QByteArray m_inbox;
    bool m_open = false;
    bool m_implicitTls = false;
    qint64 m_lastArrival = 0; // bytes never overtake bytes sent before them
    // Actions on the network outlive a transport the client let go of.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
};
