#include "scan/pop3/pop3transport.h"

#include "scan/pop3/serveraddress.h"

#include <QSslConfiguration>
#include <QSslSocket>

Pop3Transport::~Pop3Transport() = default;

namespace {

class SocketTransport : public Pop3Transport {
    Q_OBJECT
public:
    explicit SocketTransport(const TrustedCertificates& trusted);

    void open(const ServerAddress& address) override;
    bool startTls() override;
    void write(const QByteArray& bytes) override;
    QByteArray read() override;
    void abort() override;
    bool isEncrypted() const override { return m_socket.isEncrypted(); }
    TlsFault tlsFault() const override { return m_fault; }

private:
    void onConnected();
    void onEncrypted();
    void onSslErrors(const QList<QSslError>& errors);
    void prepareTls();
    void failWithoutTls();
    void scheduleCloseReport();
    void reportClosed(quint64 generation);

    QSslSocket m_socket;
    TrustedCertificates m_trusted;
    QString m_host;
    bool m_implicitTls = false;
    bool m_handshaking = false;
    TlsFault m_fault = TlsFault::None;
    QString m_faultReason;
    quint64 m_generation = 0; // counts connections; reports of an earlier one are dropped
    bool m_closeReported = false;
};

// What the socket takes in before its reader has taken it over. Unbounded, a fast server would
// have a large message lie in the socket's buffer in big pieces next to the copy being assembled;
// bounded, the rest waits in the system's buffer and the server is held back.
constexpr qint64 kReadBuffer = 1024 * 1024;

SocketTransport::SocketTransport(const TrustedCertificates& trusted)
    : m_trusted(trusted) {
    m_socket.setReadBufferSize(kReadBuffer);
    connect(&m_socket, &QSslSocket::connected, this, &SocketTransport::onConnected);
    connect(&m_socket, &QSslSocket::encrypted, this, &SocketTransport::onEncrypted);
    connect(&m_socket, &QSslSocket::sslErrors, this, &SocketTransport::onSslErrors);
    connect(&m_socket, &QSslSocket::readyRead, this, &Pop3Transport::readyRead);
    connect(&m_socket, &QSslSocket::disconnected, this, &SocketTransport::scheduleCloseReport);
    connect(&m_socket, &QSslSocket::errorOccurred, this, &SocketTransport::scheduleCloseReport);
}

void SocketTransport::open(const ServerAddress& address) {
    ++m_generation;
    m_closeReported = false;
    m_host = address.host;
    m_implicitTls = address.implicitTls;
    m_handshaking = false;
    m_fault = TlsFault::None;
    m_faultReason.clear();
    if (!m_implicitTls) {
        m_socket.connectToHost(address.host, address.port);
        return;
    }
    if (!QSslSocket::supportsSsl()) {
        failWithoutTls();
        return;
    }
    prepareTls();
    // The name the certificate must carry is the one the user entered (for an address, the
    // address itself), whatever it resolves to.
    m_socket.connectToHostEncrypted(address.host, address.port, address.host);
}

bool SocketTransport::startTls() {
    if (m_socket.bytesAvailable() > 0)
        return false;
    if (!QSslSocket::supportsSsl()) {
        failWithoutTls();
        return true;
    }
    prepareTls();
    m_handshaking = true;
    m_socket.setPeerVerifyName(m_host);
    m_socket.startClientEncryption();
    return true;
}

void SocketTransport::write(const QByteArray& bytes) {
    m_socket.write(bytes);
}

QByteArray SocketTransport::read() {
    return m_socket.readAll();
}

void SocketTransport::abort() {
    // Queued reports of the connection being aborted must not reach the owner.
    ++m_generation;
    m_closeReported = true;
    m_socket.abort();
}

void SocketTransport::onConnected() {
    // Commands are small and sent one after the other, several of them before an answer when the
    // server allows it. Held back until the previous one is acknowledged (Nagle), each would wait
    // a round trip for nothing.
    m_socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (m_implicitTls)
        m_handshaking = true; // the socket goes on with the handshake by itself
    else
        Q_EMIT opened();
}

void SocketTransport::onEncrypted() {
    m_handshaking = false;
    if (m_implicitTls)
        Q_EMIT opened();
    else
        Q_EMIT encrypted();
}

void SocketTransport::onSslErrors(const QList<QSslError>& errors) {
    const TlsVerdict verdict =
        judgeCertificateErrors(errors, m_socket.peerCertificate(), m_host, m_trusted);
    if (verdict.fault == TlsFault::None) {
        m_socket.ignoreSslErrors(verdict.ignorable);
        return;
    }
    // Not ignoring the errors makes the socket end the handshake and the connection.
    m_fault = verdict.fault;
    m_faultReason = verdict.reason;
}

// The user's certificates join the roots only when a handshake is about to start: reading the
// system's roots costs time that a connection in the clear need not spend. A certificate placed
// for other servers is left out, so nothing it signed passes here.
void SocketTransport::prepareTls() {
    if (m_trusted.isEmpty())
        return;
    // Setting roots of our own ends the lazy loading of the system's, so both go in.
    QSslConfiguration configuration = m_socket.sslConfiguration();
    configuration.setCaCertificates(QSslConfiguration::systemCaCertificates() +
                                    m_trusted.rootsFor(m_host));
    m_socket.setSslConfiguration(configuration);
}

void SocketTransport::failWithoutTls() {
    m_fault = TlsFault::HandshakeFailed;
    m_faultReason = tr("this system offers no encryption (TLS)");
    m_socket.abort();
    scheduleCloseReport();
}

void SocketTransport::scheduleCloseReport() {
    // The error text is only final once the socket's state change is over, so the end is
    // reported from the event loop rather than from inside the socket's signal.
    QMetaObject::invokeMethod(
        this, [this, generation = m_generation] { reportClosed(generation); },
        Qt::QueuedConnection);
}

void SocketTransport::reportClosed(quint64 generation) {
    if (generation != m_generation || m_closeReported)
        return;
    // errorOccurred also fires for faults that leave the connection up; only an end counts.
    // A failed handshake always ends the connection, even while the socket is still closing.
    const QAbstractSocket::SocketError error = m_socket.error();
    const bool tlsEnd = error == QAbstractSocket::SslHandshakeFailedError ||
                        error == QAbstractSocket::SslInternalError ||
                        error == QAbstractSocket::SslInvalidUserDataError;
    if (m_socket.state() != QAbstractSocket::UnconnectedState &&
        error != QAbstractSocket::RemoteHostClosedError && !tlsEnd)
        return;
    m_closeReported = true;
    if (m_handshaking && m_fault == TlsFault::None) {
        m_fault = TlsFault::HandshakeFailed;
        m_faultReason = m_socket.errorString();
    }
    m_handshaking = false;
    const QString reason = m_fault != TlsFault::None ? m_faultReason : m_socket.errorString();
    if (m_socket.bytesAvailable() > 0) {
        Q_EMIT readyRead();
        if (generation != m_generation)
            return; // the owner gave the connection up meanwhile
    }
    if (tlsEnd && m_socket.state() != QAbstractSocket::UnconnectedState)
        m_socket.abort();
    Q_EMIT closed(reason);
}

} // namespace

void preparePop3Transport() {
    [[maybe_unused]] static const bool prepared = [] {
        const QSslSocket socket;
        return true;
    }();
}

std::unique_ptr<Pop3Transport> makePop3Transport(const TrustedCertificates& trusted) {
    return std::make_unique<SocketTransport>(trusted);
}

#include "pop3transport.moc"
