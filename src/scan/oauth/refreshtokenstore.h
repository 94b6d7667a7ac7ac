#pragma once

#include <QList>
#include <QString>

#include <optional>

// The refresh tokens of the accounts that sign in with OAuth 2.0: what lets a scan pass get a new
// access token without a browser. Kept in "oauthtokens.dat" in the program folder, readable and
// writable by its owner only, one account a line: mail server host, login name, provider id and
// refresh token, joined by commas (the token last, so a comma in it does no harm). Written whole
// and in one step like the program's other files (see textfile.h); a file that exists but cannot
// be read is never written over, so its tokens are not lost to a passing fault.
//
// An account is its host (in any letter case) and its login name (exactly as entered).
class RefreshTokenStore {
public:
    struct Entry {
        QString host;
        QString login;
        QString provider;
        QString refreshToken;
    };

    explicit RefreshTokenStore(QString path);

    QString path() const { return m_path; }
    // The account's entry, read from the file now; nothing when there is none.
    std::optional<Entry> find(const QString& host, const QString& login) const;
    // Adds or replaces the account's entry. False when it could not be written (the entry is
    // then not kept) or holds a line break.
    bool put(const Entry& entry);
    // Removes the account's entry; true when none is left.
    bool remove(const QString& host, const QString& login);

private:
    bool load(QList<Entry>* entries) const;
    bool save(const QList<Entry>& entries);

    QString m_path;
};
