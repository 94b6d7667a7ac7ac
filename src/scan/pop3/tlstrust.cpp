#include "scan/pop3/tlstrust.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

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

} // namespace

QList<QSslCertificate> readTrustedCertificates(const QString& folder) {
    QList<QSslCertificate> certificates;
    if (folder.isEmpty())
        return certificates;
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
    return certificates;
}

TlsVerdict judgeCertificateErrors(const QList<QSslError>& errors, const QSslCertificate& peer,
                                  const QList<QSslCertificate>& trusted) {
    TlsVerdict verdict;
    if (errors.isEmpty())
        return verdict;

    const bool placed = !peer.isNull() && trusted.contains(peer);
    bool untrusted = false;
    bool mismatch = false;
    QStringList reasons;
    for (const QSslError& error : errors) {
        if (error.error() == QSslError::HostNameMismatch)
            mismatch = true;
        else if (!(placed && isIssuerUnknown(error.error())))
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
