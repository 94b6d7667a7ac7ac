// Encrypted connections against the scripted server: when the client upgrades, what it trusts, and
// that no failure lets the login name or the password out.
#include "scan/pop3/FreePOP.h"
#include "scan/pop3/tlsmemory.h"
#include "support/scriptedpop3server.h"
#include "support/tempfolder.h"
#include "support/testcertificates.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <memory>

namespace {

const QString kUser = QStringLiteral("alice");
const QString kPassword = QStringLiteral("open-sesame-42");

std::unique_ptr<FreePOP> clientFor(const QString& cell, const QString& certificates,
                                   int timeoutSeconds = 10) {
    auto pop = std::make_unique<FreePOP>();
    pop->setPophostname(cell);
    pop->setPopusername(kUser);
    pop->setPoppassword(kPassword);
    pop->setPoptimeout(timeoutSeconds);
    pop->setTrustedCertificatesFolder(certificates);
    return pop;
}

// USER, PASS and STAT after the greeting and whatever came between.
void scriptLogin(ScriptedPop3Server& server, int messages) {
    server.expectLine(QStringLiteral("USER ") + kUser)
        .reply("+OK")
        .expectLine(QStringLiteral("PASS ") + kPassword)
        .reply("+OK logged in")
        .expectLine(QStringLiteral("STAT"))
        .reply("+OK " + QByteArray::number(messages) + " 100");
}

bool sentAnythingOfTheLogin(const ScriptedPop3Server& server) {
    for (const QString& line : server.received()) {
        if (line.startsWith(QLatin1String("USER")) || line.startsWith(QLatin1String("PASS")) ||
            line.contains(kPassword))
            return true;
    }
    return false;
}

} // namespace

class TestPop3Tls : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void capabilitiesDecideTheUpgrade_data();
    void capabilitiesDecideTheUpgrade();
    void failedUpgradesSendNothing_data();
    void failedUpgradesSendNothing();
    void placingTheCertificateTrustsTheServer();
    void certificateTrust_data();
    void certificateTrust();
    void implicitTlsMeetsNoTls();
    void largeMessagesComeThroughWhole();
    void missingStlsAfterEncryptionIsRefused_data();
    void missingStlsAfterEncryptionIsRefused();
    void requiredStls_data();
    void requiredStls();
    void unwritableMemoryDoesNotStopLogIn_data();
    void unwritableMemoryDoesNotStopLogIn();
    void memoryFile();

private:
    // The server's identities, all for 127.0.0.1 and localhost unless named otherwise.
    TestIdentity m_selfSigned;
    TestIdentity m_otherName; // self-signed for mail.other-name.test
    TestIdentity m_authority;
    TestIdentity m_issued;
    TestIdentity m_issuedOtherName; // issued for mail.other-name.test
    // A self-signed certificate for localhost that may issue others, as openssl makes them by
    // default, and two it issued: for localhost, and for 127.0.0.1 (another server, as far as
    // the names go).
    TestIdentity m_issuer;
    TestIdentity m_issuerOwn;
    TestIdentity m_issuerOther;
};

void TestPop3Tls::initTestCase() {
    const QString local = QStringLiteral("DNS:localhost,IP:127.0.0.1");
    const QString other = QStringLiteral("DNS:mail.other-name.test");
    const auto selfSigned = testcerts::selfSigned(local);
    const auto otherName = testcerts::selfSigned(other);
    const auto authority = testcerts::authority(QStringLiteral("Corvanta Test CA"));
    QVERIFY2(selfSigned && otherName && authority, qPrintable(testcerts::lastError()));
    const auto issued = testcerts::issued(*authority, local);
    const auto issuedOtherName = testcerts::issued(*authority, other);
    QVERIFY2(issued && issuedOtherName, qPrintable(testcerts::lastError()));
    const auto issuer = testcerts::selfSignedIssuer(QStringLiteral("DNS:localhost"));
    QVERIFY2(issuer, qPrintable(testcerts::lastError()));
    const auto issuerOwn = testcerts::issued(*issuer, QStringLiteral("DNS:localhost"));
    const auto issuerOther = testcerts::issued(*issuer, QStringLiteral("IP:127.0.0.1"));
    QVERIFY2(issuerOwn && issuerOther, qPrintable(testcerts::lastError()));
    m_issuer = *issuer;
    m_issuerOwn = *issuerOwn;
    m_issuerOther = *issuerOther;
    m_selfSigned = *selfSigned;
    m_otherName = *otherName;
    m_authority = *authority;
    m_issued = *issued;
    m_issuedOtherName = *issuedOtherName;
    QVERIFY(!m_selfSigned.certificate().isNull() && !m_selfSigned.key().isNull());
}

void TestPop3Tls::capabilitiesDecideTheUpgrade_data() {
    QTest::addColumn<bool>("knowsCapa");
    QTest::addColumn<QList<QByteArray>>("offered");
    QTest::addColumn<bool>("upgrades");
    QTest::newRow("no CAPA: clear, as before") << false << QList<QByteArray>() << false;
    QTest::newRow("capabilities without STLS")
        << true << QList<QByteArray>{"TOP", "PIPELINING", "UIDL"} << false;
    QTest::newRow("STLS offered") << true << QList<QByteArray>{"TOP", "STLS", "USER"} << true;
    QTest::newRow("stls in lower case, with a blank after it")
        << true << QList<QByteArray>{"user", "stls "} << true;
}

void TestPop3Tls::capabilitiesDecideTheUpgrade() {
    QFETCH(bool, knowsCapa);
    QFETCH(QList<QByteArray>, offered);
    QFETCH(bool, upgrades);

    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.setTlsIdentity(m_selfSigned.certificate(), m_selfSigned.key());
    server.reply("+OK ready");
    if (knowsCapa)
        server.capa(offered);
    if (upgrades) {
        server.expectLine(QStringLiteral("STLS")).reply("+OK go ahead").startTls();
        // What was offered in the clear no longer counts.
        server.capa({"USER", "PIPELINING"});
    }
    scriptLogin(server, 2);
    // A server with PIPELINING is asked for the message sizes, which bound asking ahead.
    if (upgrades || offered.contains(QByteArrayLiteral("PIPELINING")))
        server.list({100, 100});
    server.quit();

    TempFolder folder;
    folder.write(QStringLiteral("certificates/server.pem"), m_selfSigned.certificatePem);
    auto pop = clientFor(server.address(), folder.file(QStringLiteral("certificates")));
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->MessageCount(), 2);
    QCOMPARE(pop->isEncrypted(), upgrades);
    QCOMPARE(server.encryptedConnections(), upgrades ? 1 : 0);
    QVERIFY(!pop->hasCapability(u"STLS") || !upgrades);
    QCOMPARE(pop->hasCapability(u"pipelining"),
             upgrades || offered.contains(QByteArrayLiteral("PIPELINING")));
    if (!knowsCapa)
        QVERIFY(pop->capabilities().isEmpty());
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
    QVERIFY(server.isFinished());
}

void TestPop3Tls::failedUpgradesSendNothing_data() {
    QTest::addColumn<QByteArray>("answer"); // to STLS
    QTest::addColumn<QByteArray>("then");   // "drop", "drip", "stall", "tls" or nothing
    QTest::addColumn<int>("error");
    QTest::newRow("STLS refused") << QByteArray("-ERR not today\r\n") << QByteArray()
                                  << int(FreePOP::StlsRefused);
    QTest::newRow("connection closed instead of the handshake")
        << QByteArray("+OK\r\n") << QByteArray("drop") << int(FreePOP::TlsHandshakeFailed);
    QTest::newRow("no TLS after all")
        << QByteArray("+OK\r\n") << QByteArray("drip") << int(FreePOP::TlsHandshakeFailed);
    // Someone on the way adds an answer in the clear, to be read as the answer to USER or PASS.
    QTest::newRow("an answer slipped in before the handshake")
        << QByteArray("+OK\r\n+OK welcome\r\n") << QByteArray("stall")
        << int(FreePOP::ProtocolError);
    QTest::newRow("silence instead of the handshake")
        << QByteArray("+OK\r\n") << QByteArray("stall") << int(FreePOP::TimedOut);
    QTest::newRow("untrusted certificate")
        << QByteArray("+OK\r\n") << QByteArray("tls") << int(FreePOP::CertificateUntrusted);
}

// Once STLS was offered, nothing is sent in the clear: no fallback, whatever goes wrong.
void TestPop3Tls::failedUpgradesSendNothing() {
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, then);
    QFETCH(int, error);

    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.setTlsIdentity(m_selfSigned.certificate(), m_selfSigned.key());
    server.reply("+OK ready").capa({"STLS"}).expectLine(QStringLiteral("STLS")).send(answer);
    if (then == "drop")
        server.drop();
    else if (then == "drip")
        server.drip("this is not the start of a TLS handshake\r\n", 20);
    else if (then == "tls")
        server.startTls();
    server.stall();

    const int timeout = error == FreePOP::TimedOut ? 1 : 10;
    auto pop = clientFor(server.address(), QString(), timeout);
    QElapsedTimer clock;
    clock.start();
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), error);
    QVERIFY2(clock.elapsed() < timeout * 1000 + 1500, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!pop->errorString().isEmpty());
    QVERIFY(!pop->errorString().contains(kPassword));
    QVERIFY(!pop->isEncrypted());
    QVERIFY(!sentAnythingOfTheLogin(server));
    QTRY_VERIFY(!server.hasClient());
    pop->FetchMessage(1);
    QCOMPARE(pop->ErrorCode(), int(FreePOP::NotConnected));
}

// The issue a user meets first: a self-signed server is refused until its certificate is placed,
// and from the next log-in on it is trusted, without a restart.
void TestPop3Tls::placingTheCertificateTrustsTheServer() {
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.setTlsIdentity(m_selfSigned.certificate(), m_selfSigned.key());
    server.setImplicitTls(true);
    server.reply("+OK ready");
    scriptLogin(server, 1);
    server.quit();

    TempFolder folder;
    const QString certificates = folder.file(QStringLiteral("certificates"));
    auto pop = clientFor(QStringLiteral("pop3s://127.0.0.1:%1").arg(server.port()), certificates);
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::CertificateUntrusted));
    QVERIFY2(pop->errorString().contains(certificates), qPrintable(pop->errorString()));
    // Where to put an authority for every server is said too.
    QVERIFY2(pop->errorString().contains(certificates + QStringLiteral("/authorities")),
             qPrintable(pop->errorString()));
    QVERIFY(server.received().isEmpty());
    QCOMPARE(server.encryptedConnections(), 0);

    folder.write(QStringLiteral("certificates/home-server.pem"), m_selfSigned.certificatePem);
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY(pop->isEncrypted());
    QCOMPARE(pop->MessageCount(), 1);
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
    QVERIFY(server.isFinished());
}

void TestPop3Tls::certificateTrust_data() {
    QTest::addColumn<QString>("shown");  // the server's certificate
    QTest::addColumn<QString>("placed"); // what lies in the certificates folder, or in authorities/
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("error");

    QTest::newRow("self-signed, placed, by address") << "self"
                                                     << "self"
                                                     << "127.0.0.1" << 0;
    QTest::newRow("self-signed, placed, by name") << "self"
                                                  << "self"
                                                  << "localhost" << 0;
    QTest::newRow("self-signed, placed in binary form") << "self"
                                                        << "self.der"
                                                        << "localhost" << 0;
    QTest::newRow("self-signed, another certificate placed")
        << "self"
        << "other"
        << "127.0.0.1" << int(FreePOP::CertificateUntrusted);
    QTest::newRow("self-signed, placed, made out to another name")
        << "other"
        << "other"
        << "127.0.0.1" << int(FreePOP::HostNameMismatch);
    QTest::newRow("issued, nothing placed") << "issued"
                                            << ""
                                            << "localhost" << int(FreePOP::CertificateUntrusted);
    QTest::newRow("issued, authority placed") << "issued"
                                              << "authorities/ca"
                                              << "localhost" << 0;
    // It names no server, so it vouches for none: authorities go into their own folder.
    QTest::newRow("issued, authority placed among the server certificates")
        << "issued"
        << "ca"
        << "localhost" << int(FreePOP::CertificateUntrusted);
    QTest::newRow("issued, authority in a bundle among other files") << "issued"
                                                                     << "authorities/bundle"
                                                                     << "127.0.0.1" << 0;
    QTest::newRow("issued, the server's own certificate placed") << "issued"
                                                                 << "issued"
                                                                 << "127.0.0.1" << 0;
    QTest::newRow("issued, authority placed, made out to another name")
        << "issued-other"
        << "authorities/ca"
        << "localhost" << int(FreePOP::HostNameMismatch);

    // A server certificate that may issue others, placed for localhost: whoever has its key must
    // not get any other server trusted.
    QTest::newRow("issuing self-signed, placed") << "issuer"
                                                 << "issuer"
                                                 << "localhost" << 0;
    QTest::newRow("issuing self-signed, placed, name in capitals") << "issuer"
                                                                   << "issuer"
                                                                   << "LocalHost" << 0;
    QTest::newRow("issuing self-signed, placed, reached by another name")
        << "issuer"
        << "issuer"
        << "127.0.0.1" << int(FreePOP::HostNameMismatch);
    QTest::newRow("issued by a placed server certificate, for it") << "issuer-own"
                                                                   << "issuer"
                                                                   << "localhost" << 0;
    QTest::newRow("issued by a placed server certificate, for another server")
        << "issuer-other"
        << "issuer"
        << "127.0.0.1" << int(FreePOP::CertificateUntrusted);
    QTest::newRow("issued by a placed server certificate, for another server, placed as authority")
        << "issuer-other"
        << "authorities/issuer"
        << "127.0.0.1" << 0;
    QTest::newRow("issued by a placed server certificate, for another name than entered")
        << "issuer-other"
        << "issuer"
        << "localhost" << int(FreePOP::HostNameMismatch);
}

void TestPop3Tls::certificateTrust() {
    QFETCH(QString, shown);
    QFETCH(QString, placed);
    QFETCH(QString, host);
    QFETCH(int, error);

    const QHash<QString, const TestIdentity*> identities = {
        {"self", &m_selfSigned},      {"other", &m_otherName},
        {"issued", &m_issued},        {"issued-other", &m_issuedOtherName},
        {"ca", &m_authority},         {"issuer", &m_issuer},
        {"issuer-own", &m_issuerOwn}, {"issuer-other", &m_issuerOther},
    };
    TempFolder folder;
    const QString name = placed.section('/', -1);
    if (placed == "self.der") {
        folder.write("certificates/server.cer", m_selfSigned.certificate().toDer());
    } else if (name == "bundle") {
        folder.write("certificates/README.txt", "Certificates for the mail servers.\n");
        folder.write("certificates/server.key", m_issued.keyPem);
        folder.write("certificates/" + placed + ".pem",
                     m_otherName.certificatePem + "\n" + m_authority.certificatePem);
    } else if (!placed.isEmpty()) {
        folder.write("certificates/" + placed + ".pem", identities[name]->certificatePem);
    }

    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.setTlsIdentity(identities[shown]->certificate(), identities[shown]->key());
    server.setImplicitTls(true);
    server.reply("+OK ready");
    scriptLogin(server, 3);
    server.quit();

    auto pop = clientFor(QStringLiteral("pop3s://%1:%2").arg(host).arg(server.port()),
                         folder.file("certificates"));
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), error);
    if (error != 0) {
        QVERIFY(server.received().isEmpty());
        QVERIFY(!pop->errorString().contains(kPassword));
        return;
    }
    QVERIFY(pop->isEncrypted());
    QCOMPARE(pop->MessageCount(), 3);
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
}

// A server cell that asks for TLS reaching a server that does not speak it: refused at once, or
// bounded by the time-out when the other side says nothing at all.
void TestPop3Tls::implicitTlsMeetsNoTls() {
    ScriptedPop3Server plain;
    QVERIFY(plain.listen());
    plain.reply("+OK plain POP3 here").stall();
    auto pop = clientFor(QStringLiteral("pop3s://127.0.0.1:%1").arg(plain.port()), QString(), 30);
    QElapsedTimer clock;
    clock.start();
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::TlsHandshakeFailed));
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY(!sentAnythingOfTheLogin(plain)); // only the binary start of a handshake

    ScriptedPop3Server silent;
    QVERIFY(silent.listen());
    silent.stall();
    pop->setPophostname(QStringLiteral("pop3s://127.0.0.1:%1").arg(silent.port()));
    pop->setPoptimeout(1);
    clock.restart();
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::TimedOut));
    QVERIFY2(clock.elapsed() < 2500, qPrintable(QString::number(clock.elapsed())));
    QTRY_VERIFY(!silent.hasClient());
}

void TestPop3Tls::largeMessagesComeThroughWhole() {
    // Each many times what the socket takes in ahead of its reader: the rest waits in the
    // encryption layer and in the system, and must still all come through, the end included.
    QByteArray body;
    for (int i = 0; body.size() < 5 * 1024 * 1024; ++i)
        body += "line " + QByteArray::number(i) + " of a large encrypted message\r\n";
    const QByteArray first = "From: a@example.com\r\nSubject: one\r\n\r\n" + body;
    const QByteArray second = "From: b@example.com\r\nSubject: two\r\n\r\n" + body + "end\r\n";

    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.setTlsIdentity(m_selfSigned.certificate(), m_selfSigned.key());
    server.reply("+OK ready").stls().capa({"USER"});
    scriptLogin(server, 2);
    server.message(1, first).message(2, second).quit();

    TempFolder folder;
    folder.write(QStringLiteral("certificates/server.pem"), m_selfSigned.certificatePem);
    auto pop = clientFor(server.address(), folder.file(QStringLiteral("certificates")));
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY(pop->isEncrypted());
    const QString expected =
        QString::fromLatin1(body).replace(QLatin1String("\r\n"), QLatin1String("\n"));
    pop->FetchMessage(1);
    QCOMPARE(pop->ErrorCode(), 0);
    pop->CompleteFetch();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->Subject(), QStringLiteral("one"));
    QVERIFY(pop->Body() == expected);
    pop->FetchMessage(2);
    QCOMPARE(pop->ErrorCode(), 0);
    pop->CompleteFetch();
    QCOMPARE(pop->ErrorCode(), 0);
    QCOMPARE(pop->Subject(), QStringLiteral("two"));
    QVERIFY(pop->Body() == expected + QStringLiteral("end\n"));
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
    QVERIFY(server.isFinished());
}

void TestPop3Tls::missingStlsAfterEncryptionIsRefused_data() {
    QTest::addColumn<bool>("firstImplicit"); // the first session on pop3s://, else with STLS
    QTest::addColumn<QByteArray>("capa");    // the later server's answer to CAPA
    QTest::newRow("STLS left out of the capabilities")
        << false << QByteArray("+OK\r\nTOP\r\nUSER\r\nUIDL\r\n.\r\n");
    QTest::newRow("CAPA refused") << false << QByteArray("-ERR unknown command\r\n");
    QTest::newRow("met over pop3s:// before, no STLS on the plain port")
        << true << QByteArray("+OK\r\nUSER\r\n.\r\n");
}

// Someone on the way takes STLS out of what a server offers, to get the password in the clear. A
// server once met encrypted, on any port, is not logged into without it.
void TestPop3Tls::missingStlsAfterEncryptionIsRefused() {
    QFETCH(bool, firstImplicit);
    QFETCH(QByteArray, capa);

    TempFolder folder;
    folder.write(QStringLiteral("certificates/server.pem"), m_selfSigned.certificatePem);
    const QString memory = folder.file(QStringLiteral("tlsservers.dat"));

    ScriptedPop3Server secure;
    QVERIFY(secure.listen());
    secure.setTlsIdentity(m_selfSigned.certificate(), m_selfSigned.key());
    secure.setImplicitTls(firstImplicit);
    secure.reply("+OK ready");
    if (!firstImplicit)
        secure.stls();
    scriptLogin(secure, 0);
    secure.quit();
    const QString secureCell = firstImplicit
                                   ? QStringLiteral("pop3s://127.0.0.1:%1").arg(secure.port())
                                   : secure.address();
    auto pop = clientFor(secureCell, folder.file(QStringLiteral("certificates")));
    pop->setTlsMemoryFile(memory);
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY(pop->isEncrypted());
    pop->Disconnect();
    QVERIFY2(secure.failure().isEmpty(), qPrintable(secure.failure()));
    QCOMPARE(folder.read(QStringLiteral("tlsservers.dat")), QByteArray("127.0.0.1\r\n"));

    // The same host on another port, now without STLS.
    ScriptedPop3Server stripped;
    QVERIFY(stripped.listen());
    stripped.reply("+OK ready").expectLine(QStringLiteral("CAPA")).send(capa).stall();
    pop->setPophostname(stripped.address());
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), int(FreePOP::EncryptionMissing));
    QVERIFY2(pop->errorString().contains(QLatin1String("did not offer encryption")),
             qPrintable(pop->errorString()));
    QVERIFY(pop->errorString().contains(QLatin1String("delete this account and add it again")));
    QVERIFY(!sentAnythingOfTheLogin(stripped));
    QTRY_VERIFY(!stripped.hasClient());
    QVERIFY2(stripped.failure().isEmpty(), qPrintable(stripped.failure()));
    // Still remembered: the next attempt is refused as well.
    QCOMPARE(folder.read(QStringLiteral("tlsservers.dat")), QByteArray("127.0.0.1\r\n"));
}

void TestPop3Tls::requiredStls_data() {
    QTest::addColumn<QByteArray>("capa"); // the server's answer to CAPA
    QTest::addColumn<QByteArray>("stls"); // its answer to STLS; empty when none is expected
    QTest::addColumn<int>("error");
    QTest::newRow("no STLS offered")
        << QByteArray("+OK\r\nUSER\r\n.\r\n") << QByteArray() << int(FreePOP::EncryptionMissing);
    QTest::newRow("CAPA refused") << QByteArray("-ERR what?\r\n") << QByteArray()
                                  << int(FreePOP::EncryptionMissing);
    QTest::newRow("STLS offered, then refused")
        << QByteArray("+OK\r\nSTLS\r\n.\r\n") << QByteArray("-ERR not now\r\n")
        << int(FreePOP::EncryptionMissing);
    QTest::newRow("STLS offered and started")
        << QByteArray("+OK\r\nSTLS\r\n.\r\n") << QByteArray("+OK go ahead\r\n") << 0;
}

// "pop3+stls://" asks for encryption from the very first session, on the usual port or another.
void TestPop3Tls::requiredStls() {
    QFETCH(QByteArray, capa);
    QFETCH(QByteArray, stls);
    QFETCH(int, error);

    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.setTlsIdentity(m_selfSigned.certificate(), m_selfSigned.key());
    server.reply("+OK ready").expectLine(QStringLiteral("CAPA")).send(capa);
    if (!stls.isEmpty())
        server.expectLine(QStringLiteral("STLS")).send(stls);
    if (error == 0) {
        server.startTls();
        scriptLogin(server, 1);
        server.quit();
    } else {
        server.stall();
    }

    TempFolder folder;
    folder.write(QStringLiteral("certificates/server.pem"), m_selfSigned.certificatePem);
    auto pop = clientFor(QStringLiteral("pop3+stls://127.0.0.1:%1").arg(server.port()),
                         folder.file(QStringLiteral("certificates")));
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), error);
    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
    if (error != 0) {
        QVERIFY2(pop->errorString().contains(QLatin1String("pop3+stls://")),
                 qPrintable(pop->errorString()));
        QVERIFY(!sentAnythingOfTheLogin(server));
        QTRY_VERIFY(!server.hasClient());
        return;
    }
    QVERIFY(pop->isEncrypted());
    QCOMPARE(pop->MessageCount(), 1);
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY(server.isFinished());
}

void TestPop3Tls::unwritableMemoryDoesNotStopLogIn_data() {
    QTest::addColumn<QString>("blocker"); // what stands in the way of writing the memory
    QTest::newRow("a file where its folder should be") << "folder";
    QTest::newRow("a read-only memory file") << "read-only";
}

// The session is secure whether or not the server could be remembered.
void TestPop3Tls::unwritableMemoryDoesNotStopLogIn() {
    QFETCH(QString, blocker);

    TempFolder folder;
    folder.write(QStringLiteral("certificates/server.pem"), m_selfSigned.certificatePem);
    QString memory;
    if (blocker == "folder") {
        folder.write(QStringLiteral("program"), "not a folder");
        memory = folder.file(QStringLiteral("program/tlsservers.dat"));
    } else {
        folder.write(QStringLiteral("tlsservers.dat"), "pop.example.org\r\n");
        memory = folder.file(QStringLiteral("tlsservers.dat"));
        QFile::setPermissions(memory, QFileDevice::ReadOwner);
    }

    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.setTlsIdentity(m_selfSigned.certificate(), m_selfSigned.key());
    server.reply("+OK ready").stls();
    scriptLogin(server, 1);
    server.quit();
    auto pop = clientFor(server.address(), folder.file(QStringLiteral("certificates")));
    pop->setTlsMemoryFile(memory);
    pop->Connect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY(pop->isEncrypted());
    QCOMPARE(pop->MessageCount(), 1);
    pop->Disconnect();
    QCOMPARE(pop->ErrorCode(), 0);
    QVERIFY(server.isFinished());
    if (blocker == "read-only") {
        // Written or not (privileges may let the write through), no host is lost.
        QFile::setPermissions(memory, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QVERIFY(TlsMemory(memory).remembers(QStringLiteral("pop.example.org")));
    }
}

// The memory file as other programs and later versions meet it.
void TestPop3Tls::memoryFile() {
    TempFolder folder;
    const QString path = folder.file(QStringLiteral("tlsservers.dat"));
    QVERIFY(!TlsMemory(path).remembers(QStringLiteral("pop.example.org")));

    // Hosts are kept in lower case, one a line with CR LF, for the owner only.
    QVERIFY(TlsMemory(path).remember(QStringLiteral("Pop.Example.ORG")));
    QVERIFY(TlsMemory(path).remember(QStringLiteral("2001:db8::25")));
    QCOMPARE(folder.read(QStringLiteral("tlsservers.dat")),
             QByteArray("pop.example.org\r\n2001:db8::25\r\n"));
    QCOMPARE(QFile::permissions(path) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QVERIFY(TlsMemory(path).remembers(QStringLiteral("POP.example.org")));
    QVERIFY(!TlsMemory(path).remembers(QStringLiteral("example.org")));

    // A host already there does not rewrite the file, written by hand as it may be.
    folder.write(QStringLiteral("tlsservers.dat"), "Pop.Example.org\nmail.example.net");
    QVERIFY(TlsMemory(path).remember(QStringLiteral("pop.example.org")));
    QCOMPARE(folder.read(QStringLiteral("tlsservers.dat")),
             QByteArray("Pop.Example.org\nmail.example.net"));
    QVERIFY(TlsMemory(path).remembers(QStringLiteral("mail.example.net")));

    // Forgetting one host keeps the others; forgetting one not there changes nothing.
    QVERIFY(TlsMemory(path).forget(QStringLiteral("POP.EXAMPLE.ORG")));
    QCOMPARE(folder.read(QStringLiteral("tlsservers.dat")), QByteArray("mail.example.net\r\n"));
    QVERIFY(TlsMemory(path).forget(QStringLiteral("pop.example.org")));
    QCOMPARE(folder.read(QStringLiteral("tlsservers.dat")), QByteArray("mail.example.net\r\n"));

    // A host that would break the file into two lines is not stored.
    QVERIFY(!TlsMemory(path).remember(QStringLiteral("evil.example\r\npop.example.org")));
    QCOMPARE(folder.read(QStringLiteral("tlsservers.dat")), QByteArray("mail.example.net\r\n"));
}

QTEST_GUILESS_MAIN(TestPop3Tls)
#include "tst_pop3tls.moc"
