#include "scan/archivepagefile.h"

#include "scan/archivename.h"
#include "scan/pop3/messagepage.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

// Up to this many pages are flushed one by one. Past it, one syncfs() of their file system is
// cheaper than a flush each, though it also waits for whatever else is waiting to be written there
// (a large copy going on, say), so it is kept for the passes that archive many pages.
constexpr qsizetype kFlushOneByOne = 32;

// Names the complete file at from path or, while the name it tries is taken, at the next free
// archive name after it. Each try names the file only when the name is free, in one step, so two
// writers after the same name (two threads, two copies of the program) both end up with a file of
// their own. The name given; empty, with errno set, when none could be.
QString nameFreely(const QString& from, QString path) {
    while (!path.isEmpty()) {
        if (renameNoReplace(from, path))
            return path;
        if (errno != EEXIST)
            return QString();
        path = nextArchiveFilePath(path);
    }
    errno = EEXIST;
    return QString();
}

} // namespace

SavedPage writeArchivePage(const QString& path, const ParsedMessage& message, const QByteArray& raw,
                           const RemovalNote& note) {
    if (path.isEmpty())
        return {QString(), QCoreApplication::translate("ArchivePage", "no file name")};
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
            return {QString(), file.errorString()};
    }
    if (!file.isOpen())
        return {QString(), file.errorString()};
    const bool written = writeMessagePage(file, message, raw, note) && file.flush();
    const QString reason = file.errorString();
    file.close();
    if (!written || file.error() != QFileDevice::NoError) {
        file.remove();
        return {QString(), written ? file.errorString() : reason};
    }
    const QString named = nameFreely(file.fileName(), path);
    if (named.isEmpty()) {
        const QString error = QString::fromLocal8Bit(strerror(errno));
        file.remove();
        return {QString(), error};
    }
    return {named, QString()};
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
    if (paths.size() > kFlushOneByOne) {
        for (const QString& folder : std::as_const(folders)) {
            const int fd =
                ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ok = fd >= 0 && ::syncfs(fd) == 0 && ok;
            if (fd >= 0)
                ::close(fd);
        }
        return ok;
    }
#endif
    for (const QString& path : paths + folders) {
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
        // A page replaced or removed since is not ours to flush any more.
        if (fd < 0)
            continue;
        ok = ::fsync(fd) == 0 && ok;
        ::close(fd);
    }
    return ok;
}

bool renameNoReplace(const QString& from, const QString& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, QFile::encodeName(from).constData(), AT_FDCWD,
                    QFile::encodeName(to).constData(), RENAME_NOREPLACE) == 0)
        return true;
    // EINVAL: a file system that cannot refuse in one step (NFS, some FUSE ones); ENOSYS: a
    // kernel without renameat2.
    if (errno != EINVAL && errno != ENOSYS)
        return false;
#endif
    return linkNoReplace(from, to);
}

bool linkNoReplace(const QString& from, const QString& to) {
    const QByteArray source = QFile::encodeName(from);
    if (::link(source.constData(), QFile::encodeName(to).constData()) != 0)
        return false;
    // The file is saved under its new name; the old one is only in the way now.
    ::unlink(source.constData());
    return true;
}
