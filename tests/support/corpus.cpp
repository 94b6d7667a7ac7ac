#include "support/corpus.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

namespace corpus {

QString dataFolder() {
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty())
        cache = QDir::homePath() + QStringLiteral("/.cache");
    const QString data = cache + QStringLiteral("/corvanta/corpus/package/data");
    const QDir dir(data);
    if (!dir.exists(QStringLiteral("spam-1")) || !dir.exists(QStringLiteral("easy-ham-1")))
        return QString();
    return data;
}

QStringList messageFiles(const QString& folder) {
    const QString data = dataFolder();
    if (data.isEmpty())
        return {};
    QDir dir(data + QLatin1Char('/') + folder);
    QStringList files;
    const QStringList names = dir.entryList({QStringLiteral("*.txt")}, QDir::Files, QDir::Name);
    for (const QString& name : names)
        files.append(dir.filePath(name));
    return files;
}

QByteArray readMessage(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? stripMboxFromLine(f.readAll()) : QByteArray();
}

QByteArray stripMboxFromLine(const QByteArray& raw) {
    if (!raw.startsWith("From "))
        return raw;
    const qsizetype end = raw.indexOf('\n');
    return end < 0 ? QByteArray() : raw.mid(end + 1);
}

} // namespace corpus
