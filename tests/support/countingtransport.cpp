#include "support/countingtransport.h"

#include <algorithm>

int TransportCounts::retrievals() const {
    return int(std::count_if(commands.cbegin(), commands.cend(), [](const QString& line) {
        return line.startsWith(QLatin1String("RETR "));
    }));
}

CountingTransport::CountingTransport(std::unique_ptr<Pop3Transport> inner,
                                     std::shared_ptr<TransportCounts> counts)
    : m_inner(std::move(inner))
    , m_counts(std::move(counts)) {
    connect(m_inner.get(), &Pop3Transport::opened, this, &Pop3Transport::opened);
    connect(m_inner.get(), &Pop3Transport::encrypted, this, &Pop3Transport::encrypted);
    connect(m_inner.get(), &Pop3Transport::readyRead, this, &Pop3Transport::readyRead);
    connect(m_inner.get(), &Pop3Transport::closed, this, &Pop3Transport::closed);
}

void CountingTransport::write(const QByteArray& bytes) {
    for (const QByteArray& line : bytes.split('\n')) {
        const QString command = QString::fromUtf8(line.trimmed());
        if (command.isEmpty())
            continue;
        m_counts->commands.append(command.startsWith(QLatin1String("PASS "), Qt::CaseInsensitive)
                                      ? QStringLiteral("PASS ***")
                                      : command);
    }
    m_inner->write(bytes);
}

QByteArray CountingTransport::read() {
    QByteArray bytes = m_inner->read();
    m_counts->received += bytes.size();
    return bytes;
}

Pop3Connection::TransportFactory
CountingTransport::factory(std::shared_ptr<TransportCounts> counts) {
    return [counts](const TrustedCertificates& trusted) -> std::unique_ptr<Pop3Transport> {
        return std::make_unique<CountingTransport>(makePop3Transport(trusted), counts);
    };
}
