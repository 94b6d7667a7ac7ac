// The list matcher and the fast classification, checked against the row-by-row classification.
#include "classificationcases.h"
#include "scan/classification.h"
#include "scan/fastclassifier.h"
#include "scan/listmatcher.h"
#include "scan/pop3/parsedmessage.h"
#include "support/corpus.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

QString u(const char* text) {
    return QString::fromUtf8(text);
}

QStringList list(std::initializer_list<const char*> entries) {
    QStringList l;
    for (const char* e : entries)
        l.append(u(e));
    return l;
}

// The lowest 1-based row whose upper-cased entry occurs in the text, found the slow way.
qsizetype firstMatchByRows(const QStringList& entries, const QString& upperText) {
    for (qsizetype i = 0; i < entries.size(); ++i) {
        if (!entries.at(i).isEmpty() && upperText.contains(entries.at(i).toUpper()))
            return i + 1;
    }
    return 0;
}

// Pieces from which random entries and texts are glued, chosen so that matches overlap, nest
// and repeat, and so that upper-casing changes lengths and splits surrogate pairs.
const QStringList& pieces() {
    static const QStringList p{
        u("a"),
        u("b"),
        u("ab"),
        u("ba"),
        u("A"),
        u(" "),
        u("ß"),
        u("ss"),
        u("S"),
        u("é"),
        u("É"),
        u("ﬁ"),
        u("fi"),
        u("["),
        u("]"),
        u("from ["),
        u("@"),
        u("𐐨"),
        u("𐐀"),                 // a letter beyond the basic plane, lower and upper case
        QString(QChar(0xD801)), // a lone high surrogate
        QString(QChar(0xDC00)), // a lone low surrogate
    };
    return p;
}

QString randomText(QRandomGenerator& rng, int maxPieces) {
    QString text;
    const int n = static_cast<int>(rng.bounded(maxPieces + 1));
    for (int i = 0; i < n; ++i)
        text += pieces().at(rng.bounded(pieces().size()));
    return text;
}

QStringList randomList(QRandomGenerator& rng) {
    QStringList l;
    const int n = static_cast<int>(rng.bounded(7));
    for (int i = 0; i < n; ++i) {
        switch (rng.bounded(6)) {
        case 0:
            l.append(QString()); // empty rows
            break;
        case 1:
            if (!l.isEmpty()) { // duplicates
                l.append(l.at(rng.bounded(l.size())));
                break;
            }
            Q_FALLTHROUGH();
        default:
            l.append(randomText(rng, 3));
        }
    }
    return l;
}

// A piece of the text at a random place, so that an entry made from it is found in that text.
QString pieceOf(QRandomGenerator& rng, const QString& text, int minLength, int maxLength) {
    if (text.size() < minLength)
        return text;
    const auto length =
        std::min<qsizetype>(text.size(), minLength + rng.bounded(maxLength - minLength + 1));
    return text.mid(rng.bounded(text.size() - length + 1), length);
}

// Letters that occur in no message of the corpus.
QString gibberish(QRandomGenerator& rng) {
    QString s = QStringLiteral("qx");
    const int n = 4 + static_cast<int>(rng.bounded(8));
    for (int i = 0; i < n; ++i)
        s += QChar(u'j' + rng.bounded(4));
    return s + QStringLiteral("zq");
}

} // namespace

class TestFastClassifier : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rules_data();
    void rules();
    void matcherFindsLowestRow_data();
    void matcherFindsLowestRow();
    void matcherCounts();
    void rebuildOnlyWhenListsChange();
    void agreesOnRandomCases();
    void agreesOnLargeLists();
    void agreesOnTheMailCorpus();
};

void TestFastClassifier::rules_data() {
    QTest::addColumn<int>("index");
    const auto cases = classificationCases();
    for (int i = 0; i < cases.size(); ++i)
        QTest::newRow(cases.at(i).name) << i;
}

void TestFastClassifier::rules() {
    QFETCH(int, index);
    const ClassificationCase c = classificationCases().at(index);
    const FastClassifier fast(c.lists);
    QCOMPARE(fast.classify(c.message, c.switches), c.expected);
}

void TestFastClassifier::matcherFindsLowestRow_data() {
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("text");
    QTest::addColumn<qsizetype>("row");

    QTest::newRow("empty list") << QStringList() << u("ANY") << qsizetype(0);
    QTest::newRow("empty entries never match") << list({"", ""}) << u("ANY") << qsizetype(0);
    QTest::newRow("empty text") << list({"a"}) << QString() << qsizetype(0);
    QTest::newRow("overlapping entries")
        << list({"hers", "his", "she", "he"}) << u("USHERS") << qsizetype(1);
    QTest::newRow("lowest row though found later in the text")
        << list({"zz", "ers", "ush"}) << u("USHERS") << qsizetype(2);
    QTest::newRow("entry inside another") << list({"abcd", "bc"}) << u("XABCX") << qsizetype(2);
    QTest::newRow("found only through a failure link")
        << list({"abce", "bcd"}) << u("ABCD") << qsizetype(2);
    QTest::newRow("duplicates keep the lowest row")
        << list({"q", "abc", "x", "abc"}) << u("ABC") << qsizetype(2);
    QTest::newRow("entry longer than the text") << list({"abcdef"}) << u("ABC") << qsizetype(0);
    QTest::newRow("entry equal to the text") << list({"abc"}) << u("ABC") << qsizetype(1);
    QTest::newRow("lower-case entry, upper-cased text")
        << list({"straße"}) << u("STRASSE") << qsizetype(1);
    QTest::newRow("one blank") << list({"x", " "}) << u("A B") << qsizetype(2);
    QTest::newRow("pair beyond the basic plane") << list({"𐐨"}) << u("A𐐀B") << qsizetype(1);
    QTest::newRow("lone high surrogate inside a pair")
        << QStringList{QString(QChar(0xD801))} << u("𐐀") << qsizetype(1);
    QTest::newRow("non-ASCII first letters at the root")
        << list({"ÿz", "€", "中文"}) << u("A中文B") << qsizetype(3);
    QTest::newRow("many children under one node")
        << list({"xa", "xb", "xc", "xd", "xe", "xf", "xg", "xh", "xi", "xj", "xk", "x€"})
        << u("QX€ XK") << qsizetype(11);
    QTest::newRow("missing child among many")
        << list({"xa", "xb", "xc", "xd", "xe", "xf", "xg", "xh", "xi", "xj", "xk", "x€"})
        << u("XZ €X") << qsizetype(0);
}

void TestFastClassifier::matcherFindsLowestRow() {
    QFETCH(QStringList, entries);
    QFETCH(QString, text);
    QFETCH(qsizetype, row);
    QCOMPARE(ListMatcher(entries).firstMatch(text), row);
    QCOMPARE(firstMatchByRows(entries, text), row);
}

void TestFastClassifier::matcherCounts() {
    const ListMatcher m(list({"", "ab", " ", "", "ab", ""}));
    QCOMPARE(m.rowCount(), 6);
    QCOMPARE(m.entryCount(), 3);
    QCOMPARE(m.lastEntryRow(), 5);
    QCOMPARE(m.upperEntry(2), u("AB"));
    QCOMPARE(m.upperEntry(4), QString());
    const QList<qsizetype> upTo{0, 0, 1, 2, 2, 3, 3};
    for (qsizetype row = 0; row <= 6; ++row)
        QCOMPARE(m.entriesUpTo(row), upTo.at(row));

    const ListMatcher emptyOnly(list({"", ""}));
    QCOMPARE(emptyOnly.entryCount(), 0);
    QCOMPARE(emptyOnly.lastEntryRow(), 0);
    QCOMPARE(ListMatcher().firstMatch(u("X")), 0);
}

void TestFastClassifier::rebuildOnlyWhenListsChange() {
    RuleLists lists{list({"a"}), list({"b"}), list({"c", "d"})};
    FastClassifier fast;
    QCOMPARE(fast.setLists(lists), 3);
    QCOMPARE(fast.setLists(lists), 0);

    // An equal list built separately needs no rebuild either.
    const RuleLists copy{list({"a"}), list({"b"}), list({"c", "d"})};
    QCOMPARE(fast.setLists(copy), 0);

    // One cell edited: only that list is rebuilt, and the new entry is in effect.
    lists.keywords[1] = u("e");
    QCOMPARE(fast.setLists(lists), 1);
    const MessageFields message{u("x@y"), u("e"), QString(), QString()};
    QCOMPARE(fast.classify(message, {0, 0, 0, 1}).row, 2);

    // A row added at the end.
    lists.blacklist.append(QString());
    QCOMPARE(fast.setLists(lists), 1);
    QCOMPARE(fast.blacklist().rowCount(), 2);
}

void TestFastClassifier::agreesOnRandomCases() {
    QRandomGenerator rng(20240611);
    for (int i = 0; i < 20000; ++i) {
        const RuleLists lists{randomList(rng), randomList(rng), randomList(rng)};
        const MessageFields message{randomText(rng, 6), randomText(rng, 6), randomText(rng, 10),
                                    randomText(rng, 6)};
        const CheckSwitches switches{
            static_cast<int>(rng.bounded(3)), static_cast<int>(rng.bounded(3)),
            static_cast<int>(rng.bounded(3)), static_cast<int>(rng.bounded(3))};
        const Classification expected = classifyMessage(message, switches, lists);
        const Classification actual = FastClassifier(lists).classify(message, switches);
        if (actual != expected) {
            qInfo() << "case" << i << "lists" << lists.whitelist << lists.blacklist
                    << lists.keywords << "message" << message.sender << message.subject
                    << message.body << message.received;
            QCOMPARE(actual, expected);
        }
    }
}

void TestFastClassifier::agreesOnLargeLists() {
    // Lists far past 32,767 rows, with the deciding rows near the end.
    QRandomGenerator rng(7);
    RuleLists lists;
    for (int i = 0; i < 40000; ++i) {
        lists.whitelist.append(QStringLiteral("friend%1@home.example").arg(i));
        lists.blacklist.append(QStringLiteral("@spam%1.example").arg(i));
        lists.keywords.append(i % 1000 == 0 ? QString() : QStringLiteral("offer %1!").arg(i));
    }
    const FastClassifier fast(lists);
    const QList<MessageFields> messages{
        {u("Friend39999@HOME.example"), u("offer 39999!"), QString(), QString()},
        {u("x@spam39998.example"), QString(), QString(), QString()},
        {u("x@elsewhere.example"), u("last offer 39999!"), u("offer 39998!"), QString()},
        {u("x@elsewhere.example"), u("no offer"), u("nothing"), QString()},
    };
    for (const MessageFields& m : messages)
        QCOMPARE(fast.classify(m, {1, 1, 0, 1}), classifyMessage(m, {1, 1, 0, 1}, lists));
    QCOMPARE(fast.classify(messages.at(2), {1, 1, 0, 1}).row, 39999);
    QCOMPARE(fast.classify(messages.at(3), {1, 1, 0, 1}).keywordChecks, 40000 - 40);
}

void TestFastClassifier::agreesOnTheMailCorpus() {
    QStringList files = corpus::messageFiles(QStringLiteral("spam-1"));
    const QStringList ham = corpus::messageFiles(QStringLiteral("easy-ham-1"));
    if (files.isEmpty() || ham.isEmpty())
        QSKIP(corpus::kMissing);
    files += ham.mid(0, 1000);

    QList<MessageFields> messages;
    for (const QString& file : files) {
        QByteArray raw = corpus::readMessage(file);
        if (raw.startsWith("From ")) // the mbox separator line is not part of the message
            raw.remove(0, raw.indexOf('\n') + 1);
        const ParsedMessage parsed = parseMessage(raw);
        messages.append({parsed.sender, parsed.subject, parsed.body, parsed.header(u"Received:")});
    }
    const auto spamCount = files.size() - 1000;

    // Lists made of pieces of the messages themselves, so that entries are found in some
    // messages early in a list, late or not at all, mixed with entries found nowhere.
    QRandomGenerator rng(4242);
    const auto anyMessage = [&]() -> const MessageFields& {
        return messages.at(rng.bounded(messages.size()));
    };
    RuleLists lists;
    for (int i = 0; i < 150; ++i) {
        switch (rng.bounded(4)) {
        case 0:
            lists.whitelist.append(gibberish(rng));
            break;
        case 1:
            lists.whitelist.append(i % 10 == 0 ? QString() : gibberish(rng));
            break;
        default: // senders of ordinary mail
            lists.whitelist.append(
                pieceOf(rng, messages.at(spamCount + rng.bounded(1000)).sender, 6, 14));
        }
    }
    for (int i = 0; i < 300; ++i) {
        if (rng.bounded(3) == 0)
            lists.blacklist.append(i % 7 == 0 ? QString() : gibberish(rng));
        else // senders of spam
            lists.blacklist.append(pieceOf(rng, messages.at(rng.bounded(spamCount)).sender, 5, 12));
    }
    for (int i = 0; i < 400; ++i) {
        switch (rng.bounded(5)) {
        case 0:
            lists.keywords.append(pieceOf(rng, anyMessage().subject, 4, 12));
            break;
        case 1:
        case 2:
            lists.keywords.append(pieceOf(rng, anyMessage().body, 12, 30));
            break;
        case 3:
            lists.keywords.append(gibberish(rng));
            break;
        default:
            lists.keywords.append(QString());
        }
    }

    const FastClassifier fast(lists);
    const QList<CheckSwitches> settings{{1, 1, 1, 1}, {0, 1, 0, 1}, {2, 0, 1, 1}, {0, 0, 1, 0}};
    QMap<QString, int> outcomes;
    for (qsizetype i = 0; i < messages.size(); ++i) {
        const CheckSwitches switches = settings.at(i % settings.size());
        const Classification expected = classifyMessage(messages.at(i), switches, lists);
        const Classification actual = fast.classify(messages.at(i), switches);
        if (actual != expected)
            qInfo() << "message file" << files.at(i);
        QCOMPARE(actual, expected);
        const QString status = expected.status.value_or(QString());
        ++outcomes[QString::number(static_cast<int>(expected.decidedBy)) +
                   (status.endsWith(QLatin1String("BODY")) ? QStringLiteral(" body") : QString())];
    }
    // The lists reached every kind of outcome, so the comparison above covered them all.
    QVERIFY2(outcomes.value(QStringLiteral("0")) > 0, "no message kept");
    QVERIFY2(outcomes.value(QStringLiteral("0 body")) > 0, "no message kept after all keywords");
    QVERIFY2(outcomes.value(QStringLiteral("1")) > 0, "no message whitelisted");
    QVERIFY2(outcomes.value(QStringLiteral("2")) > 0, "no message blacklisted");
    QVERIFY2(outcomes.value(QStringLiteral("3")) > 0, "no keyword found in a subject");
    QVERIFY2(outcomes.value(QStringLiteral("3 body")) > 0, "no keyword found in a body");
}

QTEST_GUILESS_MAIN(TestFastClassifier)
#include "tst_fastclassifier.moc"
