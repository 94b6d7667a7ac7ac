#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Judging one fetched message against the whitelist, the blacklist, the address check and the
// keywords. Plain values in, plain values out: the scan pass reads the window's controls, calls
// one of the classifiers, and writes the outcome back.

// The version of the judging: raise it with every change to the checks (here, in the fast
// classifier or in the list matcher) or to what the pass reads of a message (the parser's sender,
// subject, body or "Received:" field) that could give any message another verdict or another
// keyword-check count. The pass skips messages it judged before under the same rules only (see
// rulesfingerprint.h), and this number is part of those rules: raising it makes the next pass judge
// every message again.
inline constexpr int kJudgingVersion = 1;

// The parts of a message the checks look at, as the POP3 component gives them.
struct MessageFields {
    QString sender;   // the From field
    QString subject;  // the Subject field
    QString body;     // the body text
    QString received; // the value of the (topmost) "Received:" field
};

// The values of the four check boxes of the Settings tab. A check runs only when its value is
// exactly 1 (ticked); 0 (clear) and 2 (greyed) both leave it off.
struct CheckSwitches {
    int checkwhitelist = 0;
    int checkblacklist = 0;
    int checkspamcop = 0;
    int checkkeywords = 0;

    bool operator==(const CheckSwitches&) const = default;
};

// The three rule lists: column 1 of each grid, row 1 first.
struct RuleLists {
    QStringList whitelist;
    QStringList blacklist;
    QStringList keywords;
};

enum class Verdict {
    Kept,        // no rule decided: the message stays on the server
    Whitelisted, // the sender holds a whitelist entry: left alone, nothing else checked
    Spam,        // blacklisted sender or keyword found: the caller runs the spam removal
};

enum class RuleList { None, Whitelist, Blacklist, Keywords };

// The part of the message in which the deciding entry was found.
enum class MatchPlace { None, Sender, Subject, Body };

struct Classification {
    Verdict verdict = Verdict::Kept;
    RuleList decidedBy = RuleList::None;
    // 1-based row of the entry that decided, 0 when nothing decided.
    qsizetype row = 0;
    // The last status text the checks showed, before any spam removal; empty when no check
    // showed anything (the status line keeps what it had).
    std::optional<QString> status;
    // How many keyword rows had their subject comparison: what the keyword-check counter grows by.
    qsizetype keywordChecks = 0;
    // Where the deciding entry was found, and the entry exactly as it stands in its list (not
    // upper-cased): what the user looks for to mend the list. None and empty when nothing decided.
    MatchPlace place = MatchPlace::None;
    QString entry;

    bool operator==(const Classification&) const = default;
};

// The address shown by the address check for an upper-cased "Received:" value, or nothing when
// the value holds no "FROM [" or no "]" at all.
std::optional<QString> receivedAddress(const QString& upperReceived);

// The status texts of the checks.
QString senderCheckStatus(const QString& upperSender, const QString& upperEntry);
QString whitelistDetectedStatus();
QString addressCheckStatus(const QString& address);
QString keywordSubjectStatus(const QString& upperKeyword);
QString keywordBodyStatus(const QString& upperKeyword);
