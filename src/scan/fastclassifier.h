#pragma once

#include "scan/classification.h"
#include "scan/listmatcher.h"

// The classification of classifyMessage() without walking the lists row by row: one matcher per
// list finds the deciding row in a single pass over each text, and the outcome (verdict, list,
// row, the status text the row-by-row walk would leave last, the keyword-check count, where the
// entry was found and the entry itself) is the same. For scans of large lists; shows no
// intermediate status texts.
//
// Keep one instance for the scan and call setLists() before each message: a list is rebuilt
// only when its content changed.
class FastClassifier {
public:
    FastClassifier() = default;
    explicit FastClassifier(const RuleLists& lists);

    // Rebuilds the matchers whose list changed. Returns how many were rebuilt.
    int setLists(const RuleLists& lists);

    Classification classify(const MessageFields& message, const CheckSwitches& switches) const;

    const ListMatcher& whitelist() const { return m_whitelist; }
    const ListMatcher& blacklist() const { return m_blacklist; }
    const ListMatcher& keywords() const { return m_keywords; }

private:
    ListMatcher m_whitelist;
    ListMatcher m_blacklist;
    ListMatcher m_keywords;
};
