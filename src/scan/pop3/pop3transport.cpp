#include "scan/pop3/pop3transport.h"

#include "scan/pop3/serveraddress.h"

#include <QSslSocket>

Pop3Transport::~Pop3Transport() = default;

namespace {

// A plain TCP connection. The socket class is the encrypting one so that implicit TLS and STLS
// can be added here without touching the protocol.
class TcpTransport : public Pop3Transport {
    Q_OBJECT
public:
    TcpTransport();

    void open(const ServerAddress& address) override;
    void write(const QByteArray& bytes) override;
    QByteArray read() override;
    void abort() override;

private:
    void scheduleCloseReport();
    void reportClosed(quint64 generation);

    QSslSocket m_socket;
    quint64 m_generation = 0; // counts connections; reports of an earlier one are dropped
    bool m_closeReported = false;
};

TcpTransport::TcpTransport() {
    connect(&m_socket, &QSslSocket::connected, this, &Pop3Transport::opened);
    connect(&m_socket, &QSslSocket::readyRead, this, &Pop3Transport::readyRead);
    connect(&m_socket, &QSslSocket::disconnected, this, &TcpTransport::scheduleCloseReport);
    connect(&m_socket, &QSslSocket::errorOccurred, this, &TcpTransport::scheduleCloseReport);
}

void TcpTransport::open(const ServerAddress& address) {
    ++m_generation;
    m_closeReported = false;
    m_socket.connectToHost(address.host, address.port);
}

void TcpTransport::write(const QByteArray& bytes) {
    m_socket.write(bytes);
}

QByteArray TcpTransport::read() {
    return m_socket.readAll();
}

void TcpTransport::abort() {
    // Queued reports of the connection being aborted must not reach the owner.
    ++m_generation;
    m_closeReported = true;
    m_socket.abort();
}

void TcpTransport::scheduleCloseReport() {
    // The error text is only final once the socket's state change is over, so the end is
    // reported from the event loop rather than from inside the socket's signal.
    QMetaObject::invokeMethod(
        this, [this, generation = m_generation] { reportClosed(generation); },
        Qt::QueuedConnection);
}

void TcpTransport::reportClosed(quint64 generation) {
    if (generation != m_generation || m_closeReported)
        return;
    // errorOccurred also fires for faults that leave the connection up; only an end counts.
    if (m_socket.state() != QAbstractSocket::UnconnectedState &&
        m_socket.error() != QAbstractSocket::RemoteHostClosedError)
        return;
    m_closeReported = true;
    if (m_socket.bytesAvailable() > 0)
        Q_EMIT readyRead();
    Q_EMIT closed(m_socket.errorString());
}

} // namespace

std::unique_ptr<Pop3Transport> makePop3Transport() {
    return std::make_unique<TcpTransport>();
}

#include "pop3transport.moc"
