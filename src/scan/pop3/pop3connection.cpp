#include "scan/pop3/pop3connection.h"

#include "scan/pop3/pop3texts.h"
#include "scan/pop3/pop3transport.h"
#include "scan/pop3/tlstrust.h"

#include <QDir>

Pop3Connection::Pop3Connection(EventLoopWait& waiter, QObject* parent)
    : QObject(parent)
    , m_waiter(waiter)
    , m_factory(makePop3Transport) {}

Pop3Connection::~Pop3Connection() {
    // Without QUIT: deletions marked in an unfinished session do not happen.
    if (m_transport)
        m_transport->abort();
}

Pop3Failure Pop3Connection::open(const ServerAddress& address, const TrustedCertificates& trusted,
                                 WaitDeadline deadline, int timeoutSeconds) {
    close();
    m_server = (address.host.contains(QLatin1Char(':'))
                    ? QLatin1Char('[') + address.host + QLatin1Char(']')
                    : address.host) +
               QLatin1Char(':') + QString::number(address.port);
    m_transport = m_factory(trusted);
    connect(m_transport.get(), &Pop3Transport::opened, this, &Pop3Connection::onOpened);
    connect(m_transport.get(), &Pop3Transport::encrypted, this, &Pop3Connection::onEncrypted);
    connect(m_transport.get(), &Pop3Transport::readyRead, this, &Pop3Connection::onReadyRead);
    connect(m_transport.get(), &Pop3Transport::closed, this, &Pop3Connection::onClosed);
    m_state = State::Connecting;
    m_transport->open(address);

    if (!waitWhile(State::Connecting, deadline)) {
        if (m_waiter.hasExpired(deadline))
            return {TimedOut, tr("Could not connect to %1 within %2 seconds.")
                                  .arg(m_server, QString::number(timeoutSeconds))};
        return {Interrupted, pop3text::quitting()};
    }
    if (m_state != State::Open) {
        if (m_transport->tlsFault() != TlsFault::None)
            return tlsFailure(m_transport->tlsFault());
        return {ConnectionFailed, tr("Could not connect to %1: %2").arg(m_server, m_lostReason)};
    }
    return {};
}

Pop3Failure Pop3Connection::startTls(bool unread, WaitDeadline deadline, int timeoutSeconds) {
    if (unread || !m_transport->startTls()) {
        drop(tr("the server sent data in the clear after agreeing to encryption"));
        return {ProtocolError,
                tr("%1 sent data in the clear after agreeing to encryption.").arg(m_server)};
    }
    m_state = State::Securing;
    if (!waitWhile(State::Securing, deadline)) {
        const bool late = m_waiter.hasExpired(deadline);
        drop(late ? tr("encryption did not come about in time") : pop3text::quittingReason());
        if (late)
            return {TimedOut, tr("Could not set up encryption with %1 within %2 seconds.")
                                  .arg(m_server, QString::number(timeoutSeconds))};
        return {Interrupted, pop3text::quitting()};
    }
    if (m_state != State::Open) {
        // However the connection ended meanwhile, the upgrade failed.
        return tlsFailure(m_transport ? m_transport->tlsFault() : TlsFault::HandshakeFailed);
    }
    return {};
}

// Waits until the state is another than the given one. False when the deadline passed or the
// program is quitting.
bool Pop3Connection::waitWhile(State state, WaitDeadline deadline) {
    while (m_state == state) {
        if (m_waiter.hasExpired(deadline) || !m_waiter.wait(deadline))
            return false;
    }
    return true;
}

Pop3Failure Pop3Connection::tlsFailure(TlsFault fault) const {
    switch (fault) {
    case TlsFault::Untrusted: {
        QString text = tr("The certificate of %1 is not trusted (%2). The password was not sent.")
                           .arg(m_server, m_lostReason);
        if (!m_certificatesFolder.isEmpty())
            text += QLatin1Char(' ') +
                    tr("To trust this server, place its certificate in \"%1\"; to trust the "
                       "authority that issued it for every server, place the authority's "
                       "certificate in \"%2\".")
                        .arg(m_certificatesFolder,
                             QDir(m_certificatesFolder).filePath(QStringLiteral("authorities")));
        return {CertificateUntrusted, text};
    }
    case TlsFault::NameMismatch:
        return {HostNameMismatch, tr("The certificate of %1 is made out to another server (%2). "
                                     "The password was not sent.")
                                      .arg(m_server, m_lostReason)};
    case TlsFault::HandshakeFailed:
    case TlsFault::None:
        break;
    }
    return {TlsHandshakeFailed,
            tr("No encrypted connection to %1 came about (%2). The password was not sent.")
                .arg(m_server, m_lostReason)};
}

void Pop3Connection::write(const QByteArray& bytes) {
    if (m_state == State::Open)
        m_transport->write(bytes);
}

bool Pop3Connection::isEncrypted() const {
    return m_state == State::Open && m_transport && m_transport->isEncrypted();
}

QString Pop3Connection::lostText() const {
    return pop3text::connectionLost(m_server, m_lostReason);
}

void Pop3Connection::drop(const QString& reason) {
    if (m_transport) {
        disconnect(m_transport.get(), nullptr, this, nullptr);
        m_transport->abort();
    }
    lose(reason);
}

void Pop3Connection::close() {
    if (m_transport) {
        disconnect(m_transport.get(), nullptr, this, nullptr);
        m_transport->abort();
        // Deleted later: this may run while the transport is still on the call stack.
        m_transport.release()->deleteLater();
    }
    m_state = State::None;
    m_lostReason.clear();
}

void Pop3Connection::lose(const QString& reason) {
    const bool wasLinked = m_state != State::None && m_state != State::Lost;
    m_state = State::Lost;
    m_lostReason = reason;
    if (wasLinked && m_onLoss)
        m_onLoss(lostText());
}

void Pop3Connection::onOpened() {
    if (m_state == State::Connecting)
        m_state = State::Open;
    m_waiter.wake();
}

void Pop3Connection::onEncrypted() {
    if (m_state == State::Securing)
        m_state = State::Open;
    m_waiter.wake();
}

void Pop3Connection::onReadyRead() {
    const QByteArray bytes = m_transport->read();
    if (m_onData && !bytes.isEmpty())
        m_onData(bytes);
    m_waiter.wake();
}

void Pop3Connection::onClosed(const QString& reason) {
    if (m_state == State::Connecting || m_state == State::Open || m_state == State::Securing)
        lose(reason);
    m_waiter.wake();
}
