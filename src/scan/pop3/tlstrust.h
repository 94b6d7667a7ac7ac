#pragma once

#include <QList>
#include <QSslCertificate>
#include <QSslError>
#include <QString>

// How an encrypted connection failed, as far as the log-in is concerned.
enum class TlsFault {
    None,
    HandshakeFailed, // no encrypted connection came about (not TLS, cut off, no common protocol)
    Untrusted,       // the certificate is not vouched for by a trusted root, or is not valid
    NameMismatch,    // the certificate is valid but made out to another server
};

// What the user trusts beyond the system's roots: the certificates in the given folder (the
// program folder's "certificates" folder). Every file there is read; a file may hold several PEM
// certificates, or one certificate in binary (DER) form. Files that hold no certificate, and
// files too large to be one, are passed over. A missing folder trusts nothing more.
QList<QSslCertificate> readTrustedCertificates(const QString& folder);

// The decision about the certificate errors of one handshake.
struct TlsVerdict {
    // The errors that may be passed over; all of them, or the connection is refused.
    QList<QSslError> ignorable;
    TlsFault fault = TlsFault::None;
    QString reason; // readable, for error texts; empty when nothing is refused
};

// Judges the errors the system's verification reported for the server certificate peer.
//
// The user's certificates have already been added to the roots, so a placed CA certificate
// vouches for the servers it signed and a placed self-signed certificate for itself. One more
// case is let through: the server's own certificate placed in the folder, with errors that only
// say its issuer is unknown. Everything else is refused: a name that does not match (even for a
// placed certificate), an expired or not yet valid certificate, a revoked one, one meant for
// another purpose.
TlsVerdict judgeCertificateErrors(const QList<QSslError>& errors, const QSslCertificate& peer,
                                  const QList<QSslCertificate>& trusted);
