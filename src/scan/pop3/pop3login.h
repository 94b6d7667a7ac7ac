#pragma once

#include "scan/pop3/pop3error.h"
#include "scan/pop3/pop3tokensource.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class Pop3Connection;
class Pop3Pipeline;
struct Pop3Deadline;
struct ServerAddress;

// Who logs in.
struct Pop3Credentials {
    QString user;
    QString password;
    // For an account that signs in with OAuth 2.0: the access token, a new one when renew is set
    // (the server refused the last).
    std::function<Pop3Token(bool renew)> accessToken;
};

// What a log-in found out.
struct Pop3LoginResult {
    Pop3Failure failure;
    // The capabilities the server listed for CAPA (after STLS, the ones listed then), one line
    // each as sent; empty when it does not know CAPA.
    QStringList capabilities;
    // The number of waiting messages (STAT).
    int messageCount = 0;
    // The unique id of each message (UIDL), message 1 first, as parseUniqueIds() reads them; empty
    // when the server has none to give (no UIDL, -ERR, a listing too large to read).
    QList<QByteArray> uniqueIds;
};

// Sets up the session on a connection that has just opened: reads the greeting, asks for the
// capabilities (CAPA), switches to TLS with STLS where the server offers it, logs in with USER and
// PASS (or, for an OAuth 2.0 account, with AUTH and an access token; see logInWithToken), counts
// the messages with STAT, and with a server that announces PIPELINING lists their sizes (LIST) for
// the pipeline. Then it asks for the messages' unique ids (UIDL), together with LIST where the
// server pipelines; a server that cannot give them is simply left without, the log-in does not
// fail for it.
//
// Once STLS was offered there is no carrying on in the clear, since an attacker on the way could
// make the upgrade fail on purpose. For the same reason a server that must encrypt (a
// "pop3+stls://" cell) or that has spoken TLS before (see TlsMemory; tlsMemoryFile empty for no
// memory) is not logged into when its offer of STLS is missing: an attacker could have taken it out
// of the capabilities, or answered CAPA with -ERR. Nothing of the log-in is sent before encryption
// is settled.
Pop3LoginResult logIn(Pop3Connection& connection, Pop3Pipeline& pipeline,
                      const ServerAddress& address, const Pop3Credentials& credentials,
                      const QString& tlsMemoryFile, const Pop3Deadline& deadline);

// Whether the capability lines have one whose first word is name (in any letter case).
bool hasCapability(const QStringList& capabilities, QStringView name);
