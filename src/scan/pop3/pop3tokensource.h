#pragma once

#include "scan/pop3/pop3error.h"

#include <QString>
#include <QStringList>

class EventLoopWait;
struct Pop3Deadline;

// An OAuth 2.0 access token for a log-in, or why there is none.
struct Pop3Token {
    QString accessToken;
    Pop3Failure failure;
};

// Where the POP3 client gets the access tokens of accounts that sign in with OAuth 2.0 (see
// scan/oauth/oauthtokens.h for the program's own). It never opens a browser: an account that
// has no usable sign-in fails as a refused log-in does.
class Pop3TokenSource {
public:
    virtual ~Pop3TokenSource() = default;

    // The access token for the login name at the host. renew: the server refused the one given
    // before, so a new one is wanted, not the one held. Waits on waiter, no longer than deadline.
    virtual Pop3Token accessToken(const QString& host, const QString& login, bool renew,
                                  EventLoopWait& waiter, const Pop3Deadline& deadline) = 0;
    // Every token it holds, so that none can slip into a text shown or written anywhere.
    virtual QStringList secrets() const = 0;
};
