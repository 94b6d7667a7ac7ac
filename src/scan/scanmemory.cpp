#include "scan/scanmemory.h"

#include "scan/pop3/pop3mailbox.h"

#include <algorithm>

ScanMemory::ScanMemory(const QString& path, const QList<JudgedAccountKey>& accounts)
    : m_memory(path)
    , m_loaded(m_memory.load()) {
    m_memory.keepOnly(accounts);
}

bool ScanMemory::expectsFetches(const QList<JudgedAccountKey>& accounts,
                                const QByteArray& rules) const {
    return std::any_of(accounts.cbegin(), accounts.cend(), [&](const JudgedAccountKey& key) {
        const JudgedAccount* account = m_memory.find(key.first, key.second);
        return !account || account->fingerprint != rules;
    });
}

void ScanMemory::beginAccount(Pop3Mailbox& pop, const QString& server, const QString& login,
                              const QByteArray& rules) {
    m_pop = &pop;
    m_server = server;
    m_login = login;
    m_session.emplace(m_memory.find(server, login), pop.uniqueIds(), pop.MessageCount());
    m_planned = rules;
    pop.planFetches(m_session->fetches(rules));
}

std::optional<quint32> ScanMemory::passOver(int n, const QByteArray& rules) {
    if (!m_session)
        return std::nullopt;
    if (rules != m_planned) {
        m_planned = rules;
        m_pop->planFetches(m_session->fetches(rules));
    }
    return m_session->passOver(n, rules);
}

void ScanMemory::judged(int n, const QByteArray& rules, const Classification& result) {
    if (m_session)
        m_session->judged(n, rules, result);
}

void ScanMemory::endAccount(const QByteArray& rules) {
    if (!m_session)
        return;
    std::optional<JudgedAccount> outcome = m_session->outcome(rules);
    // The session points into the memory; it goes before the memory changes.
    m_session.reset();
    m_pop = nullptr;
    if (outcome)
        m_memory.remember(m_server, m_login, std::move(*outcome));
    m_memory.save();
}
