#pragma once

#include <QString>

// The program's data files, all in the program folder.
namespace datafile {
inline QString accounts() {
    return QStringLiteral("accounts.dat");
}
inline QString whitelist() {
    return QStringLiteral("whitelist.dat");
}
inline QString blacklist() {
    return QStringLiteral("blacklist.dat");
}
inline QString keywords() {
    return QStringLiteral("keywords.dat");
}
inline QString stats() {
    return QStringLiteral("stats.dat");
}
// The mail servers that have spoken TLS (see scan/pop3/tlsmemory.h).
inline QString tlsServers() {
    return QStringLiteral("tlsservers.dat");
}
// Client ids and further providers for signing in with OAuth 2.0 (see scan/oauth/oauthprovider.h).
inline QString oauthSettings() {
    return QStringLiteral("oauth.ini");
}
// The refresh tokens of the accounts that sign in with OAuth 2.0 (see
// scan/oauth/refreshtokenstore.h).
inline QString oauthTokens() {
    return QStringLiteral("oauthtokens.dat");
}

// What earlier scan passes judged and left on the servers (see scan/judgedmemory.h).
inline QString judgedMessages() {
    return QStringLiteral("judged.dat");
}

// The path of a file in the program folder.
QString inFolder(const QString& folder, const QString& name);
} // namespace datafile
