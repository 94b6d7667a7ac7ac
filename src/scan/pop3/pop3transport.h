#pragma once

#include <QObject>

#include <memory>

struct ServerAddress;

// The byte stream to a mail server. Everything that depends on how the connection is made (plain
// TCP now, encryption later) stays behind this interface; the protocol only sends and receives.
class Pop3Transport : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    ~Pop3Transport() override;

    // Starts connecting; opened() or closed() follows.
    virtual void open(const ServerAddress& address) = 0;
    virtual void write(const QByteArray& bytes) = 0;
    // Everything received and not read yet.
    virtual QByteArray read() = 0;
    // Drops the connection at once. No signal follows.
    virtual void abort() = 0;

Q_SIGNALS:
    void opened();
    void readyRead();
    // The connection ended or could not be made. Emitted from the event loop, never from inside
    // a call on the transport, and only after every byte received before the end was offered
    // through readyRead(). The reason is a readable text.
    void closed(const QString& reason);
};

// The transport used for real servers.
std::unique_ptr<Pop3Transport> makePop3Transport();
