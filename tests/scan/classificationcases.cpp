#include "classificationcases.h"

#include <QTest>

namespace {

QString u(const char* text) {
    return QString::fromUtf8(text);
}

MessageFields message(const char* sender, const char* subject = "", const char* body = "",
                      const char* received = "") {
    return {u(sender), u(subject), u(body), u(received)};
}

QStringList list(std::initializer_list<const char*> entries) {
    QStringList l;
    for (const char* e : entries)
        l.append(u(e));
    return l;
}

Classification kept(std::optional<QString> status = std::nullopt, qsizetype checks = 0) {
    return {Verdict::Kept, RuleList::None, 0, std::move(status), checks};
}

Classification whitelisted(qsizetype row) {
    return {Verdict::Whitelisted, RuleList::Whitelist, row, u("WHITELIST ADDRESS DETECTED"), 0};
}

Classification spam(RuleList by, qsizetype row, const char* status, qsizetype checks = 0) {
    return {Verdict::Spam, by, row, u(status), checks};
}

const CheckSwitches kAllOn{1, 1, 1, 1};
const CheckSwitches kWhitelistOnly{1, 0, 0, 0};
const CheckSwitches kBlacklistOnly{0, 1, 0, 0};
const CheckSwitches kAddressOnly{0, 0, 1, 0};
const CheckSwitches kKeywordsOnly{0, 0, 0, 1};

} // namespace

QList<ClassificationCase> classificationCases() {
    const RuleLists none;
    QList<ClassificationCase> cases;

    // Sender lists.
    cases.append({"whitelisted domain in other case, after a display name",
                  message("Alice Example <alice@Example.COM>", "alice"),
                  kAllOn,
                  {list({"example.com"}), list({"example"}), list({"alice"})},
                  whitelisted(1)});
    cases.append({"whitelist entry matching the start of the address",
                  message("bob@corp.net"),
                  kWhitelistOnly,
                  {list({"zzz", "bo"}), {}, {}},
                  whitelisted(2)});
    cases.append({"whitelist entry matching the end of the sender",
                  message("<bob@corp.net>"),
                  kWhitelistOnly,
                  {list({"net>"}), {}, {}},
                  whitelisted(1)});
    cases.append({"sender in both lists stays",
                  message("promo@shop.com"),
                  {1, 1, 0, 0},
                  {list({"shop.com"}), list({"promo"}), {}},
                  whitelisted(1)});
    cases.append({"whitelist miss leaves its last comparison",
                  message("x@y.z"),
                  kWhitelistOnly,
                  {list({"a.b", "c.d"}), {}, {}},
                  kept(u("FROM is X@Y.Z CHECKING FOR C.D"))});
    cases.append(
        {"blacklisted before keywords are looked at",
         message("Deals <x@Spammer.biz>", "deals"),
         {1, 1, 0, 1},
         {list({"friend"}), list({"nomatch", "spammer.BIZ", "x@"}), list({"deals"})},
         spam(RuleList::Blacklist, 2, "FROM is DEALS <X@SPAMMER.BIZ> CHECKING FOR SPAMMER.BIZ")});
    cases.append({"blacklist miss, then keywords",
                  message("a@b.c", "hi", "there"),
                  {0, 1, 0, 1},
                  {{}, list({"zz"}), list({"qq"})},
                  kept(u("KEYWORD CHECK = QQ CHECKING BODY"), 1)});
    cases.append({"blacklist miss leaves its last comparison",
                  message("a@b.c"),
                  kBlacklistOnly,
                  {{}, list({"zz", "yy"}), {}},
                  kept(u("FROM is A@B.C CHECKING FOR YY"))});

    // Keywords.
    cases.append({"phrase in the subject in other case",
                  message("a@b.c", "Get FREE Money now", "free money"),
                  kKeywordsOnly,
                  {{}, {}, list({"free money"})},
                  spam(RuleList::Keywords, 1, "KEYWORD CHECK = FREE MONEY CHECKING SUBJECT", 1)});
    cases.append({"keyword only in the body",
                  message("a@b.c", "Hello", "click to Unsubscribe"),
                  kKeywordsOnly,
                  {{}, {}, list({"unsubscribe"})},
                  spam(RuleList::Keywords, 1, "KEYWORD CHECK = UNSUBSCRIBE CHECKING BODY", 1)});
    cases.append({"earlier keyword in the body beats a later one in the subject",
                  message("a@b.c", "You are a WINNER", "cheap viagra"),
                  kKeywordsOnly,
                  {{}, {}, list({"viagra", "winner"})},
                  spam(RuleList::Keywords, 1, "KEYWORD CHECK = VIAGRA CHECKING BODY", 1)});
    cases.append({"later keyword in the subject after misses",
                  message("a@b.c", "winner"),
                  kKeywordsOnly,
                  {{}, {}, list({"aaa", "bbb", "winner"})},
                  spam(RuleList::Keywords, 3, "KEYWORD CHECK = WINNER CHECKING SUBJECT", 3)});
    cases.append({"no keyword found",
                  message("a@b.c", "x", "y"),
                  kKeywordsOnly,
                  {{}, {}, list({"aaa", "bbb"})},
                  kept(u("KEYWORD CHECK = BBB CHECKING BODY"), 2)});
    cases.append({"duplicate keyword keeps its first row",
                  message("a@b.c", "deal"),
                  kKeywordsOnly,
                  {{}, {}, list({"zz", "deal", "deal"})},
                  spam(RuleList::Keywords, 2, "KEYWORD CHECK = DEAL CHECKING SUBJECT", 2)});
    cases.append({"keyword inside a longer one",
                  message("a@b.c", "", "money talks"),
                  kKeywordsOnly,
                  {{}, {}, list({"money back", "money"})},
                  spam(RuleList::Keywords, 2, "KEYWORD CHECK = MONEY CHECKING BODY", 2)});

    // Switches.
    cases.append({"all switches off",
                  message("spam@x", "viagra", "viagra", "from [1.2.3.4]"),
                  {0, 0, 0, 0},
                  {list({"spam"}), list({"spam"}), list({"viagra"})},
                  kept()});
    cases.append({"greyed whitelist does not run",
                  message("shop"),
                  {2, 1, 0, 0},
                  {list({"shop"}), list({"shop"}), {}},
                  spam(RuleList::Blacklist, 1, "FROM is SHOP CHECKING FOR SHOP")});
    cases.append({"greyed blacklist and keywords do not run",
                  message("shop", "x"),
                  {0, 2, 0, 2},
                  {{}, list({"shop"}), list({"x"})},
                  kept()});
    cases.append(
        {"switch on with an empty list shows nothing", message("a@b"), {1, 1, 0, 1}, none, kept()});

    // Empty and blank entries.
    cases.append({"empty entries are skipped",
                  message("bob@x", "s", "b"),
                  {1, 1, 0, 1},
                  {list({"", "zzz", ""}), list({"", "qqq"}), list({"", "nope", ""})},
                  kept(u("KEYWORD CHECK = NOPE CHECKING BODY"), 1)});
    cases.append({"lists of empty entries only show nothing",
                  message("bob@x", "s", "b"),
                  {1, 1, 0, 1},
                  {list({""}), list({"", ""}), list({""})},
                  kept()});
    cases.append({"empty keywords keep the address status",
                  message("a@b", "s", "b", "from [10.1.2.3] by mx"),
                  {0, 0, 1, 1},
                  {{}, {}, list({"", ""})},
                  kept(u("CHECKING IP ADDRESS 10.1.2.3"))});
    cases.append({"one-space keyword is compared",
                  message("a@b", "two words"),
                  kKeywordsOnly,
                  {{}, {}, list({" "})},
                  spam(RuleList::Keywords, 1, "KEYWORD CHECK =   CHECKING SUBJECT", 1)});
    cases.append({"one-space keyword and texts without blanks",
                  message("a@b", "one", "word"),
                  kKeywordsOnly,
                  {{}, {}, list({" "})},
                  kept(u("KEYWORD CHECK =   CHECKING BODY"), 1)});
    cases.append({"one-space whitelist entry",
                  message("Bob <b@x>"),
                  kWhitelistOnly,
                  {list({" "}), {}, {}},
                  whitelisted(1)});
    cases.append({"empty message fields are compared",
                  message(""),
                  kAllOn,
                  {list({"a"}), list({"b"}), list({"c"})},
                  kept(u("KEYWORD CHECK = C CHECKING BODY"), 1)});

    // The address check.
    cases.append({"address in brackets after from",
                  message("a@b", "", "", "from [192.168.1.5] by mail.example.com"), kAddressOnly,
                  none, kept(u("CHECKING IP ADDRESS 192.168.1.5"))});
    cases.append({"address after a host name and a parenthesis",
                  message("a@b", "", "", "from host.example (host.example [10.0.0.1]) by mx"),
                  kAddressOnly, none, kept()});
    cases.append({"no closing bracket", message("a@b", "", "", "from [10.0.0.1 by mx"),
                  kAddressOnly, none, kept()});
    cases.append({"closing bracket before the opening one",
                  message("a@b", "", "", "x] from [10.0.0.1]"), kAddressOnly, none,
                  kept(u("CHECKING IP ADDRESS X"))});
    cases.append({"closing bracket first of all", message("a@b", "", "", "]from [1.2.3.4]"),
                  kAddressOnly, none, kept(u("CHECKING IP ADDRESS "))});
    cases.append({"address upper-cased", message("a@b", "", "", "From [IPv6:2001:db8::1] by x"),
                  kAddressOnly, none, kept(u("CHECKING IP ADDRESS IPV6:2001:DB8::1"))});
    cases.append({"first brackets are taken",
                  message("a@b", "", "", "(helo [1.1.1.1]) from [2.2.2.2]"), kAddressOnly, none,
                  kept(u("CHECKING IP ADDRESS 1.1.1.1"))});
    cases.append({"address check decides nothing",
                  message("spam@x", "viagra", "", "from [1.2.3.4]"),
                  kAddressOnly,
                  {list({"spam"}), list({"spam"}), list({"viagra"})},
                  kept(u("CHECKING IP ADDRESS 1.2.3.4"))});
    cases.append({"keyword check follows the address check",
                  message("a@b", "cheap pills", "", "from [1.2.3.4]"),
                  {0, 0, 1, 1},
                  {{}, {}, list({"pills"})},
                  spam(RuleList::Keywords, 1, "KEYWORD CHECK = PILLS CHECKING SUBJECT", 1)});

    // Letters whose upper case differs in length or needs two code units.
    cases.append({"sharp s upper-cased to two letters",
                  message("a@b", "STRASSE sale"),
                  kKeywordsOnly,
                  {{}, {}, list({"straße"})},
                  spam(RuleList::Keywords, 1, "KEYWORD CHECK = STRASSE CHECKING SUBJECT", 1)});
    cases.append({"keyword with ss found as sharp s",
                  message("a@b", "", "Große Straße"),
                  kKeywordsOnly,
                  {{}, {}, list({"strasse"})},
                  spam(RuleList::Keywords, 1, "KEYWORD CHECK = STRASSE CHECKING BODY", 1)});
    cases.append({"accented whitelist entry",
                  message("ÉMILE <emile@x.fr>"),
                  kWhitelistOnly,
                  {list({"émile"}), {}, {}},
                  whitelisted(1)});
    cases.append(
        {"letters beyond the basic plane",
         message("a@b", "\xF0\x90\x90\x80"),
         kKeywordsOnly,
         {{}, {}, list({"\xF0\x90\x90\xA8"})},
         spam(RuleList::Keywords, 1, "KEYWORD CHECK = \xF0\x90\x90\x80 CHECKING SUBJECT", 1)});
    return cases;
}

char* toString(const Classification& c) {
    static const char* const verdicts[] = {"kept", "whitelisted", "spam"};
    static const char* const lists[] = {"none", "whitelist", "blacklist", "keywords"};
    const QString text = QStringLiteral("%1 by %2 row %3, %4 keyword checks, status %5")
                             .arg(QLatin1String(verdicts[static_cast<int>(c.verdict)]),
                                  QLatin1String(lists[static_cast<int>(c.decidedBy)]))
                             .arg(c.row)
                             .arg(c.keywordChecks)
                             .arg(c.status ? QLatin1Char('"') + *c.status + QLatin1Char('"')
                                           : QStringLiteral("(none)"));
    return QTest::toString(text);
}
