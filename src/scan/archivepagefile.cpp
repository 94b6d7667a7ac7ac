#include "scan/archivepagefile.h"

#include "scan/pop3/messagepage.h"
#include "scan/sparefiles.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

QString writeArchivePage(const QString& path, const ParsedMessage& message, const QByteArray& raw,
                         int spare) {
    if (path.isEmpty()) {
        if (spare >= 0)
            ::close(spare);
        return QCoreApplication::translate("ArchivePage", "no file name");
    }
    // A file made ahead is written first and named only once it is complete; when it cannot be
    // named (a file already there, a folder gone), the page is written the usual way.
    if (spare >= 0) {
        QFile file;
        file.open(spare, QIODevice::WriteOnly, QFileDevice::AutoCloseHandle);
        const bool written = writeMessagePage(file, message, raw) && file.flush();
        const QString reason = file.errorString();
        const bool named = written && SpareFiles::giveName(spare, path);
        file.close();
        if (named)
            return QString();
        if (!written)
            return reason;
    }
    QFile file;
    // The name leaves room for these seven characters (see archiveFileName).
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    for (int attempt = 0; attempt < 100 && !file.isOpen(); ++attempt) {
        QString temporary = path + QLatin1Char('.');
        for (int i = 0; i < 6; ++i)
            temporary += QLatin1Char(kLetters[QRandomGenerator::global()->bounded(62)]);
        file.setFileName(temporary);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly,
                      QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            break;
        // Only a name that happens to be taken is worth another try.
        if (!QFileInfo::exists(temporary))
            return file.errorString();
    }
    if (!file.isOpen())
        return file.errorString();
    const bool written = writeMessagePage(file, message, raw) && file.flush();
    const QString reason = file.errorString();
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        file.remove();
        return written ? file.errorString() : reason;
    }
    // rename() replaces a file at path in one step.
    if (::rename(QFile::encodeName(file.fileName()).constData(),
                 QFile::encodeName(path).constData()) != 0) {
        const QString error = QString::fromLocal8Bit(strerror(errno));
        file.remove();
        return error;
    }
    return QString();
}

bool flushArchivePages(const QStringList& paths) {
    QStringList folders;
    for (const QString& path : paths) {
        const QString folder = QFileInfo(path).absolutePath();
        if (!folders.contains(folder))
            folders.append(folder);
    }
    bool ok = true;
#ifdef __linux__
    for (const QString& folder : std::as_const(folders)) {
        const int fd =
            ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ok = fd >= 0 && ::syncfs(fd) == 0 && ok;
        if (fd >= 0)
            ::close(fd);
    }
#else
    for (const QString& path : paths + folders) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        // A page replaced or removed since is not ours to flush any more.
        if (fd < 0)
            continue;
        ok = ::fsync(fd) == 0 && ok;
        ::close(fd);
    }
#endif
    return ok;
}
