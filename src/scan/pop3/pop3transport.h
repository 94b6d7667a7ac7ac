#pragma once

#include "scan/pop3/tlstrust.h"

#include <QList>
#include <QObject>

#include <memory>

struct ServerAddress;

// The byte stream to a mail server. Everything that depends on how the connection is made (plain
// TCP, TLS from the first byte, TLS started later) stays behind this interface; the protocol only
// sends and receives, and asks for encryption when the server offers it.
class Pop3Transport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Pop3Transport() override;

    // Starts connecting; opened() or closed() follows. For an address with implicit TLS the
    // handshake is part of opening: opened() comes once the connection is encrypted and the
    // server's certificate accepted.
    virtual void open(const ServerAddress& address) = 0;
    // Starts TLS on the open connection, after the server agreed to it; encrypted() or closed()
    // follows. Returns false, and starts nothing, when bytes the server sent in the clear are still
    // unread: they would be taken for encrypted answers, so the caller must give up the connection.
    virtual bool startTls() = 0;
    virtual void write(const QByteArray& bytes) = 0;
    // Everything received and not read yet.
    virtual QByteArray read() = 0;
    // Drops the connection at once. No signal follows.
    virtual void abort() = 0;

    virtual bool isEncrypted() const = 0;
    // Why the last connection ended when encryption was being set up (None otherwise); the reason
    // closed() gave then explains it.
    virtual TlsFault tlsFault() const = 0;

Q_SIGNALS:
    void opened();
    void encrypted();
    void readyRead();
    // The connection ended or could not be made. Emitted from the event loop, never from inside
    // a call on the transport, and only after every byte received before the end was offered
    // through readyRead(). The reason is a readable text.
    void closed(const QString& reason);
};

// The transport used for real servers. Server certificates are checked against the system's
// roots, the trusted certificates given, as far as they count for the host of the address (see
// tlstrust.h), and the host name of the address.
std::unique_ptr<Pop3Transport> makePop3Transport(const TrustedCertificates& trusted);

// Loads the socket library's TLS part, which the first socket otherwise does (a few
// milliseconds); later calls cost nothing.
void preparePop3Transport();
