#include "addressbook/vcardreader.h"
#include "support/tempfolder.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTest>

namespace {

// Each entry as "name | address", "(none)" for a missing value, "!" for a malformed card.
QStringList describe(const QList<VCardEntry>& entries) {
    QStringList out;
    const QString none = QStringLiteral("(none)");
    for (const VCardEntry& e : entries)
        out.append(e.malformed ? QStringLiteral("!")
                               : e.displayName.value_or(none) + " | " + e.email.value_or(none));
    return out;
}

QByteArray fixture(const char* name) {
    QFile f(qEnvironmentVariable("CORVANTA_TEST_DATA") + '/' + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

template <size_t N>
QByteArray bytes(const char (&text)[N]) { // embedded NULs included
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
    return text + tail;
}

} // namespace

class TestVCardReader : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cards_data();
    void cards();
    void survivesDamagedFiles();
    void folderOrderAndSelection();
    void folderBounds();
};

void TestVCardReader::cards_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("2.1: PREF, quoted-printable, charsets, folding, base64 block")
        << fixture("v21.vcf")
        << QStringList{"Maren Lindqvist | maren@lindqvist.example",
                       "Jörg Müller-Brandt | joerg.mueller@mueller-brandt.example",
                       "Renée “Rainy” Okafor | renee@okafor.example",
                       "Anaïs Duval | ana@duval.example", "Tobias Wren | tobias.wren@mail.example"};
    QTest::newRow("3.0: groups, TYPE lists, folding, escapes")
        << fixture("v30.vcf")
        << QStringList{"Pim Achterberg, Jr. | pim.work@achterberg-consulting.example",
                       "Saoirse Ní Bhriain | saoirse.nb@bhriain.example",
                       "Desk; Front\\Back | frontdesk@hotel.example"};
    QTest::newRow("4.0: PREF numbers, UTF-8, mailto prefix")
        << fixture("v40.vcf")
        << QStringList{"Kwame Asante-Boateng | kwame.primary@asante.example",
                       "田辺 由紀 | yuki@tanabe.example", "Orla Finnegan | orla@finnegan.example"};
    // An empty EMAIL is no address: as a whitelist row it would match every sender.
    QTest::newRow("no address, no FN, garbage line, missing END")
        << fixture("mixed.vcf")
        << QStringList{"Henrike Sommer | (none)", "(none) | ines@castellanos.example", "!", "!",
                       "Bram de Vries | bram@devries.example"};

    const QByteArray b = card("Bo", "bo@b.example");
    const QString bo = QStringLiteral("Bo | bo@b.example");
    QByteArray hugeFolded;
    for (qsizetype i = 0; i <= vcard::maxLineLength / 999; ++i)
        hugeFolded += ' ' + QByteArray(999, 'y') + "\r\n";

    QTest::newRow("empty input") << QByteArray() << QStringList{};
    QTest::newRow("binary junk between cards")
        << b + bytes("\x00\x01\xff\xfejunk\x00\x02\r\n") + b << QStringList{bo, "!", bo};
    QTest::newRow("NUL byte in a value")
        << bytes("BEGIN:VCARD\r\nFN:Nu\x00l\r\nEND:VCARD\r\n") + b << QStringList{"!", bo};
    QTest::newRow("huge line") << "BEGIN:VCARD\r\nFN:A\r\nNOTE:" +
                                      QByteArray(vcard::maxLineLength + 1, 'x') +
                                      "\r\nEND:VCARD\r\n" + b
                               << QStringList{"!", bo};
    QTest::newRow("huge folded line")
        << "BEGIN:VCARD\r\nFN:A\r\nNOTE:x\r\n" + hugeFolded + "END:VCARD\r\n" + b
        << QStringList{"!", bo};
    QTest::newRow("stray text before a card, stray END after one")
        << "hello there\r\n" + b + "END:VCARD\r\n"
        << QStringList{"!", bo, "!"};
    QTest::newRow("unclosed quote in a parameter")
        << "BEGIN:VCARD\r\nFN:Q\r\nEMAIL;TYPE=\"work:q@q.example\r\nEND:VCARD\r\n" + b
        << QStringList{"!", bo};
    QTest::newRow("quoted-printable value ending in = keeps the card's end")
        << "BEGIN:VCARD\r\nVERSION:2.1\r\nFN;QUOTED-PRINTABLE:Ann=\r\nEND:VCARD\r\n" + b
        << QStringList{"Ann= | (none)", bo};
    QTest::newRow("card embedded as an older AGENT value")
        << "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:Boss\r\nAGENT:\r\nBEGIN:VCARD\r\nFN:Assistant\r\n"
           "EMAIL:asst@x.example\r\nEND:VCARD\r\nEMAIL:boss@x.example\r\nEND:VCARD\r\n" +
               b
        << QStringList{"Boss | boss@x.example", bo};
    QTest::newRow("no VERSION, blank lines, DOS end mark, empty FN")
        << QByteArray("\r\nBEGIN:VCARD\r\n\r\nFN:\r\nEMAIL:e@e.example\r\nEND:VCARD\r\n\r\n\x1a")
        << QStringList{" | e@e.example"};
    QTest::newRow("line breaks and controls never reach the address")
        << QByteArray("BEGIN:VCARD\r\nFN:C\r\nEMAIL:c@c.exam\\nple\t\r\nEND:VCARD\r\n")
        << QStringList{"C | c@c.example"};

    const QByteArray zoe = card("Zoë Ølund", "zoe@o.example");
    const QString text = QString::fromUtf8(zoe);
    const QByteArray utf16 =
        "\xff\xfe" + QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    const QStringList zoeRead{"Zoë Ølund | zoe@o.example"};
    QTest::newRow("UTF-8 with byte-order mark") << "\xEF\xBB\xBF" + zoe << zoeRead;
    QTest::newRow("UTF-16 with byte-order mark") << utf16 << zoeRead;
    QTest::newRow("lone CR line ends") << QByteArray(zoe).replace("\r\n", "\r") << zoeRead;
    QTest::newRow("undeclared Latin-1") << card("Zo\xeb \xd8lund", "zoe@o.example") << zoeRead;
}

void TestVCardReader::cards() {
    QFETCH(QByteArray, data);
    QFETCH(QStringList, expected);
    QCOMPARE(describe(vcard::parseVCards(data)), expected);
}

// Cut, overwrite and splice the fixtures at random (fixed seed): reading must neither crash nor
// hang, and a malformed card never offers values.
void TestVCardReader::survivesDamagedFiles() {
    const QByteArray all =
        fixture("v21.vcf") + fixture("v30.vcf") + fixture("v40.vcf") + fixture("mixed.vcf");
    QRandomGenerator rng(20240611);
    for (int round = 0; round < 400; ++round) {
        QByteArray data = all;
        for (int e = rng.bounded(1, 12); e > 0 && !data.isEmpty(); --e) {
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
    dir.write("b.vcf", card("B1", "b1@x.example") + card("B2", "b2@x.example"));
    dir.write("a.vcf", card("A", "a@x.example"));
    dir.write("Z.VCF", card("Z", "z@x.example"));
    dir.write("sub/c.vcf", card("C", "c@x.example"));
    dir.write("aa/deeper/d.vcf", card("D", "d@x.example"));
    dir.write("notes.txt", card("Txt", "txt@x.example"));
    dir.write(".hidden.vcf", card("Hidden", "h@x.example"));
    dir.write(".trash/t.vcf", card("Trash", "t@x.example"));
    // A link back up must not make the reader go round for ever or read a card twice.
    QVERIFY(QFile::link(dir.path(), dir.file("sub/loop")));

    QStringList names;
    const QList<VCardEntry> entries = vcard::readVCardFolder(dir.path()).value();
    for (const VCardEntry& e : entries)
        names.append(e.displayName.value_or("?"));
    QCOMPARE(names, (QStringList{"Z", "A", "B1", "B2", "D", "C"}));
}

void TestVCardReader::folderBounds() {
    TempFolder dir;
    QVERIFY(vcard::readVCardFolder(dir.path()).value().isEmpty());
    QVERIFY(!vcard::readVCardFolder(dir.file("missing")));
    dir.write("plain-file", "x");
    QVERIFY(!vcard::readVCardFolder(dir.file("plain-file")));

    // A file over the size bound is one malformed entry; the files around it are read.
    QCOMPARE(paddedCard(vcard::maxFileSize + 1).size(), vcard::maxFileSize + 1);
    dir.write("1.vcf", card("One", "one@x.example"));
    dir.write("2.vcf", paddedCard(vcard::maxFileSize + 1));
    dir.write("3.vcf", card("Three", "three@x.example"));
    QCOMPARE(describe(vcard::readVCardFolder(dir.path()).value()),
             (QStringList{"One | one@x.example", "!", "Three | three@x.example"}));
    QCOMPARE(paddedCard(vcard::maxFileSize).size(), vcard::maxFileSize);
    dir.write("2.vcf", paddedCard(vcard::maxFileSize));
    QCOMPARE(describe(vcard::readVCardFile(dir.file("2.vcf"))), QStringList{"Big | big@x.example"});

    // An unreadable file is one malformed entry (file modes do not bind the superuser).
    QFile::setPermissions(dir.file("2.vcf"), QFileDevice::WriteOwner);
    if (QFile(dir.file("2.vcf")).open(QIODevice::ReadOnly))
        QSKIP("running with permissions that ignore file modes");
    QCOMPARE(describe(vcard::readVCardFile(dir.file("2.vcf"))), QStringList{"!"});
}

QTEST_GUILESS_MAIN(TestVCardReader)
#include "tst_vcardreader.moc"
