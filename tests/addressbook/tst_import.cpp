// The whitelist's "Import" button on the main window.
#include "addressbook/modkWab.h"
#include "app/frmMain.h"
#include "app/ubGrid.h"
#include "support/tempfolder.h"
#include "support/ui/scriptedboxes.h"

#include <QLineEdit>
#include <QTest>

namespace {

QStringList rowsOf(const ubGrid* grid) {
    QStringList rows;
    for (int row = 1; row <= grid->rows(); ++row)
        rows.append(grid->celltext(row, 1));
    return rows;
}

QStringList textsOf(const ScriptedBoxes& boxes) {
    QStringList texts;
    for (const MsgBoxRequest& box : boxes.shown()) {
        // Every box of the import is a plain OK box with the application's title.
        if (box.buttons != MsgBoxButtons::Ok || box.title != appTitle())
            texts.append("unexpected box: " + box.text);
        else
            texts.append(box.text);
    }
    return texts;
}

} // namespace

class TestImport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { setAddressBookFolder(QString()); }
    void appendsAfterExistingRows();
    void unopenableBookLeavesTheWhitelistAlone();
};

void TestImport::appendsAfterExistingRows() {
    TempFolder program;
    program.write("whitelist.dat", "friend@old.example\r\n");
    TempFolder contacts;
    contacts.write("a.vcf", "BEGIN:VCARD\r\nVERSION:3.0\r\nFN:Ada\r\nEMAIL:ada@x.example\r\n"
                            "END:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\nN:Nameless;;;;\r\n"
                            "EMAIL:n@x.example\r\nEND:VCARD\r\nBEGIN:VCARD\r\nVERSION:3.0\r\n"
                            "FN:No Mail\r\nEND:VCARD\r\n");
    setAddressBookFolder(contacts.path());
    frmMain form(program.path());
    form.Form_Load();
    const QString countBefore = form.txtwhitelistCount->text();

    ScriptedBoxes boxes;
    form.Command1_Click();
    form.Command1_Click(); // a second import appends everything again
    QCOMPARE(textsOf(boxes), (QStringList{"Number of entries: 3", "Error getting entry #2",
                                          "Number of entries: 3", "Error getting entry #2"}));
    const QStringList imported{"ada@x.example", " <email address not found>"};
    QCOMPARE(rowsOf(form.gridwhitelist), QStringList{"friend@old.example"} + imported + imported);
    QCOMPARE(form.txtwhitelistCount->text(), countBefore);
}

void TestImport::unopenableBookLeavesTheWhitelistAlone() {
    TempFolder program;
    program.write("whitelist.dat", "friend@old.example\r\n");
    setAddressBookFolder(program.file("no-such-folder"));
    frmMain form(program.path());
    form.Form_Load();

    ScriptedBoxes boxes;
    form.Command1_Click();
    QCOMPARE(textsOf(boxes), QStringList{"Unable to open the system wab"});
    QCOMPARE(rowsOf(form.gridwhitelist), QStringList{"friend@old.example"});
}

QTEST_MAIN(TestImport)
#include "tst_import.moc"
