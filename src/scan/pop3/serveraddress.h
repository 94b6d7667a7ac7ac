#pragma once

#include <QString>

#include <optional>

// Where a mail server cell points: a host name or address, a port, and whether the connection is
// encrypted from its first byte (implicit TLS) or starts in the clear.
struct ServerAddress {
    QString host;
    quint16 port = 0;
    bool implicitTls = false;
    // Starts in the clear, and the server must switch to TLS with STLS before the log-in: one
    // that does not offer it is not logged into. Never set together with implicitTls.
    bool requireStls = false;
    // Logs in with OAuth 2.0 (SASL XOAUTH2 or OAUTHBEARER and an access token) instead of a
    // password; the token is only ever sent encrypted.
    bool oauth = false;
};

// The port of POP3 over implicit TLS; a server reached on it is always spoken to encrypted.
inline constexpr quint16 kPop3sPort = 995;

// The usual POP3 port, which "pop3+stls://" means when it names none.
inline constexpr quint16 kPop3Port = 110;

// Reads a mail server cell. Accepted forms:
//   host, host:port, [address], [address]:port       (brackets for IPv6 addresses)
//   pop3://host[:port], pop3s://host[:port],         (the scheme in any letter case; the host may
//   pop3+stls://host[:port]                           be bracketed; one trailing "/" is allowed)
// Each scheme may end in "+oauth2" ("pop3s+oauth2://", "pop3+oauth2://", "pop3+stls+oauth2://"):
// the account signs in with OAuth 2.0, and otherwise the scheme means what it means without it.
// A bare address with more than one colon is taken as an IPv6 host without a port. Blanks around
// the cell are ignored. Without a port, "pop3s://" means port 995, "pop3+stls://" port 110 and
// every other form the given default. "pop3s://" and port 995 mean implicit TLS; "pop3+stls://"
// on any other port means STLS is required.
// Returns nothing when the cell names no usable server: an empty host, a port that is not a number
// from 1 to 65535, an unknown scheme, a stray or unclosed bracket, a path or a user name in the
// URL forms.
std::optional<ServerAddress> parseServerAddress(const QString& cell, quint16 defaultPort);

// The server cell of an account that signs in with OAuth 2.0, made from the cell as the user typed
// it: a scheme gets "+oauth2" ("pop3s://h" becomes "pop3s+oauth2://h"), a host with a port becomes
// "pop3+oauth2://host:port", and a bare host "pop3s+oauth2://host", since the providers serve
// POP3 over TLS on port 995. A cell that already signs in with OAuth 2.0 is returned as it is.
QString oauthServerCell(const QString& cell);
