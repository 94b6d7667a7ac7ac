#include "addressbook/vcardreader.h"
#include "support/tempfolder.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTest>

namespace {

// One entry as "name | address", "(none)" for a missing value, "!" for a malformed card.
QString describe(const VCardEntry& e) {
    if (e.malformed)
        return QStringLiteral("!");
    const QString none = QStringLiteral("(none)");
    return e.displayName.value_or(none) + QStringLiteral(" | ") + e.email.value_or(none);
}

QStringList describeAll(const QList<VCardEntry>& entries) {
    QStringList out;
    for (const VCardEntry& e : entries)
        out.append(describe(e));
    return out;
}

QString dataFile(const QString& name) {
    return qEnvironmentVariable("CORVANTA_TEST_DATA") + QLatin1Char('/') + name;
}

// Bytes of a literal, embedded NULs included.
template <size_t N>
QByteArray bytes(const char (&text)[N]) {
    return QByteArray(text, N - 1);
}

QByteArray card(const QByteArray& name, const QByteArray& email) {
    return "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:" + name + "\r\nEMAIL:" + email + "\r\nEND:VCARD\r\n";
}

// A valid card of exactly size bytes, padded with long extension properties.
QByteArray paddedCard(qsizetype size) {
    const QByteArray tail = "END:VCARD\r\n";
    QByteArray text = "BEGIN:VCARD\r\nFN:Big\r\nEMAIL:big@x.example\r\n";
    while (text.size() + tail.size() < size) {
        const qsizetype room = size - text.size() - tail.size() - 8; // "X-PAD:" and CRLF
        text += "X-PAD:" + QByteArray(std::clamp<qsizetype>(room, 0, 4000), 'p') + "\r\n";
    }
    text += tail;
    return text;
}

} // namespace

class TestVCardReader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fixturesOfEachVersion_data();
    void fixturesOfEachVersion();
    void brokenContent_data();
    void brokenContent();
    void encodings_data();
    void encodings();
    void survivesDamagedFiles();
    void folderOrderAndSelection();
    void folderBounds();
};

void TestVCardReader::fixturesOfEachVersion_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("2.1: PREF, quoted-printable, charsets, folding, base64 block")
        << QStringLiteral("v21.vcf")
        << QStringList{
               QStringLiteral("Maren Lindqvist | maren@lindqvist.example"),
               QString::fromUtf8("Jörg Müller-Brandt | joerg.mueller@mueller-brandt.example"),
               QString::fromUtf8("Renée “Rainy” Okafor | renee@okafor.example"),
               QString::fromUtf8("Anaïs Duval | ana@duval.example"),
               QStringLiteral("Tobias Wren | tobias.wren@mail.example")};
    QTest::newRow("3.0: groups, TYPE lists, folding, escapes")
        << QStringLiteral("v30.vcf")
        << QStringList{
               QStringLiteral("Pim Achterberg, Jr. | pim.work@achterberg-consulting.example"),
               QString::fromUtf8("Saoirse Ní Bhriain | saoirse.nb@bhriain.example"),
               QStringLiteral("Desk; Front\\Back | frontdesk@hotel.example")};
    QTest::newRow("4.0: PREF numbers, UTF-8, mailto prefix")
        << QStringLiteral("v40.vcf")
        << QStringList{QStringLiteral("Kwame Asante-Boateng | kwame.primary@asante.example"),
                       QString::fromUtf8("田辺 由紀 | yuki@tanabe.example"),
                       QStringLiteral("Orla Finnegan | orla@finnegan.example")};
    // An empty EMAIL is no address: as a whitelist row it would match every sender.
    QTest::newRow("no address, no FN, garbage line, missing END")
        << QStringLiteral("mixed.vcf")
        << QStringList{QStringLiteral("Henrike Sommer | (none)"),
                       QStringLiteral("(none) | ines@castellanos.example"), QStringLiteral("!"),
                       QStringLiteral("!"), QStringLiteral("Bram de Vries | bram@devries.example")};
}

void TestVCardReader::fixturesOfEachVersion() {
    QFETCH(QString, file);
    QFETCH(QStringList, expected);
    QCOMPARE(describeAll(vcard::readVCardFile(dataFile(file))), expected);
}

void TestVCardReader::brokenContent_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("expected");

    const QByteArray a = card("Ada", "ada@a.example");
    const QByteArray b = card("Bo", "bo@b.example");
    const QString ada = QStringLiteral("Ada | ada@a.example");
    const QString bo = QStringLiteral("Bo | bo@b.example");
    const QString bad = QStringLiteral("!");
    const QByteArray huge(vcard::maxLineLength + 1, 'x');
    QByteArray hugeFolded;
    for (qsizetype i = 0; i <= vcard::maxLineLength / 999; ++i)
        hugeFolded += ' ' + QByteArray(999, 'y') + "\r\n";

    QTest::newRow("empty input") << QByteArray() << QStringList{};
    QTest::newRow("binary junk between cards")
        << a + bytes("\x00\x01\xff\xfejunk\x00\x02\r\n") + b << QStringList{ada, bad, bo};
    QTest::newRow("NUL byte in a value")
        << bytes("BEGIN:VCARD\r\nFN:Nu\x00l\r\nEND:VCARD\r\n") + b << QStringList{bad, bo};
    QTest::newRow("huge line") << "BEGIN:VCARD\r\nFN:Big\r\nNOTE:" + huge + "\r\nEND:VCARD\r\n" + b
                               << QStringList{bad, bo};
    QTest::newRow("huge folded line")
        << "BEGIN:VCARD\r\nFN:Big\r\nNOTE:x\r\n" + hugeFolded + "END:VCARD\r\n" + b
        << QStringList{bad, bo};
    QTest::newRow("stray text before a card, stray END after one")
        << "hello there\r\n" + a + "END:VCARD\r\n"
        << QStringList{bad, ada, bad};
    QTest::newRow("unclosed quote in a parameter")
        << QByteArray("BEGIN:VCARD\r\nFN:Q\r\nEMAIL;TYPE=\"work:q@q.example\r\nEND:VCARD\r\n") + b
        << QStringList{bad, bo};
    QTest::newRow("invalid property name")
        << QByteArray("BEGIN:VCARD\r\nFN:Q\r\nE MAIL:q@q.example\r\nEND:VCARD\r\n")
        << QStringList{bad};
    QTest::newRow("quoted-printable value ending in = keeps the card's end")
        << QByteArray("BEGIN:VCARD\r\nVERSION:2.1\r\nFN;QUOTED-PRINTABLE:Ann=\r\nEND:VCARD\r\n") + b
        << QStringList{QStringLiteral("Ann= | (none)"), bo};
    QTest::newRow("card embedded as an older AGENT value")
        << QByteArray("BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Boss\r\nAGENT:\r\nBEGIN:VCARD\r\n"
                      "VERSION:2.1\r\nFN:Assistant\r\nEMAIL:asst@x.example\r\nEND:VCARD\r\n"
                      "EMAIL:boss@x.example\r\nEND:VCARD\r\n") +
               b
        << QStringList{QStringLiteral("Boss | boss@x.example"), bo};
    QTest::newRow("card without VERSION, blank lines and a DOS end mark")
        << QByteArray("\r\nBEGIN:VCARD\r\n\r\nFN:Plain\r\nEND:VCARD\r\n\r\n\x1a")
        << QStringList{QStringLiteral("Plain | (none)")};
    QTest::newRow("FN present but empty is still a name")
        << QByteArray("BEGIN:VCARD\r\nFN:\r\nEMAIL:e@e.example\r\nEND:VCARD\r\n")
        << QStringList{QStringLiteral(" | e@e.example")};
    QTest::newRow("line breaks and controls never reach the address")
        << QByteArray("BEGIN:VCARD\r\nFN:C\r\nEMAIL:c@c.exam\\nple\t\r\nEND:VCARD\r\n")
        << QStringList{QStringLiteral("C | c@c.example")};
}

void TestVCardReader::brokenContent() {
    QFETCH(QByteArray, data);
    QFETCH(QStringList, expected);
    QCOMPARE(describeAll(vcard::parseVCards(data)), expected);
}

void TestVCardReader::encodings_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("expected");

    const QString zoe = QString::fromUtf8("Zoë Ølund | zoe@o.example");
    QByteArray utf16("\xff\xfe");
    const QByteArray text = card("Zoë Ølund", "zoe@o.example");
    const QString asText = QString::fromUtf8(text);
    utf16.append(reinterpret_cast<const char*>(asText.utf16()), asText.size() * 2);

    QTest::newRow("UTF-8 with byte-order mark") << "\xEF\xBB\xBF" + text << zoe;
    QTest::newRow("UTF-16 with byte-order mark") << utf16 << zoe;
    QTest::newRow("lone CR line ends") << QByteArray(text).replace("\r\n", "\r") << zoe;
    QTest::newRow("undeclared Latin-1 bytes") << card("Zo\xeb \xd8lund", "zoe@o.example") << zoe;
    QTest::newRow("undeclared UTF-8 in 2.1")
        << QByteArray("BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Zo\xc3\xab \xc3\x98lund\r\n"
                      "EMAIL;INTERNET:zoe@o.example\r\nEND:VCARD\r\n")
        << zoe;
    QTest::newRow("unknown charset falls back to the bytes")
        << QByteArray("BEGIN:VCARD\r\nVERSION:2.1\r\nFN;CHARSET=X-ODD:Zo\xc3\xab \xc3\x98lund\r\n"
                      "EMAIL:zoe@o.example\r\nEND:VCARD\r\n")
        << zoe;
    QTest::newRow("base64 value") << "BEGIN:VCARD\r\nVERSION:3.0\r\nFN;ENCODING=b:" +
                                         QByteArray("Zoë Ølund").toBase64() +
                                         "\r\nEMAIL:zoe@o.example\r\nEND:VCARD\r\n"
                                  << zoe;
}

void TestVCardReader::encodings() {
    QFETCH(QByteArray, data);
    QFETCH(QString, expected);
    QCOMPARE(describeAll(vcard::parseVCards(data)), QStringList{expected});
}

// Cut, overwrite and splice the fixtures at random (fixed seed): reading must neither crash nor
// hang, and a malformed card never offers values.
void TestVCardReader::survivesDamagedFiles() {
    QByteArray all;
    for (const char* name : {"v21.vcf", "v30.vcf", "v40.vcf", "mixed.vcf"}) {
        QFile f(dataFile(QString::fromLatin1(name)));
        QVERIFY(f.open(QIODevice::ReadOnly));
        all += f.readAll();
    }
    QRandomGenerator rng(20240611);
    for (int round = 0; round < 400; ++round) {
        QByteArray data = all;
        const int edits = rng.bounded(1, 12);
        for (int e = 0; e < edits && !data.isEmpty(); ++e) {
            const qsizetype at = rng.bounded(data.size());
            switch (rng.bounded(4)) {
            case 0:
                data[at] = char(rng.bounded(256));
                break;
            case 1:
                data.remove(at, rng.bounded(1, 40));
                break;
            case 2:
                data.insert(at, QByteArray(rng.bounded(1, 5), "=\\;:\n \""[rng.bounded(7)]));
                break;
            default:
                data.truncate(at);
                break;
            }
        }
        const QList<VCardEntry> entries = vcard::parseVCards(data);
        QVERIFY(entries.size() <= data.count('\n') + 1);
        for (const VCardEntry& entry : entries)
            QVERIFY(!entry.malformed || (!entry.displayName && !entry.email));
    }
}

void TestVCardReader::folderOrderAndSelection() {
    TempFolder dir;
    dir.write(QStringLiteral("b.vcf"), card("B1", "b1@x.example") + card("B2", "b2@x.example"));
    dir.write(QStringLiteral("a.vcf"), card("A", "a@x.example"));
    dir.write(QStringLiteral("Z.VCF"), card("Z", "z@x.example"));
    dir.write(QStringLiteral("sub/c.vcf"), card("C", "c@x.example"));
    dir.write(QStringLiteral("aa/deeper/d.vcf"), card("D", "d@x.example"));
    dir.write(QStringLiteral("notes.txt"), card("Txt", "txt@x.example"));
    dir.write(QStringLiteral(".hidden.vcf"), card("Hidden", "h@x.example"));
    dir.write(QStringLiteral(".trash/t.vcf"), card("Trash", "t@x.example"));
    // A link back up must not make the reader go round for ever or read a card twice.
    QVERIFY(QFile::link(dir.path(), dir.file(QStringLiteral("sub/loop"))));

    const auto entries = vcard::readVCardFolder(dir.path());
    QVERIFY(entries);
    QStringList names;
    for (const VCardEntry& e : *entries)
        names.append(e.displayName.value_or(QStringLiteral("?")));
    QCOMPARE(names, (QStringList{QStringLiteral("Z"), QStringLiteral("A"), QStringLiteral("B1"),
                                 QStringLiteral("B2"), QStringLiteral("D"), QStringLiteral("C")}));
}

void TestVCardReader::folderBounds() {
    TempFolder dir;
    QVERIFY(vcard::readVCardFolder(dir.path()).value().isEmpty());
    QVERIFY(!vcard::readVCardFolder(dir.file(QStringLiteral("missing"))));
    dir.write(QStringLiteral("plain-file"), "x");
    QVERIFY(!vcard::readVCardFolder(dir.file(QStringLiteral("plain-file"))));

    // A file over the size bound is one malformed entry; the files around it are read.
    dir.write(QStringLiteral("1.vcf"), card("One", "one@x.example"));
    QCOMPARE(paddedCard(vcard::maxFileSize).size(), vcard::maxFileSize);
    QCOMPARE(paddedCard(vcard::maxFileSize + 1).size(), vcard::maxFileSize + 1);
    dir.write(QStringLiteral("2.vcf"), paddedCard(vcard::maxFileSize + 1));
    dir.write(QStringLiteral("3.vcf"), card("Three", "three@x.example"));
    QCOMPARE(describeAll(vcard::readVCardFolder(dir.path()).value()),
             (QStringList{QStringLiteral("One | one@x.example"), QStringLiteral("!"),
                          QStringLiteral("Three | three@x.example")}));
    dir.write(QStringLiteral("2.vcf"), paddedCard(vcard::maxFileSize)); // at the bound: read
    QCOMPARE(describeAll(vcard::readVCardFile(dir.file(QStringLiteral("2.vcf")))),
             QStringList{QStringLiteral("Big | big@x.example")});

    // An unreadable file is one malformed entry (permissions do not bind the superuser).
    QFile::setPermissions(dir.file(QStringLiteral("2.vcf")), QFileDevice::WriteOwner);
    QFile probe(dir.file(QStringLiteral("2.vcf")));
    if (probe.open(QIODevice::ReadOnly))
        QSKIP("running with permissions that ignore file modes");
    QCOMPARE(describeAll(vcard::readVCardFile(dir.file(QStringLiteral("2.vcf")))),
             QStringList{QStringLiteral("!")});
}

QTEST_GUILESS_MAIN(TestVCardReader)
#include "tst_vcardreader.moc"
