#pragma once

#include <QString>

// One line of accounts.dat: mail server, login and password joined by single commas.
// Reading splits at the first and the second comma, so a password may hold commas while a
// comma in the server or the login shifts the rest of the line into the later fields.
struct AccountLine {
    QString server;
    QString login;
    QString password;
};

enum class AccountLineStatus {
    Accepted,
    ServerTooShort, // fewer than 4 characters before the first comma: skipped
    Malformed,      // fewer than two commas (an empty line included): skipped
};

AccountLineStatus parseAccountLine(const QString& line, AccountLine* account);
QString formatAccountLine(const QString& server, const QString& login, const QString& password);
