// A scan pass over the public mail corpus (3,000 messages, spam and ordinary mail) delivered
// through the test suite's mail server: the pass removes exactly the messages that a plain
// check of the same keywords over the same decoded texts predicts.
#include "app/frmMain.h"
#include "scan/pop3/parsedmessage.h"
#include "scanhelpers.h"
#include "support/corpus.h"
#include "support/dovecot.h"
#include "support/ui/scriptedboxes.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

namespace {

// Phrases of both kinds of mail, an empty row that must not match everything, and a word whose
// upper case differs by more than ASCII rules.
const QStringList kKeywords = {"click here",
                               "Viagra",
                               "mortgage rates",
                               "",
                               "$$$",
                               "100% free",
                               "act now",
                               "limited time",
                               "million dollars",
                               "unsubscribe",
                               "Fran\u00e7ais",
                               "opportunity"};

QByteArray withCrLf(QByteArray text) {
    text.replace("\r\n", "\n");
    text.replace("\n", "\r\n");
    return text;
}

// The independent verdict: a keyword, upper-cased, found in the upper-cased subject or body.
bool predictedSpam(const ParsedMessage& message) {
    const QString subject = message.subject.toUpper();
    const QString body = message.body.toUpper();
    for (const QString& keyword : kKeywords) {
        if (keyword.isEmpty())
            continue;
        const QString upper = keyword.toUpper();
        if (subject.contains(upper) || body.contains(upper))
            return true;
    }
    return false;
}

} // namespace

class TestScanCorpus : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void removesExactlyThePredictedMessages();
};

void TestScanCorpus::removesExactlyThePredictedMessages() {
    const QStringList files = corpus::messageFiles("spam-1") + corpus::messageFiles("easy-ham-1");
    if (files.isEmpty())
        QSKIP(corpus::kMissing);
    DovecotMailbox box;
    if (!box.available())
        QSKIP(box.skipReason());

    QList<QByteArray> messages;
    QList<QByteArray> expectedLeft;
    int predicted = 0;
    for (const QString& file : files) {
        const QByteArray raw = corpus::readMessage(file);
        messages.append(raw);
        // Parsed as the server serves it, with CRLF line ends.
        if (predictedSpam(parseMessage(withCrLf(raw))))
            ++predicted;
        else
            expectedLeft.append(raw);
    }
    qInfo("%lld messages, %d predicted spam", qsizetype(messages.size()), predicted);
    // Both outcomes must be well represented for the comparison to mean something.
    QVERIFY(predicted > messages.size() / 10);
    QVERIFY(expectedLeft.size() > messages.size() / 10);
    QVERIFY(box.seed(messages));

    ScanWindow w(false);
    w.addAccountRow(box.server(), box.userName(), box.password());
    fillGrid(w.form.gridkeywords, kKeywords);
    w.switches(0, 0, 0, 1);
    ScriptedBoxes boxes;

    QElapsedTimer clock;
    clock.start();
    w.form.cmdscannow_Click();
    const qint64 ms = clock.elapsed();
    qInfo("pass: %lld ms, %.0f messages per second", ms, messages.size() * 1000.0 / double(ms));

    const QList<QByteArray> left = box.messages();
    QCOMPARE(left.size(), expectedLeft.size());
    for (qsizetype i = 0; i < left.size(); ++i)
        QVERIFY2(left[i] == expectedLeft[i], qPrintable(QString("message %1 left differs").arg(i)));
    QCOMPARE(boxes.shown().size(), predicted);
    QCOMPARE(w.form.txtEmailsBlockedCount->text(), QString::number(predicted));
    QCOMPARE(w.form.txttotalemailsever->text(), QString::number(messages.size()));
    QCOMPARE(QDir(w.folder.file("SpamDeleted")).entryList(QDir::Files).size(), predicted);
}

QTEST_MAIN(TestScanCorpus)
#include "tst_scancorpus.moc"
