#pragma once

#include "scan/pop3/pop3connection.h"
#include "scan/pop3/pop3transport.h"

#include <QStringList>

#include <memory>

// What went through the connections of a POP3 client: the command lines it sent (passwords
// masked) and the bytes it received.
struct TransportCounts {
    QStringList commands;
    qint64 received = 0;
    // How many RETR commands went out.
    int retrievals() const;
};

// A connection to a real server that counts what goes through it, for tests and benchmarks that
// want to know what a client asked of a server it cannot see into.
class CountingTransport : public Pop3Transport {
    Q_OBJECT
public:
    CountingTransport(std::unique_ptr<Pop3Transport> inner,
                      std::shared_ptr<TransportCounts> counts);

    void open(const ServerAddress& address) override { m_inner->open(address); }
    bool startTls() override { return m_inner->startTls(); }
    void write(const QByteArray& bytes) override;
    QByteArray read() override;
    void abort() override { m_inner->abort(); }
    bool isEncrypted() const override { return m_inner->isEncrypted(); }
    TlsFault tlsFault() const override { return m_inner->tlsFault(); }

    // A factory for FreePOP::setTransportFactory: real connections, counted into counts.
    static Pop3Connection::TransportFactory factory(std::shared_ptr<TransportCounts> counts);

private:
    std::unique_ptr<Pop3Transport> m_inner;
    std::shared_ptr<TransportCounts> m_counts;
};
