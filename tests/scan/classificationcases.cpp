#include "classificationcases.h"

#include <QTest>

namespace {

using L = std::initializer_list<const char*>;

QString u(const char* text) {
    return QString::fromUtf8(text);
}

QStringList list(L entries) {
    QStringList l;
    for (const char* e : entries)
        l.append(u(e));
    return l;
}

// The switches as four digits: whitelist, blacklist, address check, keywords.
CheckSwitches switches(const char* d) {
    return {d[0] - '0', d[1] - '0', d[2] - '0', d[3] - '0'};
}

Classification kept(const char* status = nullptr, qsizetype checks = 0) {
    return {Verdict::Kept,
            RuleList::None,
            0,
            status ? std::optional<QString>(u(status)) : std::nullopt,
            checks,
            MatchPlace::None,
            QString()};
}

// A deciding entry is reported as it stands in its list, not upper-cased: add() fills it in from
// the row of the case's list.
Classification whitelisted(qsizetype row) {
    return {Verdict::Whitelisted,
            RuleList::Whitelist,
            row,
            u("WHITELIST ADDRESS DETECTED"),
            0,
            MatchPlace::Sender,
            QString()};
}

Classification blacklisted(qsizetype row, const char* status) {
    return {Verdict::Spam, RuleList::Blacklist, row, u(status), 0, MatchPlace::Sender, QString()};
}

Classification keyword(qsizetype row, MatchPlace place, const char* status, qsizetype checks) {
    return {Verdict::Spam, RuleList::Keywords, row, u(status), checks, place, QString()};
}

constexpr MatchPlace kSubject = MatchPlace::Subject;
constexpr MatchPlace kBody = MatchPlace::Body;

struct Builder {
    QList<ClassificationCase> cases;
    // Sender, subject, body, "Received:" value; switches; whitelist, blacklist, keywords.
    void add(const char* name, const char* sender, const char* subject, const char* body,
             const char* received, const char* on, L wl, L bl, L kw, Classification expected) {
        const RuleLists lists{list(wl), list(bl), list(kw)};
        const QStringList* decided[] = {nullptr, &lists.whitelist, &lists.blacklist,
                                        &lists.keywords};
        if (const QStringList* entries = decided[static_cast<int>(expected.decidedBy)])
            expected.entry = entries->at(expected.row - 1);
        cases.append({name,
                      {u(sender), u(subject), u(body), u(received)},
                      switches(on),
                      lists,
                      std::move(expected)});
    }
};

} // namespace

QList<ClassificationCase> classificationCases() {
    Builder b;
    // Sender lists.
    b.add("whitelisted domain in other case, after a display name", "Alice <alice@Example.COM>",
          "alice", "", "", "1111", {"example.com"}, {"alice"}, {"alice"}, whitelisted(1));
    b.add("whitelist entry matching the start of the address", "bob@corp.net", "", "", "", "1000",
          {"zzz", "bo"}, {}, {}, whitelisted(2));
    b.add("whitelist miss leaves its last comparison", "x@y.z", "", "", "", "1000", {"a.b", "c.d"},
          {}, {}, kept("FROM is X@Y.Z CHECKING FOR C.D"));
    b.add("blacklisted before keywords are looked at", "Deals <x@Spammer.biz>", "deals", "", "",
          "1101", {"friend"}, {"nomatch", "spammer.BIZ", "x@"}, {"deals"},
          blacklisted(2, "FROM is DEALS <X@SPAMMER.BIZ> CHECKING FOR SPAMMER.BIZ"));
    b.add("blacklist miss leaves its last comparison", "a@b.c", "", "", "", "0100", {},
          {"zz", "yy"}, {}, kept("FROM is A@B.C CHECKING FOR YY"));
    b.add("blacklist miss, then keywords", "a@b.c", "hi", "there", "", "0101", {}, {"zz"}, {"qq"},
          kept("KEYWORD CHECK = QQ CHECKING BODY", 1));

    // Keywords: each in the subject, then in the body, before the next one.
    b.add("phrase in the subject in other case", "a@b.c", "Get FREE Money now", "free money", "",
          "0001", {}, {}, {"free money"},
          keyword(1, kSubject, "KEYWORD CHECK = FREE MONEY CHECKING SUBJECT", 1));
    b.add("keyword only in the body", "a@b.c", "Hello", "click to Unsubscribe", "", "0001", {}, {},
          {"unsubscribe"}, keyword(1, kBody, "KEYWORD CHECK = UNSUBSCRIBE CHECKING BODY", 1));
    b.add("earlier keyword in the body beats a later one in the subject", "a@b.c",
          "You are a WINNER", "cheap viagra", "", "0001", {}, {}, {"viagra", "winner"},
          keyword(1, kBody, "KEYWORD CHECK = VIAGRA CHECKING BODY", 1));
    b.add("later keyword in the subject after misses", "a@b.c", "winner", "", "", "0001", {}, {},
          {"aaa", "bbb", "winner"},
          keyword(3, kSubject, "KEYWORD CHECK = WINNER CHECKING SUBJECT", 3));
    b.add("no keyword found", "a@b.c", "x", "y", "", "0001", {}, {}, {"aaa", "bbb"},
          kept("KEYWORD CHECK = BBB CHECKING BODY", 2));
    b.add("duplicate keyword keeps its first row", "a@b.c", "deal", "", "", "0001", {}, {},
          {"zz", "deal", "deal"}, keyword(2, kSubject, "KEYWORD CHECK = DEAL CHECKING SUBJECT", 2));

    // Switches: only the value 1 runs a check.
    b.add("all switches off", "spam@x", "viagra", "viagra", "from [1.2.3.4]", "0000", {"spam"},
          {"spam"}, {"viagra"}, kept());
    b.add("greyed switches do not run", "spam@x", "viagra", "", "", "2202", {"spam"}, {"spam"},
          {"viagra"}, kept());
    b.add("greyed whitelist leaves the blacklist to decide", "shop", "", "", "", "2100", {"shop"},
          {"shop"}, {}, blacklisted(1, "FROM is SHOP CHECKING FOR SHOP"));
    b.add("switches on with empty lists show nothing", "a@b", "", "", "", "1101", {}, {}, {},
          kept());

    // Empty entries are skipped; a blank is an entry like any other.
    b.add("empty entries are skipped", "bob@x", "s", "b", "", "1101", {"", "zzz", ""}, {"", "qqq"},
          {"", "nope", ""}, kept("KEYWORD CHECK = NOPE CHECKING BODY", 1));
    b.add("lists of empty entries only show nothing", "bob@x", "s", "b", "", "1101", {""}, {"", ""},
          {""}, kept());
    b.add("empty keywords keep the address status", "a@b", "s", "b", "from [10.1.2.3] by mx",
          "0011", {}, {}, {"", ""}, kept("CHECKING IP ADDRESS 10.1.2.3"));
    b.add("one-space keyword is compared", "a@b", "two words", "", "", "0001", {}, {}, {" "},
          keyword(1, kSubject, "KEYWORD CHECK =   CHECKING SUBJECT", 1));
    b.add("one-space keyword and texts without blanks", "a@b", "one", "word", "", "0001", {}, {},
          {" "}, kept("KEYWORD CHECK =   CHECKING BODY", 1));
    b.add("empty message fields are compared", "", "", "", "", "1111", {"a"}, {"b"}, {"c"},
          kept("KEYWORD CHECK = C CHECKING BODY", 1));

    // The address check shows the first bracketed text; it decides nothing.
    b.add("address in brackets after from", "a@b", "", "", "from [192.168.1.5] by mx.example",
          "0010", {}, {}, {}, kept("CHECKING IP ADDRESS 192.168.1.5"));
    b.add("address after a host name and a parenthesis", "a@b", "", "",
          "from host.example (host.example [10.0.0.1]) by mx", "0010", {}, {}, {}, kept());
    b.add("no closing bracket", "a@b", "", "", "from [10.0.0.1 by mx", "0010", {}, {}, {}, kept());
    b.add("closing bracket before the opening one", "a@b", "", "", "x] from [10.0.0.1]", "0010", {},
          {}, {}, kept("CHECKING IP ADDRESS X"));
    b.add("address upper-cased", "a@b", "", "", "From [IPv6:2001:db8::1] by x", "0010", {}, {}, {},
          kept("CHECKING IP ADDRESS IPV6:2001:DB8::1"));
    b.add("first brackets are taken", "a@b", "", "", "(helo [1.1.1.1]) from [2.2.2.2]", "0010", {},
          {}, {}, kept("CHECKING IP ADDRESS 1.1.1.1"));
    b.add("keyword check follows the address check", "spam@x", "cheap pills", "", "from [1.2.3.4]",
          "0011", {"spam"}, {"spam"}, {"pills"},
          keyword(1, kSubject, "KEYWORD CHECK = PILLS CHECKING SUBJECT", 1));

    // Letters whose upper case differs in length or needs two code units.
    b.add("sharp s upper-cased to two letters", "a@b", "STRASSE sale", "", "", "0001", {}, {},
          {"straße"}, keyword(1, kSubject, "KEYWORD CHECK = STRASSE CHECKING SUBJECT", 1));
    b.add("keyword with ss found as sharp s", "a@b", "", "Große Straße", "", "0001", {}, {},
          {"strasse"}, keyword(1, kBody, "KEYWORD CHECK = STRASSE CHECKING BODY", 1));
    b.add("letters beyond the basic plane", "a@b", "\xF0\x90\x90\x80", "", "", "0001", {}, {},
          {"\xF0\x90\x90\xA8"},
          keyword(1, kSubject, "KEYWORD CHECK = \xF0\x90\x90\x80 CHECKING SUBJECT", 1));
    return b.cases;
}

char* toString(const Classification& c) {
    static const char* const verdicts[] = {"kept", "whitelisted", "spam"};
    static const char* const lists[] = {"none", "whitelist", "blacklist", "keywords"};
    const QString text =
        QStringLiteral("%1 by %2 row %3, %4 keyword checks, status %5")
            .arg(QLatin1String(verdicts[static_cast<int>(c.verdict)]),
                 QLatin1String(lists[static_cast<int>(c.decidedBy)]))
            .arg(c.row)
            .arg(c.keywordChecks)
            .arg(c.status ? QLatin1Char('"') + *c.status + QLatin1Char('"')
                          : QStringLiteral("(none)")) +
        QStringLiteral(", found in %1, entry \"%2\"").arg(static_cast<int>(c.place)).arg(c.entry);
    return QTest::toString(text);
}
