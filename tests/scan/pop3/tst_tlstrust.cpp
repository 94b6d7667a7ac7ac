// Which placed certificates count for which server, without any connection: the names a
// certificate carries, and the two places certificates are put.
#include "scan/pop3/tlstrust.h"
#include "support/tempfolder.h"
#include "support/testcertificates.h"

#include <QTest>

class TestTlsTrust : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void namesHost_data();
    void namesHost();
    void authoritiesAreKeptApart();
};

void TestTlsTrust::namesHost_data() {
    QTest::addColumn<QString>("names"); // subjectAltName
    QTest::addColumn<QString>("commonName");
    QTest::addColumn<QString>("host");
    QTest::addColumn<bool>("named");

    const QString wild = "DNS:*.example.org,DNS:mail.example.net";
    QTest::newRow("wildcard, one label") << wild << ""
                                         << "pop.example.org" << true;
    QTest::newRow("wildcard, letter case") << wild << ""
                                           << "POP.Example.ORG" << true;
    QTest::newRow("wildcard, two labels") << wild << ""
                                          << "a.pop.example.org" << false;
    QTest::newRow("wildcard, no label") << wild << ""
                                        << "example.org" << false;
    QTest::newRow("wildcard, name as prefix") << wild << ""
                                              << "pop.example.org.evil.test" << false;
    QTest::newRow("second name") << wild << ""
                                 << "mail.example.net" << true;
    QTest::newRow("wildcard over a top-level domain") << "DNS:*.org,DNS:mail*.example.com"
                                                      << ""
                                                      << "example.org" << false;
    QTest::newRow("wildcard within a label") << "DNS:*.org,DNS:mail*.example.com"
                                             << ""
                                             << "mail2.example.com" << false;
    QTest::newRow("international name") << "DNS:xn--bcher-kva.example"
                                        << ""
                                        << "bücher.example" << true;

    const QString addresses = "IP:192.0.2.7,IP:2001:db8::1,DNS:mail.example.org";
    QTest::newRow("IPv4 address") << addresses << ""
                                  << "192.0.2.7" << true;
    QTest::newRow("other IPv4 address") << addresses << ""
                                        << "192.0.2.8" << false;
    QTest::newRow("IPv6 address, written out") << addresses << ""
                                               << "2001:0db8:0:0::1" << true;
    QTest::newRow("name beside addresses") << addresses << ""
                                           << "mail.example.org" << true;
    QTest::newRow("wildcard never covers an address") << "DNS:*.0.2.7"
                                                      << ""
                                                      << "192.0.2.7" << false;

    QTest::newRow("common name without DNS names") << ""
                                                   << "Mail.Example.com"
                                                   << "mail.example.com" << true;
    QTest::newRow("common name beside DNS names") << "DNS:pop.example.com"
                                                  << "mail.example.com"
                                                  << "mail.example.com" << false;
    QTest::newRow("address as common name") << ""
                                            << "192.0.2.9"
                                            << "192.0.2.9" << true;
}

void TestTlsTrust::namesHost() {
    QFETCH(QString, names);
    QFETCH(QString, commonName);
    QFETCH(QString, host);
    QFETCH(bool, named);
    const auto identity = testcerts::selfSigned(names, commonName);
    QVERIFY2(identity, qPrintable(testcerts::lastError()));
    QCOMPARE(certificateNamesHost(identity->certificate(), host), named);
}

// Certificates in the folder count for their own servers, those in "authorities" for all.
void TestTlsTrust::authoritiesAreKeptApart() {
    const auto home = testcerts::selfSignedIssuer("DNS:home.example");
    const auto office = testcerts::selfSigned("DNS:office.example");
    const auto authority = testcerts::authority("Corvanta Test CA");
    const auto nested = testcerts::authority("Corvanta Nested CA");
    QVERIFY2(home && office && authority && nested, qPrintable(testcerts::lastError()));

    TempFolder folder;
    folder.write("certificates/servers.pem", home->certificatePem + office->certificatePem);
    folder.write("certificates/authorities/company.cer", authority->certificate().toDer());
    folder.write("certificates/authorities/old/nested.pem", nested->certificatePem);
    const TrustedCertificates trusted = readTrustedCertificates(folder.file("certificates"));
    QCOMPARE(trusted.servers, (QList{home->certificate(), office->certificate()}));
    QCOMPARE(trusted.authorities, QList{authority->certificate()});

    QCOMPARE(trusted.rootsFor("home.example"),
             (QList{authority->certificate(), home->certificate()}));
    QCOMPARE(trusted.rootsFor("mail.example"), QList{authority->certificate()});
    QVERIFY(readTrustedCertificates(folder.file("missing")).isEmpty());
}

QTEST_GUILESS_MAIN(TestTlsTrust)
#include "tst_tlstrust.moc"
