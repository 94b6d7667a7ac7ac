#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <map>
#include <optional>
#include <utility>

// What earlier scan passes judged and left on an account's server: the unique ids (UIDL) of the
// messages judged kept or whitelisted, under which rules (see rulesfingerprint.h), each with the
// keyword checks its judgement counted. A pass need not fetch such a message again while the rules
// stay the same; it only counts it.
struct JudgedAccount {
    QByteArray fingerprint;
    QHash<QByteArray, quint32> kept;

    bool operator==(const JudgedAccount&) const = default;
};

// An account as the memory knows it: the mail server and the login name, as the account grid
// holds them. The password plays no part.
using JudgedAccountKey = std::pair<QString, QString>;
using JudgedAccounts = std::map<JudgedAccountKey, JudgedAccount>;

// The memory of judged messages, kept in a file of the program folder ("judged.dat"). It only ever
// spares a download: whatever it holds, a message is never deleted for it.
//
// The file is text in lines ending in CR LF: a first line naming the format, then for each account
// a line "account <server> <login> <fingerprint>" (server and login percent-encoded in UTF-8, "-"
// for an empty one) followed by a line "<id> <keyword checks>" for each message, and last a line
// "check <SHA-256 of every byte before it>". A file that is missing, cannot be read, is larger than
// any real one or is not exactly so (cut short, changed by hand, damaged on the disk) is taken for
// an empty memory: the next pass fetches everything, as if there never was one. It is readable
// and writable by its owner only, since it names accounts, and replaced whole, never truncated.
class JudgedMemory {
public:
    enum class Loaded { Read, Missing, Damaged };

    explicit JudgedMemory(QString path);

    QString path() const { return m_path; }
    // Reads the file; the memory is empty unless it says Read.
    Loaded load();
    // Writes the file when the memory changed since it was read or written (an empty memory is
    // not written where there is no file). False when it could not be written; reason says why.
    bool save(QString* reason = nullptr);

    // The account's entry; null when there is none.
    const JudgedAccount* find(const QString& server, const QString& login) const;
    // Replaces the account's entry; one without messages removes it.
    void remember(const QString& server, const QString& login, JudgedAccount account);
    // Drops the entries of every account not among these.
    void keepOnly(const QList<JudgedAccountKey>& accounts);
    const JudgedAccounts& accounts() const { return m_accounts; }

    // The file's bytes for these entries, and the entries read from such bytes (none when they
    // are not a well-formed file).
    static QByteArray format(const JudgedAccounts& accounts);
    static std::optional<JudgedAccounts> parse(const QByteArray& bytes);

private:
    QString m_path;
    JudgedAccounts m_accounts;
    bool m_changed = false;
};
