// The POP3 component against the test suite's Dovecot: whole sessions in the clear, after STLS and
// over implicit TLS, and the refusals that keep a log-in from happening.
#include "scan/pop3/FreePOP.h"
#include "support/dovecot.h"
#include "support/tempfolder.h"

#include <QDir>
#include <QTest>

#include <memory>

namespace {

QByteArray message(const QByteArray& subject, const QByteArray& body) {
    return "From: Sender <sender@example.com>\r\nTo: user@example.com\r\nSubject: " + subject +
           "\r\n\r\n" + body;
}

// A program folder whose certificates folder holds the fixture's CA, as a user would place an
// authority.
void placeFixtureCa(const TempFolder& folder, const DovecotMailbox& box) {
    folder.write(QStringLiteral("certificates/authorities/test-ca.pem"), box.caCertificatePem());
}

std::unique_ptr<FreePOP> clientFor(const DovecotMailbox& box, const QString& cell,
                                   const TempFolder& folder) {
    auto pop = std::make_unique<FreePOP>();
    pop->setPophostname(cell);
    pop->setPopusername(box.userName());
    pop->setPoppassword(box.password());
    pop->setPoptimeout(20);
    pop->setTrustedCertificatesFolder(folder.file(QStringLiteral("certificates")));
    return pop;
}

} // namespace

class TestPop3Dovecot : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void wholeSession_data();
    void wholeSession();
    void refusedServers();
};

void TestPop3Dovecot::wholeSession_data() {
    QTest::addColumn<QString>("form");
    QTest::addColumn<bool>("encrypted");
    QTest::newRow("implicit TLS") << "implicit" << true;
    QTest::newRow("STLS upgrade") << "stls" << true;
    QTest::newRow("STLS upgrade, pop3:// form") << "pop3-stls" << true;
    QTest::newRow("no STLS offered: in the clear") << "plain" << false;
}

// What a scan does with one account: log in, fetch and read every message, delete one, log out;
// the server keeps the others.
void TestPop3Dovecot::wholeSession() {
    QFETCH(QString, form);
    QFETCH(bool, encrypted);

    DovecotMailbox box;
    if (!box.available())
        QSKIP(box.skipReason());
    if (box.serverImplicitTls().isEmpty())
        QSKIP("the test POP3 server runs without TLS");
    const QString cell = form == "implicit"    ? box.serverImplicitTls()
                         : form == "stls"      ? box.serverStls()
                         : form == "pop3-stls" ? "pop3://" + box.serverStls()
                                               : box.server();
    const QList<QByteArray> seeded = {
        message("first", "Hello.\r\n"),
        message("=?utf-8?Q?Gr=C3=BC=C3=9Fe?=", ".a dotted line\r\n.\r\nend\r\n"),
        message("third", "Bye.\r\n"),
    };
    QVERIFY(box.seed(seeded));
    TempFolder folder;
    placeFixtureCa(folder, box);
    const int loginsBefore = box.encryptedLogins();

    auto pop = clientFor(box, cell, folder);
    pop->Connect();
    QVERIFY2(pop->ErrorCode() == 0, qPrintable(pop->errorString() + " " + box.tlsLogFile()));
    QCOMPARE(pop->isEncrypted(), encrypted);
    QVERIFY(!pop->hasCapability(u"STLS")); // never offered again once encrypted, nor by the plain
    QVERIFY(pop->hasCapability(u"UIDL"));
    QCOMPARE(pop->MessageCount(), 3);
    for (int n = 1; n <= 3; ++n) {
        pop->FetchMessage(n);
        QCOMPARE(pop->ErrorCode(), 0);
        QCOMPARE(pop->rawMessage(), seeded[n - 1]);
        pop->CompleteFetch();
        QCOMPARE(pop->ErrorCode(), 0);
    }
    QCOMPARE(pop->Subject(), QStringLiteral("third"));
    pop->FetchMessage(2);
    pop->CompleteFetch();
    QCOMPARE(pop->Subject(), QStringLiteral("Gr\u00fc\u00dfe"));
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("SpamDeleted")));
    pop->SaveMessage(folder.file(QStringLiteral("SpamDeleted/gruesse.html")));
    QCOMPARE(pop->ErrorCode(), 0);
    pop->DeleteMessage();
    QCOMPARE(pop->ErrorCode(), 0);
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);

    QCOMPARE(box.messages(), (QList<QByteArray>{seeded[0], seeded[2]}));
    // The server's own account of the session.
    QTRY_COMPARE(box.encryptedLogins(), loginsBefore + (encrypted ? 1 : 0));
}

// No log-in happens on a server whose certificate is not trusted or names another server.
void TestPop3Dovecot::refusedServers() {
    DovecotMailbox box;
    if (!box.available())
        QSKIP(box.skipReason());
    if (box.serverImplicitTls().isEmpty())
        QSKIP("the test POP3 server runs without TLS");
    QVERIFY(box.seed({message("kept", "Still here.\r\n")}));
    const int loginsBefore = box.encryptedLogins();

    TempFolder folder; // nothing placed: the fixture's CA is nobody's root
    for (const QString& cell : {box.serverImplicitTls(), box.serverStls()}) {
        auto pop = clientFor(box, cell, folder);
        pop->Connect();
        QCOMPARE(pop->ErrorCode(), int(FreePOP::CertificateUntrusted));
        QVERIFY(!pop->errorString().contains(box.password()));
    }

    if (!box.serverWrongName().isEmpty()) {
        placeFixtureCa(folder, box);
        auto pop = clientFor(box, box.serverWrongName(), folder);
        pop->Connect();
        QCOMPARE(pop->ErrorCode(), int(FreePOP::HostNameMismatch));
        // The same server by a name its certificate carries.
        pop->setPophostname(box.serverImplicitTls().replace("127.0.0.1", "localhost"));
        pop->Connect();
        QCOMPARE(pop->ErrorCode(), 0);
        QCOMPARE(pop->MessageCount(), 1);
        pop->Disconnect();
        QTRY_COMPARE(box.encryptedLogins(), loginsBefore + 1);
    } else {
        qInfo("no second loopback address on this system: the name mismatch is not tried");
    }
    QCOMPARE(box.encryptedLogins(), loginsBefore + (box.serverWrongName().isEmpty() ? 0 : 1));
    QCOMPARE(box.messages().size(), 1);
}

QTEST_GUILESS_MAIN(TestPop3Dovecot)
#include "tst_pop3dovecot.moc"
