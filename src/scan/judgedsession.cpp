#include "scan/judgedsession.h"

#include <limits>

JudgedSession::JudgedSession(const JudgedAccount* before, QList<QByteArray> ids, int count)
    : m_before(before)
    , m_ids(std::move(ids))
    , m_count(std::max(count, 0))
    , m_keptUnder(size_t(m_count) + 1, kNotReached)
    , m_checks(size_t(m_count) + 1, 0) {}

std::optional<quint32> JudgedSession::passOver(int n, const QByteArray& fingerprint) {
    if (!listed() || !m_before || n < 1 || n > m_count || m_before->fingerprint != fingerprint)
        return std::nullopt;
    const QByteArray& id = m_ids.at(n - 1);
    if (id.isEmpty())
        return std::nullopt;
    const auto found = m_before->kept.constFind(id);
    if (found == m_before->kept.cend())
        return std::nullopt;
    m_keptUnder[size_t(n)] = qint16(fingerprintIndex(fingerprint));
    m_checks[size_t(n)] = *found;
    return *found;
}

QList<int> JudgedSession::fetches(const QByteArray& fingerprint) const {
    const bool any = listed() && m_before && m_before->fingerprint == fingerprint;
    QList<int> numbers;
    numbers.reserve(m_count);
    for (int n = 1; n <= m_count; ++n) {
        if (!any || m_ids.at(n - 1).isEmpty() || !m_before->kept.contains(m_ids.at(n - 1)))
            numbers.append(n);
    }
    return numbers;
}

void JudgedSession::judged(int n, const QByteArray& fingerprint, const Classification& result) {
    if (n < 1 || n > m_count)
        return;
    const bool kept = result.verdict == Verdict::Kept || result.verdict == Verdict::Whitelisted;
    const int index = kept ? fingerprintIndex(fingerprint) : kNotKept;
    m_keptUnder[size_t(n)] = qint16(index);
    m_checks[size_t(n)] =
        quint32(std::min<qsizetype>(result.keywordChecks, std::numeric_limits<qint32>::max()));
}

int JudgedSession::fingerprintIndex(const QByteArray& fingerprint) {
    qsizetype index = m_fingerprints.indexOf(fingerprint);
    if (index >= 0)
        return int(index);
    // Rules that change again and again within one session are not worth remembering by.
    if (m_fingerprints.size() >= std::numeric_limits<qint16>::max())
        return kNotKept;
    m_fingerprints.append(fingerprint);
    return int(m_fingerprints.size() - 1);
}

std::optional<JudgedAccount> JudgedSession::outcome(const QByteArray& fingerprint) const {
    JudgedAccount after;
    after.fingerprint = fingerprint;
    if (m_count == 0)
        return after;
    if (!listed()) {
        // What the memory holds under other rules is of no use any more.
        if (m_before && m_before->fingerprint != fingerprint)
            return after;
        return std::nullopt;
    }
    const qsizetype current = m_fingerprints.indexOf(fingerprint);
    const bool carry = m_before && m_before->fingerprint == fingerprint;
    for (int n = 1; n <= m_count; ++n) {
        const QByteArray& id = m_ids.at(n - 1);
        if (id.isEmpty())
            continue;
        const qint16 state = m_keptUnder[size_t(n)];
        if (state >= 0 && state == current) {
            after.kept.insert(id, m_checks[size_t(n)]);
        } else if (state == kNotReached && carry) {
            const auto found = m_before->kept.constFind(id);
            if (found != m_before->kept.cend())
                after.kept.insert(id, *found);
        }
    }
    return after;
}
