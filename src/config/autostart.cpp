#include "config/autostart.h"

#include "app/commandline.h"
#include "config/desktopentry.h"
#include "config/textfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace autostart {
namespace {
// The session's configuration folder: an XDG_CONFIG_HOME that is not an absolute path is to be
// ignored, as if it were not set.
QString configHome() {
    const QString configured = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!configured.isEmpty() && QDir::isAbsolutePath(configured))
        return configured;
    return QDir::home().filePath(QStringLiteral(".config"));
}

// One file, whichever way its path is written (links, "..", a doubled slash).
bool sameFile(const QString& a, const QString& b) {
    const QString canonicalA = QFileInfo(a).canonicalFilePath();
    const QString canonicalB = QFileInfo(b).canonicalFilePath();
    if (!canonicalA.isEmpty() && !canonicalB.isEmpty())
        return canonicalA == canonicalB;
    return QDir::cleanPath(QFileInfo(a).absoluteFilePath()) ==
           QDir::cleanPath(QFileInfo(b).absoluteFilePath());
}

// What the entry on disk runs, and whether the desktop has switched it off. Empty program when
// there is no readable entry.
struct EntryOnDisk {
    QString program;
    bool switchedOff = false;
};

EntryOnDisk readEntry() {
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QHash<QString, QString> keys = desktopentry::readMainGroup(file.readAll());
    EntryOnDisk entry;
    entry.program = desktopentry::execArguments(keys.value(QStringLiteral("Exec"))).value(0);
    entry.switchedOff =
        keys.value(QStringLiteral("Hidden")) == QStringLiteral("true") ||
        keys.value(QStringLiteral("X-GNOME-Autostart-enabled")) == QStringLiteral("false");
    return entry;
}
} // namespace

QString entryPath() {
    return QDir(configHome()).filePath(QStringLiteral("autostart/corvanta.desktop"));
}

QString programIn(const QString& programFolder) {
    if (sameFile(QCoreApplication::applicationDirPath(), programFolder))
        return QCoreApplication::applicationFilePath();
    return QDir(QDir(programFolder).absolutePath()).filePath(QStringLiteral("corvanta"));
}

QStringList command(const QString& program) {
    return {program, QStringLiteral("--") + hiddenOptionName()};
}

bool isEnabled(const QString& program) {
    const EntryOnDisk entry = readEntry();
    return !entry.program.isEmpty() && !entry.switchedOff && sameFile(entry.program, program);
}

bool enable(const QString& program, QString* reason) {
    const QFileInfo path(entryPath());
    if (!QDir().mkpath(path.absolutePath())) {
        if (reason)
            *reason = QStringLiteral("The folder %1 cannot be made.").arg(path.absolutePath());
        return false;
    }
    return writeFileAtomically(path.filePath(), desktopentry::autostartEntry(command(program)), {},
                               reason);
}

bool disable(const QString& program, QString* reason) {
    const EntryOnDisk entry = readEntry();
    if (entry.program.isEmpty() || !sameFile(entry.program, program))
        return true;
    QFile file(entryPath());
    if (file.remove() || !file.exists())
        return true;
    if (reason)
        *reason = file.errorString();
    return false;
}

} // namespace autostart
