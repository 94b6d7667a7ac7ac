// The list matcher and the fast classification, checked against the row-by-row classification.
#include "classificationcases.h"
#include "scan/fastclassifier.h"
#include "scan/listmatcher.h"
#include "scan/pop3/parsedmessage.h"
#include "support/corpus.h"
#include "support/referenceclassifier.h"

#include <QRandomGenerator>
#include <QSet>
#include <QTest>

#include <functional>

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
// and repeat, so that upper-casing changes lengths, and so that surrogate pairs are split (a
// letter beyond the basic plane in lower and upper case, and both halves alone).
const QStringList& pieces() {
    static const QStringList p = list({"a", "b", "ab", "ba", "A", " ", "ß", "ss", "S", "é", "É",
                                       "ﬁ", "fi", "[", "]", "from [", "@", "𐐨", "𐐀"}) +
                                 QStringList{QChar(0xD801), QChar(0xDC00)};
    return p;
}

QString randomText(QRandomGenerator& rng, int maxPieces) {
    QString text;
    for (auto n = rng.bounded(maxPieces + 1); n > 0; --n)
        text += pieces().at(rng.bounded(pieces().size()));
    return text;
}

// Up to six rows, some empty, some repeating an earlier row.
QStringList randomList(QRandomGenerator& rng) {
    QStringList l;
    for (auto n = rng.bounded(7); n > 0; --n) {
        const auto r = rng.bounded(6);
        l.append(r == 0                   ? QString()
                 : r == 1 && !l.isEmpty() ? l.at(rng.bounded(l.size()))
                                          : randomText(rng, 3));
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
    void upperCasingPieceByPiece();
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

    const QStringList many =
        list({"xa", "xb", "xc", "xd", "xe", "xf", "xg", "xh", "xi", "xj", "xk", "x€"});
    QTest::newRow("empty entries never match") << list({"", ""}) << u("ANY") << qsizetype(0);
    QTest::newRow("overlapping entries")
        << list({"hers", "his", "she", "he"}) << u("USHERS") << qsizetype(1);
    QTest::newRow("lowest row though found later in the text")
        << list({"zz", "ers", "ush"}) << u("USHERS") << qsizetype(2);
    QTest::newRow("entry inside another") << list({"abcd", "bc"}) << u("XABCX") << qsizetype(2);
    QTest::newRow("found after a failure link")
        << list({"abce", "bcd"}) << u("ABCD") << qsizetype(2);
    QTest::newRow("duplicates keep the lowest row")
        << list({"q", "abc", "x", "abc"}) << u("ABC") << qsizetype(2);
    QTest::newRow("lone high surrogate inside a pair")
        << QStringList{QString(QChar(0xD801))} << u("𐐀") << qsizetype(1);
    QTest::newRow("non-ASCII first letters")
        << list({"ÿz", "€", "中文"}) << u("A中文B") << qsizetype(3);
    // More children than are searched one by one.
    QTest::newRow("many children") << many << u("QX€ XK") << qsizetype(11);
    QTest::newRow("missing child among many") << many << u("XZ €X") << qsizetype(0);
}

void TestFastClassifier::matcherFindsLowestRow() {
    QFETCH(QStringList, entries);
    QFETCH(QString, text);
    QFETCH(qsizetype, row);
    QCOMPARE(ListMatcher(entries).firstMatch(text), row);
    QCOMPARE(firstMatchByRows(entries, text), row);
}

void TestFastClassifier::upperCasingPieceByPiece() {
    // Long texts are upper-cased a few thousand characters at a time while they are searched.
    // Around every place where one piece may end: a pair of surrogates, letters that grow when
    // upper-cased, an entry that starts in one piece and ends in the next.
    QRandomGenerator rng(31337);
    const QStringList entries = list({"𐐀𐐀", "SSA", "ﬁX", "qq ZZ", "ab", "é"});
    for (int round = 0; round < 400; ++round) {
        QString text;
        const int length = 8180 + int(rng.bounded(40)) + 8192 * int(rng.bounded(3));
        while (text.size() < length)
            text += pieces().at(rng.bounded(pieces().size())) + (rng.bounded(8) ? u("q") : u("z"));
        const qsizetype cut = 8185 + rng.bounded(12);
        text.insert(cut, QStringList({u("𐐨𐐨"), u("ßa"), u("ﬁx"), u("qq zz")}).at(round % 4));
        // Entries that are rare in the text, so that a row is decided by the inserted piece.
        const ListMatcher matcher({entries.at(round % 4), u("ab"), u("é")});
        QCOMPARE(matcher.firstMatchUpperCasing(text), matcher.firstMatch(text.toUpper()));
        QCOMPARE(ListMatcher(entries).firstMatchUpperCasing(text),
                 ListMatcher(entries).firstMatch(text.toUpper()));
    }
    // Plain ASCII pieces, upper-cased the quick way, next to pieces that are not: an entry across
    // the border either way, and one within ASCII text only.
    for (int round = 0; round < 48; ++round) {
        const QString ascii = QString(8180 + round % 24, QChar(u'q'));
        const QString wide = u("é") + QString(8192, QChar(u'q'));
        const QString across = u("abcdé~{}");
        QString text = round < 24 ? ascii + across + wide : wide + ascii + across;
        text.insert(8185 + round % 12, across);
        const ListMatcher matcher({u("ÀB"), u("CDÉ~"), u("BCDÉ~{"), u("Q~")});
        QCOMPARE(matcher.firstMatchUpperCasing(text), matcher.firstMatch(text.toUpper()));
        QVERIFY(matcher.firstMatchUpperCasing(text) > 1);
    }
    const QString plain = QString(8190, QChar(u'x')) + u("[ab c]") + QString(9000, QChar(u'x'));
    QCOMPARE(ListMatcher({u("X[AB"), u("B C]X")}).firstMatchUpperCasing(plain), 1);
    QCOMPARE(ListMatcher({u("ab  c"), u("x[ab c]y")}).firstMatchUpperCasing(plain), 0);
    // A text that ends in half a pair, and the empty text.
    const QString halfPair = QString(8191, QChar(u'x')) + QChar(0xD801);
    QCOMPARE(ListMatcher({QString(QChar(0xD801))}).firstMatchUpperCasing(halfPair), 1);
    QCOMPARE(ListMatcher({u("x")}).firstMatchUpperCasing(QString()), 0);
}

void TestFastClassifier::rebuildOnlyWhenListsChange() {
    RuleLists lists{list({"a"}), list({"b"}), list({"c", "d"})};
    FastClassifier fast;
    QCOMPARE(fast.setLists(lists), 3);
    QCOMPARE(fast.setLists(lists), 0);
    // An equal list built separately needs no rebuild either.
    QCOMPARE(fast.setLists({list({"a"}), list({"b"}), list({"c", "d"})}), 0);

    // One cell edited: only that list is rebuilt, and the new entry is in effect.
    lists.keywords[1] = u("e");
    QCOMPARE(fast.setLists(lists), 1);
    QCOMPARE(fast.classify({u("x@y"), u("e"), QString(), QString()}, {0, 0, 0, 1}).row, 2);
    lists.blacklist.append(QString());
    QCOMPARE(fast.setLists(lists), 1);
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
        const QByteArray raw = corpus::readMessage(file);
        const ParsedMessage parsed = parseMessage(raw);
        messages.append({parsed.sender, parsed.subject, parsed.body, parsed.header(u"Received:")});
    }
    const auto spamCount = files.size() - 1000;

    // Entries made of pieces of the messages themselves, found in some messages early in a list,
    // late or not at all, mixed with entries found nowhere and with empty rows.
    QRandomGenerator rng(4242);
    const auto fill = [&](QStringList& l, int rows, const std::function<QString()>& piece) {
        for (int i = 0; i < rows; ++i) {
            const auto r = rng.bounded(10);
            l.append(r == 0 ? QString() : r < 4 ? gibberish(rng) : piece());
        }
    };
    const auto some = [&](qsizetype first, qsizetype count) -> const MessageFields& {
        return messages.at(first + rng.bounded(count));
    };
    const auto all = messages.size();
    RuleLists lists;
    fill(lists.whitelist, 150, [&] { return pieceOf(rng, some(spamCount, 1000).sender, 6, 14); });
    fill(lists.blacklist, 300, [&] { return pieceOf(rng, some(0, spamCount).sender, 5, 12); });
    fill(lists.keywords, 400, [&] {
        return rng.bounded(3) == 0 ? pieceOf(rng, some(0, all).subject, 4, 12)
                                   : pieceOf(rng, some(0, all).body, 12, 30);
    });

    const FastClassifier fast(lists);
    const QList<CheckSwitches> settings{{1, 1, 1, 1}, {0, 1, 0, 1}, {2, 0, 1, 1}, {0, 0, 1, 0}};
    QSet<QString> outcomes;
    for (qsizetype i = 0; i < messages.size(); ++i) {
        const CheckSwitches switches = settings.at(i % settings.size());
        const Classification expected = classifyMessage(messages.at(i), switches, lists);
        const Classification actual = fast.classify(messages.at(i), switches);
        if (actual != expected)
            qInfo() << "message file" << files.at(i);
        QCOMPARE(actual, expected);
        const QString status = expected.status.value_or(QString());
        outcomes.insert(
            QString::number(static_cast<int>(expected.decidedBy)) +
            (status.endsWith(QLatin1String("BODY")) ? QStringLiteral(" body") : QString()));
    }
    // The lists reached every kind of outcome, so the comparison above covered them all.
    for (const char* kind : {"0", "0 body", "1", "2", "3", "3 body"})
        QVERIFY2(outcomes.contains(QLatin1String(kind)), kind);
}

QTEST_GUILESS_MAIN(TestFastClassifier)
#include "tst_fastclassifier.moc"
