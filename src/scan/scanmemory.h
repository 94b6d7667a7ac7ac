#pragma once

#include "scan/classification.h"
#include "scan/judgedmemory.h"
#include "scan/judgedsession.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

class Pop3Mailbox;

// The memory of judged messages through one scan pass (see judgedmemory.h and judgedsession.h):
// read when the pass starts, consulted for every message, told every verdict, and written after
// each account. The rules are passed in as their fingerprint (see rulesfingerprint.h), as they
// stand at the moment: they may change while the pass runs.
class ScanMemory {
public:
    // Reads the file at path; the entries of accounts not among `accounts` are dropped.
    ScanMemory(const QString& path, const QList<JudgedAccountKey>& accounts);

    JudgedMemory::Loaded loaded() const { return m_loaded; }
    // Whether some of these accounts will have messages to fetch under the rules for certain:
    // the memory holds nothing for them under those rules.
    bool expectsFetches(const QList<JudgedAccountKey>& accounts, const QByteArray& rules) const;

    // A session of the account has begun on pop, logged in: pop is told which messages will be
    // fetched under the rules.
    void beginAccount(Pop3Mailbox& pop, const QString& server, const QString& login,
                      const QByteArray& rules);
    // Whether message n of the session need not be fetched under the rules: then the keyword
    // checks its earlier judgement counted. When the rules changed since pop was told what will be
    // fetched, it is told again.
    std::optional<quint32> passOver(int n, const QByteArray& rules);
    // Message n was judged under the rules.
    void judged(int n, const QByteArray& rules, const Classification& result);
    // The session is over, logged out or broken off: what it found out is remembered under the
    // rules in force now, and the file written.
    void endAccount(const QByteArray& rules);
    // Writes what changed since the last write (accounts dropped, say). A file that cannot be
    // written only costs downloads: the next pass fetches what it could not remember.
    void save() { m_memory.save(); }

private:
    JudgedMemory m_memory;
    JudgedMemory::Loaded m_loaded;
    std::optional<JudgedSession> m_session;
    Pop3Mailbox* m_pop = nullptr;
    QString m_server;
    QString m_login;
    QByteArray m_planned;
};
