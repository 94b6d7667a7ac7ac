#include "addressbook/modkWab.h"
#include "support/tempfolder.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTest>

#include <vector>

namespace {

QByteArray card(const QByteArray& name, const QByteArray& email = {}) {
    return "BEGIN:VCARD\r\nVERSION:4.0\r\nFN:" + name + "\r\n" +
           (email.isNull() ? QByteArray() : "EMAIL:" + email + "\r\n") + "END:VCARD\r\n";
}

// The whitelist import as the Import button runs it: the message-box texts and the rows it adds.
struct ImportRun {
    QStringList boxes;
    QStringList rows;
};

ImportRun runImport() {
    ImportRun run;
    WabHandle handle{};
    if (kWabOpen(handle) == 0)
        return {{"Unable to open the system wab"}, {}};
    const qint32 n = kWabGetNumEntries(handle);
    run.boxes.append("Number of entries: " + QString::number(n));
    if (n > 0) {
        std::vector<WabEntryRef> refs(static_cast<size_t>(n));
        const qint32 m = kWabGetEntries(handle, refs, n);
        QByteArray buffer(kWabPropBufferSize, '\0');
        for (qint32 i = 1; i <= m; ++i) {
            const WabEntryRef& ref = refs[size_t(i - 1)];
            buffer.fill('\0');
            if (!kWabGetProp_String(handle, ref, PR_DISPLAY_NAME_A, buffer, 256, 0)) {
                run.boxes.append("Error getting entry #" + QString::number(i));
                continue;
            }
            buffer.fill('\0');
            run.rows.append(kWabGetProp_String(handle, ref, PR_EMAIL_ADDRESS_A, buffer, 256, 0)
                                ? StripTrailingNuls(QString::fromUtf8(buffer))
                                : " <email address not found>");
        }
        if (m > 0)
            kWabFreeEntries(handle, refs, n);
    }
    kWabClose(handle);
    return run;
}

} // namespace

class TestModkWab : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { setAddressBookFolder(QString()); }
    void importOfTheFixtureBook();
    void openingNeedsAReadableFolder();
    void defaultFolderFollowsXdgDataHome();
    void stripTrailingNuls();
    void propertyBuffer_data();
    void propertyBuffer();
    void referencesAndHandles();
};

void TestModkWab::importOfTheFixtureBook() {
    setAddressBookFolder(qEnvironmentVariable("CORVANTA_TEST_DATA"));
    const ImportRun run = runImport();
    // Files by name: mixed, v21, v30, v40. In mixed.vcf the first card has no address, the
    // second no FN, the third and fourth are malformed.
    QCOMPARE(run.boxes, (QStringList{"Number of entries: 16", "Error getting entry #2",
                                     "Error getting entry #3", "Error getting entry #4"}));
    QCOMPARE(run.rows,
             (QStringList{" <email address not found>", "bram@devries.example",
                          "maren@lindqvist.example", "joerg.mueller@mueller-brandt.example",
                          "renee@okafor.example", "ana@duval.example", "tobias.wren@mail.example",
                          "pim.work@achterberg-consulting.example", "saoirse.nb@bhriain.example",
                          "frontdesk@hotel.example", "kwame.primary@asante.example",
                          "yuki@tanabe.example", "orla@finnegan.example"}));

    // The folder is read afresh at every opening.
    TempFolder dir;
    setAddressBookFolder(dir.path());
    QCOMPARE(runImport().boxes, QStringList{"Number of entries: 0"});
    dir.write("new.vcf", card("New", "new@x.example"));
    QCOMPARE(runImport().rows, QStringList{"new@x.example"});
}

void TestModkWab::openingNeedsAReadableFolder() {
    TempFolder dir;
    const QStringList failed{"Unable to open the system wab"};
    setAddressBookFolder(dir.file("missing"));
    QCOMPARE(runImport().boxes, failed);
    dir.write("file", card("F", "f@x.example"));
    setAddressBookFolder(dir.file("file"));
    QCOMPARE(runImport().boxes, failed);

    QDir(dir.path()).mkdir("locked");
    QFile::setPermissions(dir.file("locked"), QFileDevice::WriteOwner);
    setAddressBookFolder(dir.file("locked"));
    const bool modesBind = !QDir(dir.file("locked")).isReadable();
    const QStringList boxes = runImport().boxes;
    QFile::setPermissions(dir.file("locked"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!modesBind)
        QSKIP("running with permissions that ignore folder modes");
    QCOMPARE(boxes, failed);
}

void TestModkWab::defaultFolderFollowsXdgDataHome() {
    TempFolder dir;
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", dir.path().toUtf8());
    dir.write("contacts/me.vcf", card("Me", "me@x.example"));
    const QString withXdg = addressBookFolder();
    const QStringList rows = runImport().rows;
    qputenv("XDG_DATA_HOME", "relative/path"); // not absolute: ignored
    const QString withRelative = addressBookFolder();
    saved.isNull() ? qunsetenv("XDG_DATA_HOME") : qputenv("XDG_DATA_HOME", saved);

    QCOMPARE(withXdg, dir.file("contacts"));
    QCOMPARE(rows, QStringList{"me@x.example"});
    QCOMPARE(withRelative, QDir::homePath() + "/.local/share/contacts");
}

void TestModkWab::stripTrailingNuls() {
    const QChar nul(u'\0');
    QCOMPARE(StripTrailingNuls(QString()), QString());
    QCOMPARE(StripTrailingNuls(QString(5, nul)), QString());
    QCOMPARE(StripTrailingNuls("a" + QString(255, nul)), QStringLiteral("a"));
    QCOMPARE(StripTrailingNuls("a " + QString(nul)), QStringLiteral("a "));
    QCOMPARE(StripTrailingNuls("a" + QString(nul) + "b" + nul), "a" + QString(nul) + "b");
}

void TestModkWab::propertyBuffer_data() {
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("readBack");

    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80");
    QTest::newRow("one character") << "a"
                                   << "a";
    QTest::newRow("exactly 255 bytes") << QString(255, u'n') << QString(255, u'n');
    QTest::newRow("ASCII over the buffer") << QString(300, u'n') << QString(255, u'n');
    // Cut before a character that would not fit whole: 127 2-byte, 85 3-byte, 63 4-byte ones.
    QTest::newRow("2-byte characters") << QString(200, u'é') << QString(127, u'é');
    QTest::newRow("3-byte characters") << QString(100, u'€') << QString(85, u'€');
    QTest::newRow("4-byte characters") << smile.repeated(80) << smile.repeated(63);
}

// The text at the start of the buffer and NULs after it, even over a buffer not cleared.
void TestModkWab::propertyBuffer() {
    QFETCH(QString, value);
    QFETCH(QString, readBack);
    TempFolder dir;
    dir.write("c.vcf", card("N", value.toUtf8()) + card(value.toUtf8()));
    setAddressBookFolder(dir.path());
    WabHandle handle{};
    QVERIFY(kWabOpen(handle));
    std::vector<WabEntryRef> refs(2);
    QCOMPARE(kWabGetEntries(handle, refs, 2), 2);

    const QByteArray text = readBack.toUtf8();
    for (const auto& [ref, tag] :
         {std::pair{refs[0], PR_EMAIL_ADDRESS_A}, std::pair{refs[1], PR_DISPLAY_NAME_A}}) {
        QByteArray buffer(kWabPropBufferSize, 'Z');
        QCOMPARE(kWabGetProp_String(handle, ref, tag, buffer, kWabPropBufferSize, 0), 1);
        QCOMPARE(buffer, text + QByteArray(kWabPropBufferSize - text.size(), '\0'));
        QCOMPARE(StripTrailingNuls(QString::fromUtf8(buffer)), readBack);
    }
    // The size passed and the buffer's own size both bound the write.
    QByteArray buffer(8, 'Z');
    QCOMPARE(kWabGetProp_String(handle, refs[0], PR_EMAIL_ADDRESS_A, buffer, 2, 0), 1);
    QCOMPARE(buffer.mid(1), QByteArray("\0ZZZZZZ", 7));
    QByteArray small(1, 'Z');
    QCOMPARE(kWabGetProp_String(handle, refs[0], PR_EMAIL_ADDRESS_A, small, 256, 0), 1);
    QCOMPARE(small, QByteArray(1, '\0'));
    kWabClose(handle);
}

void TestModkWab::referencesAndHandles() {
    TempFolder dir;
    dir.write("c.vcf", card("One", "one@x.example") + card("Two", "two@x.example"));
    setAddressBookFolder(dir.path());
    QByteArray buffer(kWabPropBufferSize, '\0');
    const auto read = [&buffer](WabHandle& h, const WabEntryRef& ref, quint32 tag, qint32 flags) {
        return kWabGetProp_String(h, ref, tag, buffer, kWabPropBufferSize, flags);
    };

    WabHandle first{};
    WabHandle second{};
    QVERIFY(kWabOpen(first) && kWabOpen(second));
    QCOMPARE(kWabGetNumEntries(first), 2);

    // The count asked for and the room given both bound the references written.
    std::vector<WabEntryRef> refs(2);
    QCOMPARE(kWabGetEntries(first, refs, 0), 0);
    QCOMPARE(kWabGetEntries(first, std::span(refs).first(1), 2), 1);
    QCOMPARE(kWabGetEntries(first, refs, 5), 2);
    QCOMPARE(read(first, refs[1], PR_EMAIL_ADDRESS_A, 0), 1);
    QCOMPARE(StripTrailingNuls(QString::fromUtf8(buffer)), QStringLiteral("two@x.example"));

    // Unknown tags, reserved flags, another book's handle and made-up references read nothing.
    buffer.fill('\0');
    QCOMPARE(read(first, refs[0], 0x3002001E, 0), 0);
    QCOMPARE(read(first, refs[0], PR_DISPLAY_NAME_A, 1), 0);
    QCOMPARE(read(second, refs[0], PR_DISPLAY_NAME_A, 0), 0);
    QCOMPARE(read(first, WabEntryRef{refs[0].value + 2}, PR_DISPLAY_NAME_A, 0), 0);
    QCOMPARE(buffer, QByteArray(kWabPropBufferSize, '\0'));

    // Released references and a closed book read nothing either.
    const std::vector<WabEntryRef> kept = refs;
    kWabFreeEntries(first, refs, 2);
    QCOMPARE(refs[0].value, quint64(0));
    QCOMPARE(read(first, kept[0], PR_DISPLAY_NAME_A, 0), 0);
    QCOMPARE(kWabGetEntries(first, refs, 2), 2);
    WabHandle stale = first;
    kWabClose(first);
    QCOMPARE(first.book, quint32(0));
    QCOMPARE(kWabGetNumEntries(stale), 0);
    QCOMPARE(read(stale, refs[0], PR_DISPLAY_NAME_A, 0), 0);
    kWabClose(stale); // closing twice is harmless
    QCOMPARE(kWabGetNumEntries(second), 2);
    kWabClose(second);
}

QTEST_GUILESS_MAIN(TestModkWab)
#include "tst_modkwab.moc"
