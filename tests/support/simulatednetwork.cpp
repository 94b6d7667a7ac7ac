#include "support/simulatednetwork.h"

#include "scan/pop3/serveraddress.h"
#include "scan/pop3/tlstrust.h"

#include <QCoreApplication>
#include <QEventLoop>

void SimulatedNetwork::at(qint64 time, std::function<void()> action) {
    m_due.emplace(std::make_pair(qMax(time, m_now), m_order++), std::move(action));
}

bool SimulatedNetwork::runNext(WaitDeadline deadline) {
    if (m_due.empty() || (!deadline.isNever() && m_due.begin()->first.first > deadline.ms()))
        return false;
    auto next = m_due.begin();
    m_now = next->first.first;
    std::function<void()> action = std::move(next->second);
    m_due.erase(next);
    action();
    return true;
}

void SimulatedNetwork::advanceTo(WaitDeadline deadline) {
    if (!deadline.isNever())
        m_now = qMax(m_now, deadline.ms());
}

bool SimulatedWait::wait(WaitDeadline deadline) {
    m_woken = false;
    QCoreApplication::processEvents();
    if (m_woken)
        return true;
    if (m_network.runNext(deadline))
        return true;
    if (deadline.isNever()) {
        m_hung = true;
        return false;
    }
    m_network.advanceTo(deadline);
    return true;
}

bool SimulatedWait::waitForLocalWork(WaitDeadline) {
    m_woken = false;
    while (!m_woken)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return true;
}

MemoryTransport::MemoryTransport(SimulatedNetwork& network, MemoryServer& server)
    : m_network(network)
    , m_server(server) {}

void MemoryTransport::open(const ServerAddress& address) {
    m_open = true;
    m_implicitTls = address.implicitTls;
    m_lastArrival = m_network.now();
    const std::weak_ptr<bool> alive = m_alive;
    // Reported from the network, never from inside the call.
    m_network.at(m_network.now(), [this, alive] {
        if (alive.expired() || !m_open)
            return;
        Q_EMIT opened();
        m_server.connected(*this);
    });
}

void MemoryTransport::write(const QByteArray& bytes) {
    if (m_open)
        m_server.received(*this, bytes);
}

QByteArray MemoryTransport::read() {
    return std::exchange(m_inbox, QByteArray());
}

void MemoryTransport::abort() {
    if (!m_open)
        return;
    m_open = false;
    m_server.aborted(*this);
}

TlsFault MemoryTransport::tlsFault() const {
    return TlsFault::None;
}

void MemoryTransport::deliver(const QByteArray& bytes, qint64 at) {
    m_lastArrival = qMax(m_lastArrival, at);
    const std::weak_ptr<bool> alive = m_alive;
    m_network.at(m_lastArrival, [this, alive, bytes] {
        if (alive.expired() || !m_open)
            return;
        m_inbox += bytes;
        Q_EMIT readyRead();
    });
}

void MemoryTransport::closeAt(qint64 at, const QString& reason) {
    m_lastArrival = qMax(m_lastArrival, at);
    const std::weak_ptr<bool> alive = m_alive;
    m_network.at(m_lastArrival, [this, alive, reason] {
        if (alive.expired() || !m_open)
            return;
        m_open = false;
        Q_EMIT closed(reason);
    });
}

std::function<std::unique_ptr<Pop3Transport>(const TrustedCertificates&)>
MemoryTransport::factory(SimulatedNetwork& network, MemoryServer& server) {
    return [&network, &server](const TrustedCertificates&) {
        return std::make_unique<MemoryTransport>(network, server);
    };
}
