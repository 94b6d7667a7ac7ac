#pragma once

#include "scan/eventloopwait.h"
#include "scan/pop3/pop3error.h"
#include "scan/pop3/serveraddress.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class Pop3Transport;
struct TrustedCertificates;
enum class TlsFault;

// The connection to one mail server: it makes the transport, waits for the connection and for
// TLS to come about, and keeps the state of the link. It knows no commands: what the server sends
// goes to the data handler, and a broken link to the loss handler.
class Pop3Connection : public QObject {
    Q_OBJECT
public:
    enum class State { None, Connecting, Open, Securing, Lost };
    using TransportFactory =
        std::function<std::unique_ptr<Pop3Transport>(const TrustedCertificates& trusted)>;

    explicit Pop3Connection(EventLoopWait& waiter, QObject* parent = nullptr);
    ~Pop3Connection() override;

    // The transports connections are made with; by default ones to real servers.
    void setTransportFactory(TransportFactory factory) { m_factory = std::move(factory); }
    // Called with everything the server sends, as it arrives.
    void setDataHandler(std::function<void(const QByteArray&)> handler) {
        m_onData = std::move(handler);
    }
    // Called once when an open link is lost or dropped, with the full text of the loss.
    void setLossHandler(std::function<void(const QString& text)> handler) {
        m_onLoss = std::move(handler);
    }

    // Connects to the address (encrypted from the first byte where it says so) and waits until
    // the connection is open. Certificates are checked against the system's roots, the trusted
    // ones given and the host name.
    Pop3Failure open(const ServerAddress& address, const TrustedCertificates& trusted,
                     WaitDeadline deadline, int timeoutSeconds);
    // Starts TLS on the open connection, after the server agreed to it, and waits until it came
    // about. Fails when the server sent anything in the clear after agreeing (unread is true),
    // since that could pass as an answer to a command sent encrypted.
    Pop3Failure startTls(bool unread, WaitDeadline deadline, int timeoutSeconds);

    void write(const QByteArray& bytes);
    // Gives the link up at once, without a word to the server; reason says why, for the loss.
    void drop(const QString& reason);
    // Closes and forgets the link, without a word to the server.
    void close();

    State state() const { return m_state; }
    bool isOpen() const { return m_state == State::Open; }
    bool isEncrypted() const;
    // "host:port" of the connection, for texts.
    QString server() const { return m_server; }
    // Why the link was lost, for texts.
    QString lostReason() const { return m_lostReason; }
    // The text for a call made after the link was lost.
    QString lostText() const;
    // Where the user's certificates are, for advice in texts; empty when not known.
    void setCertificatesFolder(const QString& folder) { m_certificatesFolder = folder; }

private:
    bool waitWhile(State state, WaitDeadline deadline);
    Pop3Failure tlsFailure(TlsFault fault) const;
    void lose(const QString& reason);

    void onOpened();
    void onEncrypted();
    void onReadyRead();
    void onClosed(const QString& reason);

    EventLoopWait& m_waiter;
    TransportFactory m_factory;
    std::function<void(const QByteArray&)> m_onData;
    std::function<void(const QString&)> m_onLoss;
    std::unique_ptr<Pop3Transport> m_transport;
    State m_state = State::None;
    QString m_server;
    QString m_lostReason;
    QString m_certificatesFolder;
};
