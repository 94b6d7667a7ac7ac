#pragma once

#include "scan/classification.h"
#include "scan/listmatcher.h"

// The checks in the order the user sees them in the status line: whitelist, blacklist, address
// check, keywords (each keyword in the subject, then in the body). Entries are compared
// upper-cased and found anywhere as a contiguous run of characters. Empty entries are skipped:
// an empty text is found in every text, so one empty row would otherwise let every message
// through or delete every message.
//
// The lists are not walked row by row: one matcher per list finds the deciding row in a single
// pass over each text, and the outcome (verdict, list, row, the status text the row-by-row walk
// would leave last, the keyword-check count, where the entry was found and the entry itself) is
// the one of that walk, which the tests keep as their reference. Shows no intermediate status
// texts.
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
