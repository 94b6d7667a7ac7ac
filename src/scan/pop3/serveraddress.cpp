#include "scan/pop3/serveraddress.h"

namespace {

std::optional<quint16> parsePort(QStringView text) {
    // Digits only: toUInt would also take "+25" or " 25".
    if (text.isEmpty() || text.size() > 5)
        return std::nullopt;
    for (QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return std::nullopt;
    }
    const uint port = text.toUInt();
    if (port < 1 || port > 65535)
        return std::nullopt;
    return static_cast<quint16>(port);
}

} // namespace

std::optional<ServerAddress> parseServerAddress(const QString& cell, quint16 defaultPort) {
    const QString text = cell.trimmed();
    ServerAddress address;
    address.port = defaultPort;

    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return std::nullopt;
        address.host = text.mid(1, close - 1);
        const QStringView rest = QStringView(text).mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return std::nullopt;
            const std::optional<quint16> port = parsePort(rest.mid(1));
            if (!port)
                return std::nullopt;
            address.port = *port;
        }
    } else if (text.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        address.host = text.left(colon).trimmed();
        const std::optional<quint16> port = parsePort(QStringView(text).mid(colon + 1));
        if (!port)
            return std::nullopt;
        address.port = *port;
    } else {
        address.host = text;
    }

    if (address.host.trimmed().isEmpty())
        return std::nullopt;
    return address;
}
