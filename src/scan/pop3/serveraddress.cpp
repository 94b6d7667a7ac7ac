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

// "[address]" or "[address]:port".
bool parseBracketed(QStringView text, ServerAddress& address) {
    const qsizetype close = text.indexOf(QLatin1Char(']'));
    if (close < 0)
        return false;
    address.host = text.mid(1, close - 1).toString();
    const QStringView rest = text.mid(close + 1);
    if (rest.isEmpty())
        return true;
    if (!rest.startsWith(QLatin1Char(':')))
        return false;
    const std::optional<quint16> port = parsePort(rest.mid(1));
    if (!port)
        return false;
    address.port = *port;
    return true;
}

// The part after "scheme://": "host", "host:port" or the bracketed forms. An IPv6 address must be
// bracketed here, as in any URL.
bool parseAuthority(QStringView text, ServerAddress& address) {
    if (text.endsWith(QLatin1Char('/')))
        text.chop(1);
    // A path, a query or a user name ("user@host") is not part of a server cell.
    for (QChar c : {QLatin1Char('/'), QLatin1Char('?'), QLatin1Char('#'), QLatin1Char('@')}) {
        if (text.contains(c))
            return false;
    }
    if (text.startsWith(QLatin1Char('[')))
        return parseBracketed(text, address);
    const qsizetype colon = text.indexOf(QLatin1Char(':'));
    if (colon < 0) {
        address.host = text.toString();
        return true;
    }
    address.host = text.left(colon).toString();
    const std::optional<quint16> port = parsePort(text.mid(colon + 1));
    if (!port)
        return false;
    address.port = *port;
    return true;
}

} // namespace

std::optional<ServerAddress> parseServerAddress(const QString& cell, quint16 defaultPort) {
    const QString text = cell.trimmed();
    ServerAddress address;
    address.port = defaultPort;

    const qsizetype schemeEnd = text.indexOf(QLatin1String("://"));
    if (schemeEnd >= 0) {
        QStringView scheme = QStringView(text).left(schemeEnd);
        const QLatin1String oauthSuffix("+oauth2");
        if (scheme.endsWith(oauthSuffix, Qt::CaseInsensitive)) {
            address.oauth = true;
            scheme.chop(oauthSuffix.size());
        }
        if (scheme.compare(QLatin1String("pop3s"), Qt::CaseInsensitive) == 0) {
            address.implicitTls = true;
            address.port = kPop3sPort;
        } else if (scheme.compare(QLatin1String("pop3+stls"), Qt::CaseInsensitive) == 0) {
            address.requireStls = true;
            address.port = kPop3Port;
        } else if (scheme.compare(QLatin1String("pop3"), Qt::CaseInsensitive) != 0) {
            return std::nullopt;
        }
        if (!parseAuthority(QStringView(text).mid(schemeEnd + 3), address))
            return std::nullopt;
    } else if (text.startsWith(QLatin1Char('['))) {
        if (!parseBracketed(text, address))
            return std::nullopt;
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

    if (address.host.trimmed().isEmpty() || address.host.contains(QLatin1Char('[')) ||
        address.host.contains(QLatin1Char(']')))
        return std::nullopt;
    // On port 995 the connection is encrypted from the first byte, which is all STLS would give.
    if (address.port == kPop3sPort) {
        address.implicitTls = true;
        address.requireStls = false;
    }
    return address;
}

QString oauthServerCell(const QString& cell) {
    const QString text = cell.trimmed();
    const qsizetype schemeEnd = text.indexOf(QLatin1String("://"));
    if (schemeEnd >= 0) {
        if (QStringView(text).left(schemeEnd).endsWith(QLatin1String("+oauth2"),
                                                       Qt::CaseInsensitive))
            return text;
        return text.left(schemeEnd) + QLatin1String("+oauth2") + text.mid(schemeEnd);
    }
    const std::optional<ServerAddress> address = parseServerAddress(text, 0);
    const bool hasPort = address && address->port != 0;
    // In a URL an IPv6 address is bracketed.
    const QString authority =
        address && address->host.contains(QLatin1Char(':')) && !text.startsWith(QLatin1Char('['))
            ? QLatin1Char('[') + text + QLatin1Char(']')
            : text;
    return (hasPort ? QLatin1String("pop3+oauth2://") : QLatin1String("pop3s+oauth2://")) +
           authority;
}
