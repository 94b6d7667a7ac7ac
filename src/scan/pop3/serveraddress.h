#pragma once

#include <QString>

#include <optional>

// Where a mail server cell points: a host name or address and a port.
struct ServerAddress {
    QString host;
    quint16 port = 0;
};

// Reads a mail server cell. Accepted forms: "host", "host:port", "[address]" and
// "[address]:port" (the brackets for IPv6 addresses); a bare address with more than one colon is
// taken as an IPv6 host without a port. Blanks around the cell are ignored. Without a port the
// given default applies. Returns nothing when the cell names no usable server (empty host, a port
// that is not a number from 1 to 65535, an unclosed bracket).
std::optional<ServerAddress> parseServerAddress(const QString& cell, quint16 defaultPort);
