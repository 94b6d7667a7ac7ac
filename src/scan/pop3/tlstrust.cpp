#include "scan/pop3/tlstrust.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QMultiMap>
#include <QStringList>
#include <QUrl>

#include <algorithm>

namespace {

// A certificate file of several hundred kilobytes would already be an odd one; larger files are
// something else that happens to lie in the folder.
constexpr qint64 kMaxCertificateFile = 1024 * 1024;

// Errors that only say the chain does not end at a trusted root.
bool isIssuerUnknown(QSslError::SslError error) {
    switch (error) {
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
    case QSslError::SelfSignedCertificate:
    case QSslError::SelfSignedCertificateInChain:
    case QSslError::CertificateUntrusted:
        return true;
    default:
        return false;
    }
}

// Adds the certificates in the files of folder (not of its subfolders) to certificates.
void readFolder(const QString& folder, QList<QSslCertificate>& certificates) {
    const QFileInfoList files =
        QDir(folder).entryInfoList(QDir::Files | QDir::Readable | QDir::Hidden, QDir::Name);
    for (const QFileInfo& info : files) {
        if (info.size() > kMaxCertificateFile)
            continue;
        QFile file(info.filePath());
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray data = file.read(kMaxCertificateFile);
        QList<QSslCertificate> found = QSslCertificate::fromData(data, QSsl::Pem);
        if (found.isEmpty())
            found = QSslCertificate::fromData(data, QSsl::Der);
        for (const QSslCertificate& certificate : std::as_const(found)) {
            if (!certificate.isNull() && !certificates.contains(certificate))
                certificates.append(certificate);
        }
    }
}

// Whether the certificate name pattern (lower case) stands for host (lower case, ACE form).
// A wildcard is only taken as the whole first label, over at least two more labels, so that
// "*.org" or "mail*.example.org" vouch for nothing.
bool nameMatches(const QString& pattern, const QString& host) {
    if (pattern.isEmpty())
        return false;
    if (!pattern.startsWith(QLatin1String("*.")))
        return pattern == host;
    const QStringView parent = QStringView(pattern).mid(2);
    if (!parent.contains(QLatin1Char('.')) || parent.contains(QLatin1Char('*')))
        return false;
    const qsizetype dot = host.indexOf(QLatin1Char('.'));
    return dot > 0 && QStringView(host).mid(dot + 1) == parent;
}

} // namespace

QList<QSslCertificate> TrustedCertificates::rootsFor(const QString& host) const {
    QList<QSslCertificate> roots = authorities;
    for (const QSslCertificate& certificate : servers) {
        if (!roots.contains(certificate) && certificateNamesHost(certificate, host))
            roots.append(certificate);
    }
    return roots;
}

TrustedCertificates readTrustedCertificates(const QString& folder) {
    TrustedCertificates trusted;
    if (folder.isEmpty())
        return trusted;
    readFolder(folder, trusted.servers);
    readFolder(QDir(folder).filePath(QStringLiteral("authorities")), trusted.authorities);
    return trusted;
}

bool certificateNamesHost(const QSslCertificate& certificate, const QString& host) {
    if (certificate.isNull() || host.isEmpty())
        return false;
    const auto alternatives = certificate.subjectAlternativeNames();
    const QStringList dnsNames = alternatives.values(QSsl::AlternativeNameEntryType::DnsEntry);
    // Only a certificate that lists no DNS names is named by its common name.
    const QStringList names =
        dnsNames.isEmpty() ? certificate.subjectInfo(QSslCertificate::CommonName) : dnsNames;

    const QHostAddress address(host);
    if (!address.isNull()) {
        // Home-made certificates often give the address as a name; it still has to be the same
        // address, and a wildcard never stands for part of one.
        const QStringList candidates =
            alternatives.values(QSsl::AlternativeNameEntryType::IpAddressEntry) + names;
        return std::any_of(candidates.cbegin(), candidates.cend(), [&address](const QString& text) {
            return address.isEqual(QHostAddress(text), QHostAddress::StrictConversion);
        });
    }

    // Certificates carry international names in their ACE form.
    const QString name = QString::fromLatin1(QUrl::toAce(host)).toLower();
    if (name.isEmpty())
        return false;
    return std::any_of(names.cbegin(), names.cend(), [&name](const QString& pattern) {
        return nameMatches(pattern.toLower(), name);
    });
}

TlsVerdict judgeCertificateErrors(const QList<QSslError>& errors, const QSslCertificate& peer,
                                  const QString& host, const TrustedCertificates& trusted) {
    TlsVerdict verdict;
    if (errors.isEmpty())
        return verdict;

    const bool placed = !peer.isNull() && trusted.rootsFor(host).contains(peer);
    // The server shows a certificate the user placed, but for other names: the name is what is
    // wrong, and the certificate is no root for this host.
    const bool placedForOthers = !peer.isNull() && !placed && trusted.servers.contains(peer);
    bool untrusted = false;
    bool mismatch = placedForOthers;
    QStringList reasons;
    if (placedForOthers)
        reasons.append(QSslError(QSslError::HostNameMismatch, peer).errorString());
    for (const QSslError& error : errors) {
        if (error.error() == QSslError::HostNameMismatch)
            mismatch = true;
        else if (!((placed || placedForOthers) && isIssuerUnknown(error.error())))
            untrusted = true;
        const QString text = error.errorString();
        if (!reasons.contains(text))
            reasons.append(text);
    }
    if (!untrusted && !mismatch) {
        verdict.ignorable = errors;
        return verdict;
    }
    // A certificate nobody vouches for is the first thing to fix; its name comes after.
    verdict.fault = untrusted ? TlsFault::Untrusted : TlsFault::NameMismatch;
    verdict.reason = reasons.join(QLatin1String("; "));
    return verdict;
}
