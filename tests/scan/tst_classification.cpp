// The row-by-row classification: outcomes, and the status texts in the order the window shows
// them.
#include "classificationcases.h"
#include "scan/classification.h"

#include <QTest>

namespace {

struct Shown {
    QString text;
    bool thenYield;
    bool operator==(const Shown&) const = default;
};

// Runs the classification and records every status text it shows.
Classification run(const MessageFields& m, const CheckSwitches& s, const RuleLists& l,
                   QList<Shown>* shown) {
    return classifyMessage(m, s, l, [shown](const QString& text, bool thenYield) {
        shown->append({text, thenYield});
    });
}

QString u(const char* text) {
    return QString::fromUtf8(text);
}

char* toString(const Shown& s) {
    return QTest::toString(s.text + (s.thenYield ? QStringLiteral(" [yield]") : QString()));
}

} // namespace

class TestClassification : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rules_data();
    void rules();
    void statusTextsInOrder();
    void whitelistHitEndsTheChecks();
    void keywordInSubjectSkipsItsBodySearch();
    void listsEditedDuringAYieldDoNotChangeTheMessage();
    void rowsBeyondSixteenBits();
};

void TestClassification::rules_data() {
    QTest::addColumn<int>("index");
    const auto cases = classificationCases();
    for (int i = 0; i < cases.size(); ++i)
        QTest::newRow(cases.at(i).name) << i;
}

void TestClassification::rules() {
    QFETCH(int, index);
    const ClassificationCase c = classificationCases().at(index);
    QList<Shown> shown;
    const Classification result = run(c.message, c.switches, c.lists, &shown);
    QCOMPARE(result, c.expected);
    // The status reported is the one the window was left showing.
    QCOMPARE(result.status.has_value(), !shown.isEmpty());
    if (result.status)
        QCOMPARE(*result.status, shown.last().text);
    // The keyword-check counter grows once per subject comparison shown.
    const auto subjectChecks = std::count_if(shown.begin(), shown.end(), [](const Shown& s) {
        return s.text.endsWith(QLatin1String(" CHECKING SUBJECT"));
    });
    QCOMPARE(result.keywordChecks, subjectChecks);
}

void TestClassification::statusTextsInOrder() {
    const MessageFields message{u("Bob <bob@x.org>"), u("Hello"), u("see k2 inside"),
                                u("from [1.2.3.4] by mx")};
    const RuleLists lists{{u("w1")}, {u("b1"), u("")}, {u("k1"), u(""), u("k2"), u("k3")}};
    QList<Shown> shown;
    const Classification result = run(message, {1, 1, 1, 1}, lists, &shown);

    const QList<Shown> expected{
        {u("FROM is BOB <BOB@X.ORG> CHECKING FOR W1"), true},
        {u("FROM is BOB <BOB@X.ORG> CHECKING FOR B1"), true},
        {u("CHECKING IP ADDRESS 1.2.3.4"), false},
        {u("KEYWORD CHECK = K1 CHECKING SUBJECT"), true},
        {u("KEYWORD CHECK = K1 CHECKING BODY"), true},
        {u("KEYWORD CHECK = K2 CHECKING SUBJECT"), true},
        {u("KEYWORD CHECK = K2 CHECKING BODY"), true},
    };
    QCOMPARE(shown, expected);
    QCOMPARE(result.verdict, Verdict::Spam);
    QCOMPARE(result.decidedBy, RuleList::Keywords);
    QCOMPARE(result.row, 3);
    QCOMPARE(result.keywordChecks, 2);
}

void TestClassification::whitelistHitEndsTheChecks() {
    const MessageFields message{u("friend@home.net"), u("viagra"), u("viagra"),
                                u("from [1.2.3.4]")};
    const RuleLists lists{{u("nobody"), u("HOME.net")}, {u("friend")}, {u("viagra")}};
    QList<Shown> shown;
    const Classification result = run(message, {1, 1, 1, 1}, lists, &shown);

    const QList<Shown> expected{
        {u("FROM is FRIEND@HOME.NET CHECKING FOR NOBODY"), true},
        {u("FROM is FRIEND@HOME.NET CHECKING FOR HOME.NET"), true},
        {u("WHITELIST ADDRESS DETECTED"), false},
    };
    QCOMPARE(shown, expected);
    QCOMPARE(result.verdict, Verdict::Whitelisted);
    QCOMPARE(result.row, 2);
}

void TestClassification::keywordInSubjectSkipsItsBodySearch() {
    QList<Shown> shown;
    const Classification result = run({u("a@b"), u("Cheap Pills"), u("pills"), QString()},
                                      {0, 0, 0, 1}, {{}, {}, {u("watches"), u("pills")}}, &shown);
    const QList<Shown> expected{
        {u("KEYWORD CHECK = WATCHES CHECKING SUBJECT"), true},
        {u("KEYWORD CHECK = WATCHES CHECKING BODY"), true},
        {u("KEYWORD CHECK = PILLS CHECKING SUBJECT"), true},
    };
    QCOMPARE(shown, expected);
    QCOMPARE(result.row, 2);
}

void TestClassification::listsEditedDuringAYieldDoNotChangeTheMessage() {
    // While the window yields the user may delete rows; the message in progress is still judged
    // against the lists it started with, and the loop does not run past the shortened list.
    RuleLists lists{{}, {}, {u("aa"), u("bb"), u("cc")}};
    QStringList seen;
    const Classification result =
        classifyMessage({u("x@y"), u("s"), u("has cc"), QString()}, {0, 0, 0, 1}, lists,
                        [&](const QString& text, bool) {
                            seen.append(text);
                            lists.keywords.clear();
                        });
    QCOMPARE(result.verdict, Verdict::Spam);
    QCOMPARE(result.row, 3);
    QCOMPARE(result.keywordChecks, 3);
    QCOMPARE(seen.size(), 6);
}

void TestClassification::rowsBeyondSixteenBits() {
    const int rows = 40000;
    RuleLists lists;
    for (int i = 0; i < rows; ++i)
        lists.keywords.append(QStringLiteral("word%1x").arg(i));
    const MessageFields message{u("a@b"), u("nothing here"),
                                QStringLiteral("so word%1x").arg(rows - 1), QString()};
    const Classification result = classifyMessage(message, {0, 0, 0, 1}, lists);
    QCOMPARE(result.verdict, Verdict::Spam);
    QCOMPARE(result.row, rows);
    QCOMPARE(result.keywordChecks, rows);
}

QTEST_GUILESS_MAIN(TestClassification)
#include "tst_classification.moc"
