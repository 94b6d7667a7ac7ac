#include "scan/fastclassifier.h"

#include <algorithm>

namespace {

bool isOn(int switchValue) {
    return switchValue == 1;
}

bool refresh(ListMatcher& matcher, const QStringList& entries) {
    if (matcher.isBuiltFrom(entries))
        return false;
    matcher = ListMatcher(entries);
    return true;
}

} // namespace

FastClassifier::FastClassifier(const RuleLists& lists) {
    setLists(lists);
}

int FastClassifier::setLists(const RuleLists& lists) {
    int rebuilt = 0;
    rebuilt += refresh(m_whitelist, lists.whitelist) ? 1 : 0;
    rebuilt += refresh(m_blacklist, lists.blacklist) ? 1 : 0;
    rebuilt += refresh(m_keywords, lists.keywords) ? 1 : 0;
    return rebuilt;
}

Classification FastClassifier::classify(const MessageFields& message,
                                        const CheckSwitches& switches) const {
    Classification result;
    const QString sender = message.sender.toUpper();

    // A sender list that finds nothing leaves the text of its last comparison, the one with its
    // last non-empty entry; a list with no such entry shows nothing.
    if (isOn(switches.checkwhitelist) && m_whitelist.entryCount() > 0) {
        if (const qsizetype row = m_whitelist.firstMatch(sender)) {
            result.verdict = Verdict::Whitelisted;
            result.decidedBy = RuleList::Whitelist;
            result.row = row;
            result.place = MatchPlace::Sender;
            result.entry = m_whitelist.entry(row);
            result.status = whitelistDetectedStatus();
            return result;
        }
        result.status =
            senderCheckStatus(sender, m_whitelist.upperEntry(m_whitelist.lastEntryRow()));
    }

    if (isOn(switches.checkblacklist) && m_blacklist.entryCount() > 0) {
        if (const qsizetype row = m_blacklist.firstMatch(sender)) {
            result.verdict = Verdict::Spam;
            result.decidedBy = RuleList::Blacklist;
            result.row = row;
            result.place = MatchPlace::Sender;
            result.entry = m_blacklist.entry(row);
            result.status = senderCheckStatus(sender, m_blacklist.upperEntry(row));
            return result;
        }
        result.status =
            senderCheckStatus(sender, m_blacklist.upperEntry(m_blacklist.lastEntryRow()));
    }

    if (isOn(switches.checkspamcop)) {
        if (const auto address = receivedAddress(message.received.toUpper()))
            result.status = addressCheckStatus(*address);
    }

    if (isOn(switches.checkkeywords) && m_keywords.entryCount() > 0) {
        // Each keyword is looked for in the subject and then in the body before the next one,
        // so the deciding keyword is the lowest row found in either text; the subject wins only
        // for that same row.
        const qsizetype inSubject = m_keywords.firstMatchUpperCasing(message.subject);
        // When the subject holds the first keyword there is nothing left to find in the body.
        const bool firstInSubject = inSubject != 0 && m_keywords.entriesUpTo(inSubject) == 1;
        const qsizetype inBody =
            firstInSubject ? 0 : m_keywords.firstMatchUpperCasing(message.body);
        qsizetype row = inSubject;
        if (inBody != 0 && (row == 0 || inBody < row))
            row = inBody;
        if (row != 0) {
            result.verdict = Verdict::Spam;
            result.decidedBy = RuleList::Keywords;
            result.row = row;
            result.keywordChecks = m_keywords.entriesUpTo(row);
            result.place = row == inSubject ? MatchPlace::Subject : MatchPlace::Body;
            result.entry = m_keywords.entry(row);
            const QString keyword = m_keywords.upperEntry(row);
            result.status = result.place == MatchPlace::Subject ? keywordSubjectStatus(keyword)
                                                                : keywordBodyStatus(keyword);
            return result;
        }
        result.keywordChecks = m_keywords.entryCount();
        result.status = keywordBodyStatus(m_keywords.upperEntry(m_keywords.lastEntryRow()));
    }

    return result;
}
