#include "support/referenceclassifier.h"

namespace {

bool isOn(int switchValue) {
    return switchValue == 1;
}

void show(const StatusCallback& onStatus, std::optional<QString>& status, const QString& text,
          bool thenYield) {
    status = text;
    if (onStatus)
        onStatus(text, thenYield);
}

// Walks one sender list in row order. Returns the 1-based row of the first entry found in the
// sender, or 0.
qsizetype checkSender(const QString& upperSender, const QStringList& entries,
                      const StatusCallback& onStatus, std::optional<QString>& status) {
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (entries.at(i).isEmpty())
            continue;
        const QString entry = entries.at(i).toUpper();
        show(onStatus, status, senderCheckStatus(upperSender, entry), true);
        if (upperSender.contains(entry))
            return i + 1;
    }
    return 0;
}

} // namespace

Classification classifyMessage(const MessageFields& messageIn, const CheckSwitches& switches,
                               const RuleLists& listsIn, const StatusCallback& onStatus) {
    // The callback may let window events run, and an edit of a grid then must not change the
    // lists under the loop: the message is judged against the lists as they were at its start.
    // The copies share their data with the caller's until one side changes.
    const MessageFields message = messageIn;
    const RuleLists lists = listsIn;

    Classification result;
    const QString sender = message.sender.toUpper();

    if (isOn(switches.checkwhitelist)) {
        if (const qsizetype row = checkSender(sender, lists.whitelist, onStatus, result.status)) {
            show(onStatus, result.status, whitelistDetectedStatus(), false);
            result.verdict = Verdict::Whitelisted;
            result.decidedBy = RuleList::Whitelist;
            result.row = row;
            result.place = MatchPlace::Sender;
            result.entry = lists.whitelist.at(row - 1);
            return result;
        }
    }

    if (isOn(switches.checkblacklist)) {
        if (const qsizetype row = checkSender(sender, lists.blacklist, onStatus, result.status)) {
            result.verdict = Verdict::Spam;
            result.decidedBy = RuleList::Blacklist;
            result.row = row;
            result.place = MatchPlace::Sender;
            result.entry = lists.blacklist.at(row - 1);
            return result;
        }
    }

    // The address is only shown; no verdict follows from it.
    if (isOn(switches.checkspamcop)) {
        if (const auto address = receivedAddress(message.received.toUpper()))
            show(onStatus, result.status, addressCheckStatus(*address), false);
    }

    if (isOn(switches.checkkeywords)) {
        // Upper-cased once per message rather than once per keyword: the same texts result.
        const QString subject = message.subject.toUpper();
        const QString body = message.body.toUpper();
        for (qsizetype i = 0; i < lists.keywords.size(); ++i) {
            if (lists.keywords.at(i).isEmpty())
                continue;
            const QString keyword = lists.keywords.at(i).toUpper();
            show(onStatus, result.status, keywordSubjectStatus(keyword), true);
            ++result.keywordChecks;
            MatchPlace found = subject.contains(keyword) ? MatchPlace::Subject : MatchPlace::None;
            if (found == MatchPlace::None) {
                show(onStatus, result.status, keywordBodyStatus(keyword), true);
                if (body.contains(keyword))
                    found = MatchPlace::Body;
            }
            if (found != MatchPlace::None) {
                result.verdict = Verdict::Spam;
                result.decidedBy = RuleList::Keywords;
                result.row = i + 1;
                result.place = found;
                result.entry = lists.keywords.at(i);
                return result;
            }
        }
    }

    return result;
}
