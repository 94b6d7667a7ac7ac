// A scan through the main window over encrypted accounts on the test Dovecot: one on pop3s://,
// one upgraded with STLS, and one whose certificate names another server, which is skipped.
#include "app/frmMain.h"
#include "app/ubGrid.h"
#include "config/checkvalue.h"
#include "scan/module_scan.h"
#include "support/dovecot.h"
#include "support/tempfolder.h"
#include "support/ui/scriptedboxes.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QTest>

namespace {

QByteArray message(const QByteArray& subject) {
    return "From: Sender <sender@example.com>\r\nTo: user@example.com\r\nSubject: " + subject +
           "\r\n\r\nHello.\r\n";
}

void addAccount(frmMain& form, const QString& server, const DovecotMailbox& box) {
    form.gridAccounts->setCols(3);
    form.gridAccounts->addrow(server);
    const int row = form.gridAccounts->rows();
    form.gridAccounts->setCelltext(row, 2, box.userName());
    form.gridAccounts->setCelltext(row, 3, box.password());
}

} // namespace

class TestPop3Scan : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void scansEncryptedAccounts();
};

void TestPop3Scan::scansEncryptedAccounts() {
    DovecotMailbox implicitBox;
    DovecotMailbox stlsBox;
    if (!implicitBox.available() || !stlsBox.available())
        QSKIP(implicitBox.available() ? stlsBox.skipReason() : implicitBox.skipReason());
    if (implicitBox.serverImplicitTls().isEmpty())
        QSKIP("the test POP3 server runs without TLS");
    for (DovecotMailbox* box : {&implicitBox, &stlsBox})
        QVERIFY(box->seed(
            {message("Monthly report"), message("Miracle pills"), message("Lunch on Friday")}));

    // The user trusts the server by placing its CA beside the program.
    TempFolder folder;
    folder.write("certificates/authorities/test-ca.pem", implicitBox.caCertificatePem());
    frmMain form(folder.path());
    addAccount(form, implicitBox.serverImplicitTls(), implicitBox);
    addAccount(form, stlsBox.serverStls(), stlsBox);
    const bool wrongName = !implicitBox.serverWrongName().isEmpty();
    if (wrongName) // the same mailbox again, by an address its certificate does not name
        addAccount(form, implicitBox.serverWrongName(), implicitBox);
    form.gridkeywords->addrow("miracle");
    setCheckValue(form.checkkeywords, 1);
    const int implicitLogins = implicitBox.encryptedLogins();
    const int stlsLogins = stlsBox.encryptedLogins();

    ScriptedBoxes boxes;
    boxes.answer(MsgBoxAnswer::Ok);
    boxes.answer(MsgBoxAnswer::Ok);
    module_scan(form);

    QCOMPARE(boxes.shown().size(), 2); // one spam notice per account, nothing about the third
    QCOMPARE(boxes.unexpected(), 0);
    QCOMPARE(form.txtEmailsBlockedCount->text(), QStringLiteral("2"));
    QCOMPARE(form.txttotalemailsever->text(), QStringLiteral("6"));
    const QList<QByteArray> kept = {message("Monthly report"), message("Lunch on Friday")};
    QCOMPARE(implicitBox.messages(), kept);
    QCOMPARE(stlsBox.messages(), kept);
    QCOMPARE(QDir(folder.file("SpamDeleted")).entryList(QDir::Files).size(), 2);
    // Both sessions were encrypted, on the server's word; the third row never logged in.
    QTRY_COMPARE(implicitBox.encryptedLogins(), implicitLogins + 1);
    QTRY_COMPARE(stlsBox.encryptedLogins(), stlsLogins + 1);
}

QTEST_MAIN(TestPop3Scan)
#include "tst_pop3scan.moc"
