#pragma once

#include "scan/classification.h"
#include "scan/judgedmemory.h"

#include <QByteArray>
#include <QList>

#include <optional>
#include <vector>

// One account's session of a scan pass as far as the memory of judged messages goes: which
// messages need not be fetched, and what to remember once the session is over.
//
// A message is passed over only when the server gave it an id, the memory holds that id as kept
// or whitelisted, and the memory's rules are the rules in force (see rulesfingerprint.h). Nothing
// here ever leads to a deletion: at worst a message is fetched and judged again.
class JudgedSession {
public:
    // before: what the memory holds for the account (null for nothing); ids and count: the
    // mailbox's uniqueIds() and MessageCount() after the log-in.
    JudgedSession(const JudgedAccount* before, QList<QByteArray> ids, int count);

    // When message n was judged kept or whitelisted before under these rules: the keyword checks
    // that judgement counted, which a full pass would count again. Nothing when it must be fetched.
    std::optional<quint32> passOver(int n, const QByteArray& fingerprint);
    // The numbers of the messages to fetch under these rules, in ascending order.
    QList<int> fetches(const QByteArray& fingerprint) const;
    // Message n was judged under these rules.
    void judged(int n, const QByteArray& fingerprint, const Classification& result);

    // What the memory is to hold for the account once the session is over, with the rules in
    // force by then: every message of this session judged or passed over as kept under them, and
    // those it did not reach (a session that broke off) that the memory held under them already.
    // Ids no longer on the server are left out. Nothing when the session cannot tell (the server
    // listed no ids): the memory stays as it is.
    std::optional<JudgedAccount> outcome(const QByteArray& fingerprint) const;

private:
    bool listed() const { return m_ids.size() == m_count && m_count > 0; }
    int fingerprintIndex(const QByteArray& fingerprint);

    const JudgedAccount* m_before;
    QList<QByteArray> m_ids;
    int m_count;
    // Per message, by number from 1: the fingerprint (an index into m_fingerprints) under which it
    // was found kept in this session, kNotReached, or kNotKept; and the keyword checks counted.
    static constexpr qint16 kNotReached = -1;
    static constexpr qint16 kNotKept = -2;
    std::vector<qint16> m_keptUnder;
    std::vector<quint32> m_checks;
    QList<QByteArray> m_fingerprints;
};
