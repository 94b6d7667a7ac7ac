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

// What the user trusts beyond the system's roots.
//
// A certificate placed for a server vouches for that server only: a self-signed server
// certificate usually also says it may issue certificates, and whoever holds its key must not
// thereby be trusted for the user's other mailboxes. Trusting an authority for every server is a
// separate, deliberate step.
struct TrustedCertificates {
    // Each counts only for the hosts it names (see certificateNamesHost): as the very certificate
    // a server shows, or as the issuer of the server's chain.
    QList<QSslCertificate> servers;
    // Roots for every server, as the system's are.
    QList<QSslCertificate> authorities;

    bool isEmpty() const { return servers.isEmpty() && authorities.isEmpty(); }
    // The roots to add to the system's for a connection to host (a name or address, as entered).
    QList<QSslCertificate> rootsFor(const QString& host) const;
};

// Reads the program folder's "certificates" folder: the files in the folder itself are server
// certificates, those in its "authorities" subfolder authorities. Every file is read; a file may
// hold several PEM certificates, or one certificate in binary (DER) form. Files that hold no
// certificate, files too large to be one, and other subfolders are passed over. A missing folder
// trusts nothing more.
TrustedCertificates readTrustedCertificates(const QString& folder);

// Whether certificate is made out to host, a name or an IP address as the user entered it. Names
// are the subjectAltName DNS entries, or the subject's common name when there is none; "*.x.y"
// stands for exactly one label in front of "x.y". An address matches the subjectAltName IP
// entries, and those names that are the same address.
bool certificateNamesHost(const QSslCertificate& certificate, const QString& host);

// The decision about the certificate errors of one handshake.
struct TlsVerdict {
    // The errors that may be passed over; all of them, or the connection is refused.
    QList<QSslError> ignorable;
    TlsFault fault = TlsFault::None;
    QString reason; // readable, for error texts; empty when nothing is refused
};

// Judges the errors the system's verification reported for the server certificate peer, on a
// connection to host.
//
// trusted.rootsFor(host) have already been added to the roots, so they vouch for the servers
// they signed and a placed self-signed certificate for itself. One more case is let through: the
// server's own certificate placed for this host, with errors that only say its issuer is unknown.
// Everything else is refused: a name that does not match (even for a placed certificate; the
// server's own certificate placed for other names counts as such), an expired or not yet valid
// certificate, a revoked one, one meant for another purpose.
TlsVerdict judgeCertificateErrors(const QList<QSslError>& errors, const QSslCertificate& peer,
                                  const QString& host, const TrustedCertificates& trusted);
