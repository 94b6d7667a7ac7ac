#include "scan/pop3/messagepage.h"
#include "scan/pop3/parsedmessage.h"
#include "support/corpus.h"
#include "support/headerreference.h"
#include "support/pagesource.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QTest>

Q_DECLARE_METATYPE(RemovalNote)

namespace {

QByteArray withHeaders(const QByteArray& headers, const QByteArray& body) {
    return "From: sender@example.com\r\n" + headers + "\r\n" + body;
}

QByteArray pageOf(const QByteArray& raw, const RemovalNote& note = {}) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    if (!writeMessagePage(buffer, parseMessage(raw), raw, note))
        return QByteArray();
    return buffer.data();
}

// The text of the element with this id on the page: what lies between its start tag and the
// next end tag of its kind.
QByteArray elementText(const QByteArray& page, const QByteArray& tag, const QByteArray& id) {
    const QByteArray start = "<" + tag + " id=\"" + id + "\">";
    const qsizetype from = page.indexOf(start);
    if (from < 0)
        return "(missing)";
    const qsizetype textStart = from + start.size();
    return page.mid(textStart, page.indexOf(QByteArray("</" + tag + ">"), textStart) - textStart);
}

} // namespace

class TestPop3Message : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decodesSenderAndSubject_data();
    void decodesSenderAndSubject();
    void findsHeaderFields();
    void extractsBodyText_data();
    void extractsBodyText();
    void eachTextIsDecodedAfresh();
    void survivesGarbage_data();
    void survivesGarbage();
    void pageEscapesAndKeepsTheSource_data();
    void pageEscapesAndKeepsTheSource();
    void pageSaysWhyTheMessageWasRemoved_data();
    void pageSaysWhyTheMessageWasRemoved();
    void parsesTheCorpus_data();
    void parsesTheCorpus();
};

void TestPop3Message::decodesSenderAndSubject_data() {
    QTest::addColumn<QByteArray>("from");
    QTest::addColumn<QByteArray>("subject");
    QTest::addColumn<QString>("sender");
    QTest::addColumn<QString>("decodedSubject");

    QTest::newRow("Q words in UTF-8, quotes kept")
        << QByteArray("\"=?utf-8?Q?Start_Now?=\" <startnow2002@hotmail.com>")
        << QByteArray("=?UTF-8?Q?Caf=C3=A9_cr=C3=A8me?=")
        << "\"Start Now\" <startnow2002@hotmail.com>" << QStringLiteral("Caf\u00e9 cr\u00e8me");
    QTest::newRow("B words") << QByteArray("=?utf-8?B?8J+SsCBGUkVFIG1vbmV5?= <a@example.com>")
                             << QByteArray("=?utf-8?B?8J+SsCBGUkVFIG1vbmV5?=")
                             << QStringLiteral("\U0001F4B0 FREE money <a@example.com>")
                             << QStringLiteral("\U0001F4B0 FREE money");
    // The blank between two encoded words is not part of the text; a spammer splits words so.
    QTest::newRow("adjacent words")
        << QByteArray("a@example.com") << QByteArray("=?utf-8?Q?FR?= =?utf-8?Q?EE?= pills")
        << "a@example.com"
        << "FREE pills";
    QTest::newRow("raw 8-bit Latin-1")
        << QByteArray("J\xfcrgen <j@example.com>") << QByteArray("caf\xe9 cr\xe8me")
        << QStringLiteral("J\u00fcrgen <j@example.com>") << QStringLiteral("caf\u00e9 cr\u00e8me");
}

void TestPop3Message::decodesSenderAndSubject() {
    QFETCH(QByteArray, from);
    QFETCH(QByteArray, subject);
    QFETCH(QString, sender);
    QFETCH(QString, decodedSubject);

    const ParsedMessage parsed =
        parseMessage("From: " + from + "\r\nSubject: " + subject + "\r\n\r\nbody\r\n");
    QCOMPARE(parsed.sender, sender);
    QCOMPARE(parsed.subject, decodedSubject);
}

void TestPop3Message::findsHeaderFields() {
    const ParsedMessage parsed =
        parseMessage("Received: from mail.example.net (mail.example.net [192.0.2.1])\r\n"
                     "\tby mx.example.com with ESMTP id 1234\r\n"
                     "\tfor <alice@example.com>; Mon, 2 Sep 2002 10:00:00 +0000\r\n"
                     "Received: from [198.51.100.7] by mail.example.net\r\n"
                     "X-Empty:\r\n"
                     "Subject: first\r\n"
                     "subject: second\r\n"
                     "Content-Type: text/plain; charset=us-ascii\r\n"
                     "\r\n"
                     "Received: not a header, this is the body\r\n");

    // The topmost field, unfolded.
    const QString topmost =
        QStringLiteral("from mail.example.net (mail.example.net [192.0.2.1])"
                       "\tby mx.example.com with ESMTP id 1234"
                       "\tfor <alice@example.com>; Mon, 2 Sep 2002 10:00:00 +0000");
    QCOMPARE(parsed.header(u"Received:"), topmost);
    QCOMPARE(parsed.header(u"RECEIVED:"), topmost);
    QCOMPARE(parsed.header(u"received"), topmost);
    QCOMPARE(parsed.subject, QStringLiteral("first"));
    QCOMPARE(parsed.header(u"X-Empty:"), QString());
    QVERIFY(std::any_of(parsed.headers.cbegin(), parsed.headers.cend(),
                        [](const MessageHeader& h) { return h.name == QLatin1String("X-Empty"); }));
    QCOMPARE(parsed.header(u"Content-Type:"), QStringLiteral("text/plain; charset=us-ascii"));
    QCOMPARE(parsed.header(u"X-Absent:"), QString());
    QCOMPARE(parsed.header(u""), QString());
    // No From field: an empty sender, not a guess from the body.
    QVERIFY(parsed.sender.isEmpty());
    QCOMPARE(parsed.body, QStringLiteral("Received: not a header, this is the body\n"));

    // Mailbox separator lines before the header are passed over, however long: none hides the
    // field after it.
    for (const qsizetype length : {10, 5000, 70000}) {
        const QByteArray separator = "From " + QByteArray(length, 'x') + "\r\n";
        const ParsedMessage behind = parseMessage(separator + separator +
                                                  "Subject: seen\r\nFrom: a@example.com\r\n"
                                                  "\r\nbody\r\n");
        QCOMPARE(behind.subject, QStringLiteral("seen"));
        QCOMPARE(behind.sender, QStringLiteral("a@example.com"));
        QCOMPARE(behind.body, QStringLiteral("body\n"));
    }
}

void TestPop3Message::extractsBodyText_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("body");

    QTest::newRow("not MIME") << QByteArray(
                                     "From: a@example.com\r\nSubject: hi\r\n\r\nJust text.\r\n"
                                     "Second line.\r\n")
                              << "Just text.\nSecond line.\n";
    QTest::newRow("base64") << withHeaders("Content-Type: text/plain; charset=utf-8\r\n"
                                           "Content-Transfer-Encoding: base64\r\n",
                                           "QnV5IGNoZWFwIHBpbGxzDQpub3cNCg==\r\n")
                            << "Buy cheap pills\nnow\n";
    QTest::newRow("quoted-printable")
        << withHeaders("Content-Type: text/html; charset=iso-8859-1\r\n"
                       "Content-Transfer-Encoding: quoted-printable\r\n",
                       "<a href=3D\"x\">FR=\r\nEE caf=E9</a>\r\n")
        << QStringLiteral("<a href=\"x\">FREE caf\u00e9</a>\n");
    QTest::newRow("multipart/alternative")
        << withHeaders(
               "MIME-Version: 1.0\r\nContent-Type: multipart/alternative; boundary=\"b1\"\r\n",
               "preamble\r\n"
               "--b1\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\nHello plain\r\n"
               "--b1\r\nContent-Type: text/html; charset=us-ascii\r\n"
               "Content-Transfer-Encoding: base64\r\n\r\n"
               "PHA+SGVsbG8gPGI+aHRtbDwvYj48L3A+\r\n"
               "--b1--\r\nepilogue\r\n")
        << "Hello plain\n<p>Hello <b>html</b></p>";
    // Text inside nested multiparts and attached messages counts; other attachments do not.
    QTest::newRow("nested parts")
        << withHeaders(
               "Content-Type: multipart/mixed; boundary=outer\r\n",
               "--outer\r\nContent-Type: multipart/alternative; boundary=inner\r\n\r\n"
               "--inner\r\nContent-Type: text/plain\r\n\r\none\r\n"
               "--inner\r\nContent-Type: text/html\r\n\r\n<i>two</i>\r\n"
               "--inner--\r\n"
               "--outer\r\nContent-Type: application/pdf\r\nContent-Transfer-Encoding: base64\r\n"
               "\r\nJVBERi0xLjQgc2VjcmV0IHdvcmRz\r\n"
               "--outer\r\nContent-Type: message/rfc822\r\n\r\n"
               "Subject: forwarded\r\nContent-Type: text/plain\r\n\r\nthree\r\n"
               "--outer\r\nContent-Type: text/plain\r\nContent-Disposition: attachment\r\n\r\n"
               "four\r\n"
               "--outer--\r\n")
        << "one\n<i>two</i>\nthree\nfour";
    const auto text = [](const QByteArray& charset, const QByteArray& bytes) {
        return withHeaders("Content-Type: text/plain" + charset + "\r\n", bytes);
    };
    QTest::newRow("KOI8-R") << text("; charset=koi8-r", "\xf0\xd2\xc9\xd7\xc5\xd4")
                            << QStringLiteral("\u041f\u0440\u0438\u0432\u0435\u0442");
    QTest::newRow("ISO-2022-JP") << text("; charset=\"ISO-2022-JP\"", "\x1b$B$3$s$K$A$O\x1b(B")
                                 << QStringLiteral("\u3053\u3093\u306b\u3061\u306f");
    QTest::newRow("Windows-1252") << text("; charset=windows-1252", "\x93quoted\x94 \x80")
                                  << QStringLiteral("\u201cquoted\u201d \u20ac");
    // Missing, ASCII-labelled or unknown: UTF-8 when it is valid, else Windows-1252.
    QTest::newRow("missing, 8-bit") << text("", "na\xefve") << QStringLiteral("na\u00efve");
    QTest::newRow("us-ascii label on 8-bit text")
        << text("; charset=us-ascii", "\x93hi\x94") << QStringLiteral("\u201chi\u201d");
    QTest::newRow("unknown charset")
        << text("; charset=x-klingon", "abc\xe9") << QStringLiteral("abc\u00e9");
}

void TestPop3Message::extractsBodyText() {
    QFETCH(QByteArray, raw);
    QFETCH(QString, body);
    QCOMPARE(parseMessage(raw).body, body);
}

void TestPop3Message::eachTextIsDecodedAfresh() {
    const auto text = [](const QByteArray& charset, const QByteArray& bytes) {
        return withHeaders("Content-Type: text/plain; charset=" + charset + "\r\n", bytes);
    };
    // A text that ends inside the two-byte set of ISO-2022-JP, half-way through a character,
    // leaves nothing behind for the next text in that charset, which starts in ASCII.
    for (const QByteArray& cut : {QByteArray("\x1b$B$3$s$"), QByteArray("\x1b$B$3$s")}) {
        parseMessage(text("ISO-2022-JP", cut));
        QCOMPARE(parseMessage(text("ISO-2022-JP", "$3$s")).body, QStringLiteral("$3$s"));
    }
    // More charsets than the converters kept open, in turn and twice over: each text comes out
    // right every time.
    struct Sample {
        QByteArray charset;
        QByteArray bytes;
        QString text;
    };
    const QList<Sample> samples = {
        {"koi8-r", "\xf0\xd2\xc9", QStringLiteral("\u041f\u0440\u0438")},
        {"iso-8859-2", "\xa3\xa1", QStringLiteral("\u0141\u0104")},
        {"iso-8859-5", "\xbf\xe0\xd8", QStringLiteral("\u041f\u0440\u0438")},
        {"iso-8859-7", "\xe1\xe2", QStringLiteral("\u03b1\u03b2")},
        {"windows-1251", "\xcf\xf0\xe8", QStringLiteral("\u041f\u0440\u0438")},
        {"windows-1250", "\xa3\xa5", QStringLiteral("\u0141\u0104")},
        {"cp866", "\x8f\xe0\xa8", QStringLiteral("\u041f\u0440\u0438")},
        {"iso-8859-15", "\xa4", QStringLiteral("\u20ac")},
        {"koi8-u", "\xb4", QStringLiteral("\u0404")},
        {"shift_jis", "\x82\xb1", QStringLiteral("\u3053")},
        {"euc-kr", "\xb0\xa1", QStringLiteral("\uac00")},
        {"ISO-2022-JP", "\x1b$B$3$s\x1b(B", QStringLiteral("\u3053\u3093")},
    };
    for (int round = 0; round < 2; ++round) {
        for (const Sample& sample : samples)
            QCOMPARE(parseMessage(text(sample.charset, sample.bytes)).body, sample.text);
    }
}

void TestPop3Message::survivesGarbage_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<QString>("word"); // a word the body must still show, or empty

    QTest::newRow("empty") << QByteArray() << QString();
    QByteArray binary(64 * 1024, Qt::Uninitialized);
    QRandomGenerator generator(1234);
    for (char& c : binary)
        c = static_cast<char>(generator.bounded(256));
    QTest::newRow("random bytes") << binary << QString();
    QTest::newRow("nul bytes in header and body")
        << QByteArray("Subject: a\0b\r\nFrom: c\0d\r\n\r\nFREE\0money\r\n", 40) << "FREE";
    QTest::newRow("unclosed multipart")
        << withHeaders("Content-Type: multipart/mixed; boundary=zz\r\n",
                       "--zz\r\nContent-Type: text/plain\r\n\r\nFREE offer, never closed")
        << "FREE";
    QTest::newRow("broken encodings")
        << withHeaders("Subject: =?utf-8?B?###?= =?bogus?Q?=ZZ?= =?utf-8?X?x?=\r\n"
                       "Content-Type: text/plain\r\nContent-Transfer-Encoding: base64\r\n",
                       "!!!not base64 at all===\r\n")
        << QString();
    QByteArray nested = "Content-Type: multipart/mixed; boundary=b0\r\n\r\n";
    for (int i = 1; i < 2000; ++i)
        nested += "--b" + QByteArray::number(i - 1) +
                  "\r\nContent-Type: multipart/mixed; boundary=b" + QByteArray::number(i) +
                  "\r\n\r\n";
    nested += "--b1999\r\nContent-Type: text/plain\r\n\r\ndeep\r\n";
    QTest::newRow("deeply nested multiparts") << nested << QString();
}

void TestPop3Message::survivesGarbage() {
    QFETCH(QByteArray, raw);
    QFETCH(QString, word);

    const ParsedMessage parsed = parseMessage(raw);
    if (!word.isEmpty())
        QVERIFY2(parsed.body.contains(word), qPrintable(parsed.body.left(200)));
    // Whatever the input, the page round-trips it, in its text and through its link (which is
    // written in pieces: the random bytes take more than one).
    const QByteArray page = pageOf(raw);
    QCOMPARE(recoverPageSource(page).value_or("(not a page)"), raw);
    QCOMPARE(recoverLinkedMessage(page).value_or("(no link)"), raw);
}

void TestPop3Message::pageEscapesAndKeepsTheSource_data() {
    QTest::addColumn<QByteArray>("raw");
    QTest::addColumn<bool>("utf8");
    QTest::addColumn<QByteArray>("download"); // the link's file name as the page holds it

    QTest::newRow("markup and entities")
        << QByteArray("From: \"Evil\" <evil@example.com>\r\nTo: <victim@example.com>\r\n"
                      "Subject: <script>alert('s')</script>\r\nContent-Type: text/html\r\n\r\n"
                      "</pre><script>alert(\"x\")</script><img src=x onerror=alert(1)>\r\n"
                      "&amp; &lt; &#39; &quot; & ' \"\r\n")
        << true << QByteArray("_script_alert(&#39;s&#39;)__script_.eml");
    QTest::newRow("8-bit Latin-1")
        << QByteArray("Subject: caf\xe9\r\n\r\nna\xefve </PRE> \x80\x9f\xa0\xff end\r\n") << false
        << QByteArray("caf\xc3\xa9.eml");
    QTest::newRow("nul, lone CR and LF")
        << QByteArray("Subject: x\r\n\r\na\0b\rc\nd\r\n", 21) << true << QByteArray("x.eml");
}

void TestPop3Message::pageEscapesAndKeepsTheSource() {
    QFETCH(QByteArray, raw);
    QFETCH(bool, utf8);
    QFETCH(QByteArray, download);

    const QByteArray page = pageOf(raw);
    QVERIFY(!page.isEmpty());
    QVERIFY(QByteArrayView(page).isValidUtf8());
    QVERIFY(page.contains("<meta charset=\"utf-8\">"));
    QCOMPARE(page.contains("content=\"utf-8\">"), utf8);

    // Only the page's own markup is markup: one pre, one title, no script, no image.
    const QByteArray lower = page.toLower();
    QCOMPARE(lower.count("<pre"), 1);
    QCOMPARE(lower.count("</pre>"), 1);
    QCOMPARE(lower.count("<title>"), 1);
    QVERIFY(!lower.contains("<script"));
    QVERIFY(!lower.contains("<img"));
    QCOMPARE(lower.count("<a "), 1);

    QCOMPARE(recoverPageSource(page).value_or("(not a page)"), raw);
    // The link saves the very same bytes, named after the subject with what may not stand in a
    // file name replaced.
    QCOMPARE(recoverLinkedMessage(page).value_or("(no link)"), raw);
    QVERIFY(page.contains(QByteArray("download=\"" + download + "\" href=")));
}

void TestPop3Message::pageSaysWhyTheMessageWasRemoved_data() {
    QTest::addColumn<RemovalNote>("note");
    QTest::addColumn<QByteArray>("reason");
    QTest::addColumn<QByteArray>("account");
    QTest::addColumn<QByteArray>("time");

    const QDateTime summer(QDate(2024, 5, 1), QTime(10, 15, 3), Qt::OffsetFromUTC, 2 * 3600);
    QTest::newRow("blacklist entry with markup characters")
        << RemovalNote{"blacklist entry", "<b>\"x\"</b> & 'y'@spam.example", "the sender",
                       "me<script> on pop.example.org", summer}
        << QByteArray(
               "Removed as spam: blacklist entry <code class=\"entry\">&lt;b&gt;&quot;x&quot;"
               "&lt;/b&gt; &amp; &#39;y&#39;@spam.example</code> found in the sender")
        << QByteArray("From the mailbox me&lt;script&gt; on pop.example.org")
        << QByteArray("Removed on 2024-05-01 10:15:03 +02:00");
    // A line break cannot be typed into an entry, but a list file may hold other controls.
    QTest::newRow("keyword in the subject with control characters")
        << RemovalNote{"keyword", QString::fromUtf8("click\x01\there\x7f\u2028\xc2\x85"),
                       "the subject", "a on b", summer.toOffsetFromUtc(-(5 * 3600 + 1800))}
        << QByteArray("Removed as spam: keyword <code class=\"entry\">click\\x01\\x09here\\x7F"
                      "\\u2028\\x85</code> found in the subject")
        << QByteArray("From the mailbox a on b")
        << QByteArray("Removed on 2024-05-01 02:45:03 -05:30");
    QTest::newRow("keyword in the body, its spaces and letters as typed")
        << RemovalNote{"keyword", "  Free  MONEY ", "the body", "alice on pop3s://mail.example",
                       summer}
        << QByteArray("Removed as spam: keyword <code class=\"entry\">  Free  MONEY </code> found "
                      "in the body")
        << QByteArray("From the mailbox alice on pop3s://mail.example")
        << QByteArray("Removed on 2024-05-01 10:15:03 +02:00");
}

void TestPop3Message::pageSaysWhyTheMessageWasRemoved() {
    QFETCH(RemovalNote, note);
    QFETCH(QByteArray, reason);
    QFETCH(QByteArray, account);
    QFETCH(QByteArray, time);
    const QByteArray raw = withHeaders("Subject: </pre><b>hi</b>\r\n", "body <i>x</i>\r\n");

    const QByteArray page = pageOf(raw, note);
    QCOMPARE(elementText(page, "p", "removal-reason"), reason);
    QCOMPARE(elementText(page, "p", "removal-account"), account);
    QCOMPARE(elementText(page, "p", "removal-time"), time);
    // Above the message, its headers and the link; none of it adds markup of its own.
    const qsizetype block = page.indexOf("<div id=\"removal\">");
    QVERIFY(block > 0);
    QVERIFY(block < page.indexOf("<table>"));
    QVERIFY(block < page.indexOf("<a id=\"message-download\""));
    const QByteArray plain = pageOf(raw, {"keyword", "x", "the body", "a", note.time});
    QCOMPARE(page.count('<'), plain.count('<'));
    QCOMPARE(recoverPageSource(page).value_or("(not a page)"), raw);
    QCOMPARE(recoverLinkedMessage(page).value_or("(no link)"), raw);

    // A page without a note has no such block.
    QVERIFY(!pageOf(raw).contains("id=\"removal"));
}

void TestPop3Message::parsesTheCorpus_data() {
    QTest::addColumn<QString>("folder");
    QTest::newRow("spam") << "spam-1";
    QTest::newRow("ham") << "easy-ham-1";
}

void TestPop3Message::parsesTheCorpus() {
    QFETCH(QString, folder);
    const QStringList files = corpus::messageFiles(folder);
    if (files.isEmpty())
        QSKIP(corpus::kMissing);

    QHash<QString, ParsedMessage> byNumber;
    for (const QString& file : files) {
        const QByteArray raw = corpus::readMessage(file);
        const ParsedMessage parsed = parseMessage(raw);
        QVERIFY2(!parsed.sender.trimmed().isEmpty(), qPrintable(file));
        QVERIFY2(!parsed.headers.isEmpty(), qPrintable(file));
        // Values are decoded only when read, exactly as the parser would have decoded them.
        QStringList values;
        for (const MessageHeader& header : parsed.headers)
            values.append(header.value());
        QCOMPARE(values, headerValuesAsTheParserDecodesThem(raw));
        QCOMPARE(recoverPageSource(pageOf(raw)).value_or("(not a page)"), raw);
        byNumber.insert(QFileInfo(file).fileName().left(5), parsed);
    }

    if (folder == QLatin1String("spam-1")) {
        const ParsedMessage& insurance = byNumber.value(QStringLiteral("00001"));
        QCOMPARE(insurance.subject, QStringLiteral("Life Insurance - Why Pay More?"));
        QCOMPARE(insurance.sender, QStringLiteral("12a1mailbot1@web.de"));
        // Quoted-printable soft line breaks are undone.
        QVERIFY(insurance.body.contains(QLatin1String("Ensuring your")));
        QCOMPARE(byNumber.value(QStringLiteral("00252")).subject,
                 QStringLiteral("\u4e0d\u770b\u6703\u5f8c\u6094"));
        QVERIFY(byNumber.value(QStringLiteral("00001"))
                    .header(u"Received:")
                    .startsWith(QLatin1String("from localhost (localhost [127.0.0.1])")));
    } else {
        QCOMPARE(byNumber.value(QStringLiteral("00001")).subject,
                 QStringLiteral("Re: New Sequences Window"));
    }
}

QTEST_GUILESS_MAIN(TestPop3Message)
#include "tst_pop3message.moc"
