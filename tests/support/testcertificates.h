#pragma once

#include <QByteArray>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>

#include <optional>

// A certificate and its private key, both PEM, for the TLS tests.
struct TestIdentity {
    QByteArray certificatePem;
    QByteArray keyPem;

    QSslCertificate certificate() const { return QSslCertificate(certificatePem, QSsl::Pem); }
    QSslKey key() const;
};

// Certificates made on the spot with the openssl command (P-256 keys, valid from now for 30
// days). names is a subjectAltName list such as "DNS:localhost,IP:127.0.0.1". Each returns nothing
// when openssl is missing or fails; lastError() then says why.
namespace testcerts {

// A server certificate that signs itself, as a home server's often does. The common name is
// "Corvanta test server" unless given.
std::optional<TestIdentity> selfSigned(const QString& names, const QString& commonName = {});
// A self-signed server certificate that may also issue certificates (CA:TRUE), as the usual
// "openssl req -x509" makes them.
std::optional<TestIdentity> selfSignedIssuer(const QString& names);
// A certificate authority of our own.
std::optional<TestIdentity> authority(const QString& commonName);
// A server certificate issued by the authority.
std::optional<TestIdentity> issued(const TestIdentity& authority, const QString& names);

QString lastError();

} // namespace testcerts
