// The row-by-row classification: outcomes, and the status texts in the order the window shows
// them.
#include "classificationcases.h"
#include "support/referenceclassifier.h"

#include <QTest>

Q_DECLARE_METATYPE(MessageFields)
Q_DECLARE_METATYPE(RuleLists)

namespace {

QString u(const char* text) {
    return QString::fromUtf8(text);
}

// A status text and whether the window yields after it, written "text" or "text ~".
using Shown = QStringList;

Shown run(const MessageFields& m, const CheckSwitches& s, const RuleLists& l,
          Classification* result) {
    Shown shown;
    *result = classifyMessage(m, s, l, [&shown](const QString& text, bool thenYield) {
        shown.append(thenYield ? text + u(" ~") : text);
    });
    return shown;
}

} // namespace

class TestClassification : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rules_data();
    void rules();
    void statusTextsInOrder_data();
    void statusTextsInOrder();
    void listsEditedDuringAYieldDoNotChangeTheMessage();
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
    Classification result;
    const Shown shown = run(c.message, c.switches, c.lists, &result);
    QCOMPARE(result, c.expected);
    // The status reported is the one the window was left showing, and the keyword-check count
    // is the number of subject comparisons shown.
    QCOMPARE(result.status.has_value(), !shown.isEmpty());
    if (result.status)
        QVERIFY(shown.last() == *result.status || shown.last() == *result.status + u(" ~"));
    QCOMPARE(result.keywordChecks, shown.filter(u("CHECKING SUBJECT")).size());
}

void TestClassification::statusTextsInOrder_data() {
    QTest::addColumn<MessageFields>("message");
    QTest::addColumn<RuleLists>("lists");
    QTest::addColumn<Shown>("expected");

    QTest::newRow("every check, keyword in the body")
        << MessageFields{u("Bob <bob@x.org>"), u("Hello"), u("see k2"), u("from [1.2.3.4] by mx")}
        << RuleLists{{u("w1")}, {u("b1"), u("")}, {u("k1"), u(""), u("k2"), u("k3")}}
        << Shown{u("FROM is BOB <BOB@X.ORG> CHECKING FOR W1 ~"),
                 u("FROM is BOB <BOB@X.ORG> CHECKING FOR B1 ~"),
                 u("CHECKING IP ADDRESS 1.2.3.4"),
                 u("KEYWORD CHECK = K1 CHECKING SUBJECT ~"),
                 u("KEYWORD CHECK = K1 CHECKING BODY ~"),
                 u("KEYWORD CHECK = K2 CHECKING SUBJECT ~"),
                 u("KEYWORD CHECK = K2 CHECKING BODY ~")};
    QTest::newRow("whitelist hit ends the checks")
        << MessageFields{u("friend@home.net"), u("viagra"), u("viagra"), u("from [1.2.3.4]")}
        << RuleLists{{u("nobody"), u("HOME.net")}, {u("friend")}, {u("viagra")}}
        << Shown{u("FROM is FRIEND@HOME.NET CHECKING FOR NOBODY ~"),
                 u("FROM is FRIEND@HOME.NET CHECKING FOR HOME.NET ~"),
                 u("WHITELIST ADDRESS DETECTED")};
    QTest::newRow("keyword in the subject skips its body search")
        << MessageFields{u("a@b"), u("Cheap Pills"), u("pills"), QString()}
        << RuleLists{{}, {}, {u("watches"), u("pills")}}
        << Shown{u("KEYWORD CHECK = WATCHES CHECKING SUBJECT ~"),
                 u("KEYWORD CHECK = WATCHES CHECKING BODY ~"),
                 u("KEYWORD CHECK = PILLS CHECKING SUBJECT ~")};
}

void TestClassification::statusTextsInOrder() {
    QFETCH(MessageFields, message);
    QFETCH(RuleLists, lists);
    QFETCH(Shown, expected);
    Classification result;
    QCOMPARE(run(message, {1, 1, 1, 1}, lists, &result), expected);
}

void TestClassification::listsEditedDuringAYieldDoNotChangeTheMessage() {
    // While the window yields the user may delete rows; the message in progress is still judged
    // against the lists it started with, and the loop does not run past the shortened list.
    RuleLists lists{{}, {}, {u("aa"), u("bb"), u("cc")}};
    int shown = 0;
    const Classification result = classifyMessage({u("x@y"), u("s"), u("has cc"), QString()},
                                                  {0, 0, 0, 1}, lists, [&](const QString&, bool) {
                                                      ++shown;
                                                      lists.keywords.clear();
                                                  });
    QCOMPARE(result.row, 3);
    QCOMPARE(result.keywordChecks, 3);
    QCOMPARE(shown, 6);
}

QTEST_GUILESS_MAIN(TestClassification)
#include "tst_classification.moc"
