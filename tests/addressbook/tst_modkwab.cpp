#include "addressbook/modkWab.h"
#include "support/tempfolder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTest>

#include <vector>

namespace {

QByteArray card(const QByteArray& name, const QByteArray& email) {
    QByteArray text = "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:" + name + "\r\n";
    if (!email.isNull())
        text += "EMAIL:" + email + "\r\n";
    return text + "END:VCARD\r\n";
}

// The whitelist import as the Import button runs it, collecting the message-box texts and the
// rows it would append.
struct ImportRun {
    QStringList boxes;
    QStringList rows;
};

ImportRun runImport() {
    ImportRun run;
    WabHandle handle{};
    if (kWabOpen(handle) == 0) {
        run.boxes.append(QStringLiteral("Unable to open the system wab"));
        return run;
    }
    const qint32 n = kWabGetNumEntries(handle);
    run.boxes.append(QStringLiteral("Number of entries: ") + QString::number(n));
    if (n > 0) {
        std::vector<WabEntryRef> refs(static_cast<size_t>(n));
        const qint32 m = kWabGetEntries(handle, refs, n);
        QByteArray buffer(kWabPropBufferSize, '\0');
        for (qint32 i = 1; i <= m; ++i) {
            buffer.fill('\0');
            if (kWabGetProp_String(handle, refs[size_t(i - 1)], PR_DISPLAY_NAME_A, buffer,
                                   kWabPropBufferSize, 0) == 0) {
                run.boxes.append(QStringLiteral("Error getting entry #") + QString::number(i));
                continue;
            }
            buffer.fill('\0');
            if (kWabGetProp_String(handle, refs[size_t(i - 1)], PR_EMAIL_ADDRESS_A, buffer,
                                   kWabPropBufferSize, 0) != 0)
                run.rows.append(StripTrailingNuls(QString::fromUtf8(buffer)));
            else
                run.rows.append(QStringLiteral(" <email address not found>"));
        }
        if (m > 0)
            kWabFreeEntries(handle, refs, n);
    }
    kWabClose(handle);
    return run;
}

// Opens the book of folder and hands out references to all its entries.
struct OpenedBook {
    explicit OpenedBook(const QString& folder) {
        setAddressBookFolder(folder);
        opened = kWabOpen(handle) != 0;
        refs.resize(size_t(kWabGetNumEntries(handle)));
        count = kWabGetEntries(handle, refs, qint32(refs.size()));
    }
    ~OpenedBook() { kWabClose(handle); }
    qint16 read(size_t i, quint32 tag, QByteArray& buffer) {
        return kWabGetProp_String(handle, refs[i], tag, buffer, kWabPropBufferSize, 0);
    }

    WabHandle handle{};
    bool opened = false;
    std::vector<WabEntryRef> refs;
    qint32 count = 0;
};

} // namespace

class TestModkWab : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { setAddressBookFolder(QString()); }
    void importOfTheFixtureBook();
    void openingNeedsAReadableFolder();
    void defaultFolderFollowsXdgDataHome();
    void stripTrailingNuls_data();
    void stripTrailingNuls();
    void propertyBuffer_data();
    void propertyBuffer();
    void bufferBounds();
    void referencesAndHandles();
};

void TestModkWab::importOfTheFixtureBook() {
    setAddressBookFolder(qEnvironmentVariable("CORVANTA_TEST_DATA"));
    const ImportRun run = runImport();
    // Files by name: mixed, v21, v30, v40; in mixed.vcf the second card has no FN and the
    // third and fourth are malformed.
    QCOMPARE(run.boxes, (QStringList{QStringLiteral("Number of entries: 16"),
                                     QStringLiteral("Error getting entry #2"),
                                     QStringLiteral("Error getting entry #3"),
                                     QStringLiteral("Error getting entry #4")}));
    QCOMPARE(
        run.rows,
        (QStringList{
            QStringLiteral(" <email address not found>"), QStringLiteral("bram@devries.example"),
            QStringLiteral("maren@lindqvist.example"),
            QStringLiteral("joerg.mueller@mueller-brandt.example"),
            QStringLiteral("renee@okafor.example"), QStringLiteral("ana@duval.example"),
            QStringLiteral("tobias.wren@mail.example"),
            QStringLiteral("pim.work@achterberg-consulting.example"),
            QStringLiteral("saoirse.nb@bhriain.example"), QStringLiteral("frontdesk@hotel.example"),
            QStringLiteral("kwame.primary@asante.example"), QStringLiteral("yuki@tanabe.example"),
            QStringLiteral("orla@finnegan.example")}));

    // The book is read afresh at every opening.
    TempFolder dir;
    setAddressBookFolder(dir.path());
    QCOMPARE(runImport().boxes, QStringList{QStringLiteral("Number of entries: 0")});
    dir.write(QStringLiteral("new.vcf"), card("New", "new@x.example"));
    QCOMPARE(runImport().rows, QStringList{QStringLiteral("new@x.example")});
}

void TestModkWab::openingNeedsAReadableFolder() {
    TempFolder dir;
    const QStringList failed{QStringLiteral("Unable to open the system wab")};
    setAddressBookFolder(dir.file(QStringLiteral("missing")));
    QCOMPARE(runImport().boxes, failed);
    dir.write(QStringLiteral("file"), card("F", "f@x.example"));
    setAddressBookFolder(dir.file(QStringLiteral("file")));
    QCOMPARE(runImport().boxes, failed);

    WabHandle handle{};
    QCOMPARE(kWabOpen(handle), 0);
    QCOMPARE(kWabGetNumEntries(handle), 0);

    QDir(dir.path()).mkdir(QStringLiteral("locked"));
    const QString locked = dir.file(QStringLiteral("locked"));
    QFile::setPermissions(locked, QFileDevice::WriteOwner);
    setAddressBookFolder(locked);
    const bool modesBind = !QDir(locked).isReadable();
    if (modesBind)
        QCOMPARE(runImport().boxes, failed);
    QFile::setPermissions(locked,
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!modesBind)
        QSKIP("running with permissions that ignore folder modes");
}

void TestModkWab::defaultFolderFollowsXdgDataHome() {
    TempFolder dir;
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", dir.path().toUtf8());
    dir.write(QStringLiteral("contacts/me.vcf"), card("Me", "me@x.example"));
    setAddressBookFolder(QString());
    const QString withXdg = addressBookFolder();
    const QStringList rows = runImport().rows;
    qputenv("XDG_DATA_HOME", "relative/path");
    const QString withRelative = addressBookFolder();
    if (saved.isNull())
        qunsetenv("XDG_DATA_HOME");
    else
        qputenv("XDG_DATA_HOME", saved);

    QCOMPARE(withXdg, dir.file(QStringLiteral("contacts")));
    QCOMPARE(rows, QStringList{QStringLiteral("me@x.example")});
    QCOMPARE(withRelative, QDir::homePath() + QStringLiteral("/.local/share/contacts"));
}

void TestModkWab::stripTrailingNuls_data() {
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");
    const QChar nul(u'\0');
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("only NULs") << QString(5, nul) << QString();
    QTest::newRow("text then NULs")
        << QStringLiteral("a") + QString(255, nul) << QStringLiteral("a");
    QTest::newRow("space stops it") << QStringLiteral("a ") + nul << QStringLiteral("a ");
    QTest::newRow("inner NUL kept") << QStringLiteral("a") + nul + QStringLiteral("b") + nul
                                    << QStringLiteral("a") + nul + QStringLiteral("b");
    QTest::newRow("no NUL") << QStringLiteral("x@y") << QStringLiteral("x@y");
}

void TestModkWab::stripTrailingNuls() {
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(StripTrailingNuls(input), expected);
}

void TestModkWab::propertyBuffer_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("readBack");

    QTest::newRow("one character") << QStringLiteral("a") << QStringLiteral("a");
    QTest::newRow("exactly 255 bytes") << QString(255, u'n') << QString(255, u'n');
    QTest::newRow("ASCII over the buffer") << QString(300, u'n') << QString(255, u'n');
    // 2-byte characters: 127 fit in 255 bytes, the 128th would be split.
    QTest::newRow("2-byte characters") << QString(200, u'é') << QString(127, u'é');
    QTest::newRow("3-byte characters") << QString(100, u'€') << QString(85, u'€');
    QTest::newRow("4-byte characters")
        << QString::fromUtf8(QByteArray(80, 'x').replace("x", "\xF0\x9F\x98\x80"))
        << QString::fromUtf8(QByteArray(63, 'x').replace("x", "\xF0\x9F\x98\x80"));
}

// What the import reads back: the text at the start of the buffer, NULs after it.
void TestModkWab::propertyBuffer() {
    QFETCH(QString, value);
    QFETCH(QString, readBack);
    TempFolder dir;
    dir.write(QStringLiteral("c.vcf"), card("N", value.toUtf8()) + card(value.toUtf8(), {}));
    OpenedBook book(dir.path());
    QCOMPARE(book.count, 2);

    for (const auto& [entry, tag] :
         {std::pair{size_t(0), PR_EMAIL_ADDRESS_A}, std::pair{size_t(1), PR_DISPLAY_NAME_A}}) {
        QByteArray buffer(kWabPropBufferSize, 'Z'); // not cleared: the call must clear it
        QCOMPARE(book.read(entry, tag, buffer), qint16(1));
        QCOMPARE(buffer.size(), kWabPropBufferSize);
        const QByteArray text = readBack.toUtf8();
        QCOMPARE(buffer.left(text.size()), text);
        QCOMPARE(buffer.mid(text.size()), QByteArray(kWabPropBufferSize - text.size(), '\0'));
        QCOMPARE(StripTrailingNuls(QString::fromUtf8(buffer)), readBack);
    }
}

void TestModkWab::bufferBounds() {
    TempFolder dir;
    dir.write(QStringLiteral("c.vcf"), card("Somebody", "somebody@x.example"));
    OpenedBook book(dir.path());
    QCOMPARE(book.count, 1);

    // A smaller size than the buffer: nothing past it is touched.
    QByteArray buffer(kWabPropBufferSize, 'Z');
    QCOMPARE(kWabGetProp_String(book.handle, book.refs[0], PR_DISPLAY_NAME_A, buffer, 5, 0), 1);
    QCOMPARE(buffer.left(6), QByteArray("Some\0Z", 6));
    // A buffer smaller than the size passed: the buffer's own size bounds the write.
    QByteArray small(3, 'Z');
    QCOMPARE(book.read(0, PR_EMAIL_ADDRESS_A, small), 1);
    QCOMPARE(small, QByteArray("so\0", 3));
    QByteArray none;
    QCOMPARE(book.read(0, PR_EMAIL_ADDRESS_A, none), 0);
    QCOMPARE(kWabGetProp_String(book.handle, book.refs[0], PR_EMAIL_ADDRESS_A, buffer, 0, 0), 0);
}

void TestModkWab::referencesAndHandles() {
    TempFolder dir;
    dir.write(QStringLiteral("c.vcf"), card("One", "one@x.example") + card("Two", "two@x.example"));
    setAddressBookFolder(dir.path());
    QByteArray buffer(kWabPropBufferSize, '\0');

    WabHandle first{};
    WabHandle second{};
    QVERIFY(kWabOpen(first) != 0);
    QVERIFY(kWabOpen(second) != 0);
    QCOMPARE(kWabGetNumEntries(first), 2);

    // Fewer references than entries: the count asked for, and the room given, bound the result.
    std::vector<WabEntryRef> refs(2);
    QCOMPARE(kWabGetEntries(first, refs, 0), 0);
    QCOMPARE(kWabGetEntries(first, std::span(refs).first(1), 2), 1);
    QCOMPARE(kWabGetEntries(first, refs, 1), 1);
    QCOMPARE(kWabGetEntries(first, refs, 5), 2);
    QCOMPARE(kWabGetProp_String(first, refs[1], PR_EMAIL_ADDRESS_A, buffer, 256, 0), 1);
    QCOMPARE(StripTrailingNuls(QString::fromUtf8(buffer)), QStringLiteral("two@x.example"));

    // Unknown tags, reserved flags and another book's handle read nothing.
    buffer.fill('\0');
    QCOMPARE(kWabGetProp_String(first, refs[0], 0x3002001E, buffer, 256, 0), 0);
    QCOMPARE(kWabGetProp_String(first, refs[0], PR_DISPLAY_NAME_A, buffer, 256, 1), 0);
    QCOMPARE(kWabGetProp_String(second, refs[0], PR_DISPLAY_NAME_A, buffer, 256, 0), 0);
    QCOMPARE(kWabGetProp_String(first, WabEntryRef{}, PR_DISPLAY_NAME_A, buffer, 256, 0), 0);
    QCOMPARE(buffer, QByteArray(kWabPropBufferSize, '\0'));

    // Released references and a closed book read nothing either.
    const std::vector<WabEntryRef> kept = refs;
    kWabFreeEntries(first, refs, 2);
    QCOMPARE(refs[0].value, quint64(0));
    QCOMPARE(kWabGetProp_String(first, kept[0], PR_DISPLAY_NAME_A, buffer, 256, 0), 0);
    QCOMPARE(kWabGetEntries(first, refs, 2), 2);
    const WabHandle stale = first;
    kWabClose(first);
    QCOMPARE(first.book, quint32(0));
    WabHandle staleCopy = stale;
    QCOMPARE(kWabGetNumEntries(staleCopy), 0);
    QCOMPARE(kWabGetProp_String(staleCopy, refs[0], PR_DISPLAY_NAME_A, buffer, 256, 0), 0);
    kWabClose(staleCopy); // closing twice is harmless

    QCOMPARE(kWabGetNumEntries(second), 2);
    kWabClose(second);
}

QTEST_GUILESS_MAIN(TestModkWab)
#include "tst_modkwab.moc"
