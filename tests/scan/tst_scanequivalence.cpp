// The scan pass over the mail corpus, checked message by message against the plain row-by-row
// classification: the status line after each message, the keyword-check counter, the notices,
// the deletions. Lists, switches and even the lists' contents change during the pass, and the
// lists hold the awkward cases: overlapping and nested entries, a sender on both lists, empty and
// one-space entries. Once with the mailbox in memory, where every step can be watched, and once
// through the test mail server, where the component asks for messages ahead.
#include "app/frmMain.h"
#include "app/ubGrid.h"
#include "config/checkvalue.h"
#include "scan/pop3/FreePOP.h"
#include "scan/pop3/parsedmessage.h"
#include "scanhelpers.h"
#include "support/corpus.h"
#include "support/dovecot.h"
#include "support/referenceclassifier.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>

#include <map>

namespace {

QByteArray withCrLf(QByteArray text) {
    text.replace("\r\n", "\n");
    text.replace("\n", "\r\n");
    return text;
}

// A run of whole words of the text, or nothing when it has too few.
QString wordsOf(QRandomGenerator& rng, const QString& text, int count) {
    const QStringList words = text.simplified().split(' ', Qt::SkipEmptyParts);
    if (words.size() < count)
        return QString();
    return words.mid(rng.bounded(int(words.size() - count + 1)), count).join(' ');
}

QString domainOf(const QString& sender) {
    const qsizetype at = sender.lastIndexOf('@');
    return at < 0 ? QString() : sender.mid(at).remove('>').trimmed();
}

struct Corpus {
    QList<QByteArray> raw;       // as the server serves it (CRLF)
    QList<MessageFields> fields; // what the pass reads from it
    QList<int> spamFolder;       // indexes of the messages from spam-1
};

Corpus loadCorpus() {
    Corpus c;
    const QStringList spam = corpus::messageFiles("spam-1");
    const QStringList ham = corpus::messageFiles("easy-ham-1").mid(0, 600);
    for (const QString& file : spam + ham) {
        const QByteArray raw = withCrLf(corpus::readMessage(file));
        const ParsedMessage parsed = parseMessage(raw);
        if (spam.contains(file))
            c.spamFolder.append(int(c.raw.size()));
        c.raw.append(raw);
        c.fields.append({parsed.sender, parsed.subject, parsed.body,
                         parsed.header(QStringLiteral("Received:"))});
    }
    return c;
}

// Lists made of pieces of the messages themselves, with the cases that trip up a search that
// looks for all entries at once.
RuleLists awkwardLists(const Corpus& c) {
    QRandomGenerator rng(8128);
    const auto anySpam = [&]() -> const MessageFields& {
        return c.fields.at(c.spamFolder.at(rng.bounded(int(c.spamFolder.size()))));
    };
    const auto anyHam = [&]() -> const MessageFields& {
        return c.fields.at(c.spamFolder.size() +
                           rng.bounded(int(c.fields.size() - c.spamFolder.size())));
    };
    RuleLists lists;
    for (int i = 0; i < 40; ++i)
        lists.whitelist.append(domainOf(anyHam().sender));
    for (int i = 0; i < 120; ++i)
        lists.blacklist.append(i % 3 == 0 ? domainOf(anySpam().sender)
                                          : wordsOf(rng, anySpam().sender, 1));
    for (int i = 0; i < 300; ++i) {
        const QString phrase =
            i % 2 ? wordsOf(rng, anySpam().subject, 2) : wordsOf(rng, anySpam().body, 3);
        lists.keywords.append(phrase);
        // One keyword inside another, a little further down, and one overlapping its end.
        if (i % 25 == 0 && phrase.size() > 4) {
            lists.keywords.append(phrase.mid(1, phrase.size() - 2));
            lists.keywords.append(phrase.right(3) + "ZZZ" + phrase.left(2));
        }
    }
    // A spam sender on both lists: the whitelist wins. A domain and the address within it.
    const QString both = domainOf(anySpam().sender);
    lists.whitelist.insert(5, both);
    lists.blacklist.insert(2, both);
    lists.blacklist.insert(0, both.mid(1));
    // Empty rows are skipped by every check.
    lists.whitelist.insert(0, QString());
    lists.blacklist.append(QString());
    lists.keywords.insert(3, QString());
    return lists;
}

CheckSwitches switchesOf(const frmMain& form) {
    return {checkValue(form.checkwhitelist), checkValue(form.checkblacklist),
            checkValue(form.checkspamcop), checkValue(form.checkkeywords)};
}

RuleLists listsOf(const frmMain& form) {
    const auto column = [](const ubGrid* grid) {
        QStringList l;
        for (int row = 1; row <= grid->rows(); ++row)
            l.append(grid->celltext(row, 1));
        return l;
    };
    return {column(form.gridwhitelist), column(form.gridblacklist), column(form.gridkeywords)};
}

// What the row-by-row classification predicts for a whole pass.
struct Prediction {
    QStringList statusAfter;  // the status line once message n is judged (index n - 1)
    QStringList keywordCount; // the keyword-check counter then
    QStringList notices;
    QList<int> deleted;
    QSet<QString> outcomes; // which list decided, and for keywords in which text
};

// Adds the row-by-row outcome for message `number`, judged with these switches and lists.
void predict(Prediction& p, const MessageFields& message, int number, const CheckSwitches& switches,
             const RuleLists& lists) {
    static qint64 checks = 0;
    if (number == 1)
        checks = 0;
    const Classification result = classifyMessage(message, switches, lists);
    checks += result.keywordChecks;
    const QString last = result.status.value_or(QString());
    p.outcomes.insert(QString::number(int(result.decidedBy)) +
                      (last.endsWith("SUBJECT") ? " subject"
                       : last.endsWith("BODY")  ? " body"
                                                : "") +
                      (last.startsWith("CHECKING IP") ? " address" : ""));
    QString status = p.statusAfter.isEmpty() ? QString("before") : p.statusAfter.last();
    if (result.status)
        status = *result.status;
    if (result.verdict == Verdict::Spam) {
        status = "SPAM DETECTED";
        p.notices.append("Spam from" + message.sender);
        p.deleted.append(number);
    }
    p.statusAfter.append(status);
    p.keywordCount.append(QString::number(checks));
}

// Changes made while the pass runs, at the fetch of a message: the pass must judge every later
// message with them, as the row-by-row walk would.
void changeDuringThePass(frmMain& form, int number) {
    if (number == 200) {
        setCheckValue(form.checkwhitelist, 1);
        setCheckValue(form.checkspamcop, 1);
    } else if (number == 400) {
        form.gridkeywords->setCelltext(2, 1, form.gridkeywords->celltext(40, 1));
        form.gridblacklist->removerow(1);
    } else if (number == 700) {
        setCheckValue(form.checkblacklist, 2);
    } else if (number == 900) {
        // A keyword of one blank: every message with a blank in its subject or body from here.
        form.gridkeywords->addrow(" ");
    } else if (number == 1000) {
        // Without keywords the sender checks and the address check have the last word.
        setCheckValue(form.checkkeywords, 0);
    }
}

void prepare(ScanWindow& w, const RuleLists& lists) {
    fillGrid(w.form.gridwhitelist, lists.whitelist);
    fillGrid(w.form.gridblacklist, lists.blacklist);
    fillGrid(w.form.gridkeywords, lists.keywords);
    w.switches(0, 1, 0, 1);
    w.form.Label17->setText("before");
}

} // namespace

class TestScanEquivalence : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void everyMessageInMemory();
    void throughTheMailServer();

private:
    Corpus m_corpus;
};

void TestScanEquivalence::initTestCase() {
    m_corpus = loadCorpus();
}

void TestScanEquivalence::everyMessageInMemory() {
    if (m_corpus.raw.isEmpty())
        QSKIP(corpus::kMissing);
    ScanWindow w;
    w.account(m_corpus.raw);
    prepare(w, awkwardLists(m_corpus));

    Prediction expected;
    QStringList statusSeen;
    QStringList countSeen;
    int judged = 0;
    w.pop->onCall = [&](const QString& call) {
        if (!call.startsWith("FetchMessage ") && call != "Disconnect")
            return;
        // What the message before this one left behind.
        if (judged > 0) {
            statusSeen.append(w.form.Label17->text());
            countSeen.append(w.form.Text2->text());
        }
        if (call == "Disconnect")
            return;
        const int number = call.mid(13).toInt();
        changeDuringThePass(w.form, number);
        predict(expected, m_corpus.fields.at(number - 1), number, switchesOf(w.form),
                listsOf(w.form));
        judged = number;
    };
    NoticeRecorder notices(w.form);

    w.form.cmdscannow_Click();

    QCOMPARE(statusSeen.size(), m_corpus.raw.size());
    for (qsizetype i = 0; i < statusSeen.size(); ++i) {
        if (statusSeen.at(i) != expected.statusAfter.at(i) ||
            countSeen.at(i) != expected.keywordCount.at(i)) {
            qInfo("message %lld", i + 1);
            QCOMPARE(statusSeen.at(i), expected.statusAfter.at(i));
            QCOMPARE(countSeen.at(i), expected.keywordCount.at(i));
        }
    }
    QCOMPARE(notices.texts(), expected.notices);
    QCOMPARE(w.pop->removed(ScanWindow::kServer), expected.deleted);
    // Every kind of outcome occurred, so the comparison covered them all: kept after the keywords
    // or after the sender lists, whitelisted, blacklisted, and keywords found in the subject and
    // in the body.
    for (const char* kind : {"0 body", "0", "1", "2", "3 subject", "3 body"})
        QVERIFY2(expected.outcomes.contains(kind), kind);
    QVERIFY(expected.deleted.size() > 100);
    QVERIFY(expected.deleted.size() < m_corpus.raw.size() - 100);
}

void TestScanEquivalence::throughTheMailServer() {
    if (m_corpus.raw.isEmpty())
        QSKIP(corpus::kMissing);
    DovecotMailbox box;
    if (!box.available())
        QSKIP(box.skipReason());
    QVERIFY(box.seed(m_corpus.raw));

    ScanWindow w(false);
    w.addAccountRow(box.server(), box.userName(), box.password());
    prepare(w, awkwardLists(m_corpus));
    w.switches(1, 1, 1, 1);

    // The lists and switches change while a notice is open. The messages after the one shown are
    // then already retrieved, parsed and judged ahead with the old ones: those judgements must
    // give way, so that every message is judged with what is in force when the pass reaches it.
    QHash<QByteArray, int> numberOf;
    for (int n = m_corpus.raw.size(); n >= 1; --n)
        numberOf.insert(m_corpus.raw.at(n - 1), n);
    std::map<int, std::pair<CheckSwitches, RuleLists>> inForceFrom{
        {1, {switchesOf(w.form), listsOf(w.form)}}};
    NoticeRecorder notices(w.form);
    notices.whileOpen = [&] {
        static const std::map<qsizetype, int> changeAt{
            {60, 200}, {120, 400}, {180, 900}, {240, 700}, {300, 1000}};
        const auto change = changeAt.find(notices.notices.size());
        if (change == changeAt.end())
            return;
        const int current = numberOf.value(w.form.FreePOP1->rawMessage());
        QVERIFY(current > 0);
        changeDuringThePass(w.form, change->second);
        inForceFrom[current + 1] = {switchesOf(w.form), listsOf(w.form)};
    };

    w.form.cmdscannow_Click();

    QCOMPARE(inForceFrom.size(), 6u);
    Prediction expected;
    QList<QByteArray> left;
    for (int n = 1; n <= m_corpus.raw.size(); ++n) {
        const auto& [switches, lists] = std::prev(inForceFrom.upper_bound(n))->second;
        predict(expected, m_corpus.fields.at(n - 1), n, switches, lists);
        if (!expected.deleted.contains(n))
            left.append(m_corpus.raw.at(n - 1));
    }
    QCOMPARE(notices.texts(), expected.notices);
    QCOMPARE(w.form.Text2->text(), expected.keywordCount.last());
    QCOMPARE(w.form.txtEmailsBlockedCount->text(), QString::number(expected.deleted.size()));
    QCOMPARE(w.form.txttotalemailsever->text(), QString::number(m_corpus.raw.size()));
    const QList<QByteArray> onServer = box.messages();
    QCOMPARE(onServer.size(), left.size());
    QVERIFY(onServer == left);
}

QTEST_MAIN(TestScanEquivalence)
#include "tst_scanequivalence.moc"
