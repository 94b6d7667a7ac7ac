#include "support/demomail.h"

#include <QDir>
#include <QFile>

// Set by tests/fixture/CMakeLists.txt.
#ifndef CORVANTA_DEMO_DATA
#define CORVANTA_DEMO_DATA ""
#endif

namespace demomail {

QStringList messageFiles() {
    const QDir dir(QStringLiteral(CORVANTA_DEMO_DATA));
    QStringList files;
    const QStringList names = dir.entryList({QStringLiteral("*.eml")}, QDir::Files, QDir::Name);
    for (const QString& name : names)
        files.append(dir.filePath(name));
    return files;
}

QList<QByteArray> messages() {
    QList<QByteArray> result;
    const QStringList files = messageFiles();
    for (const QString& path : files) {
        QFile f(path);
        result.append(f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray());
    }
    return result;
}

Lists lists() {
    Lists result;
    QFile f(QStringLiteral(CORVANTA_DEMO_DATA) + QStringLiteral("/lists.txt"));
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return result;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (line.startsWith(QLatin1Char('#')) || colon < 0)
            continue;
        const QString kind = line.left(colon);
        const QString entry = line.mid(colon + 1).trimmed();
        if (kind == QLatin1String("whitelist"))
            result.whitelist.append(entry);
        else if (kind == QLatin1String("blacklist"))
            result.blacklist.append(entry);
        else if (kind == QLatin1String("keyword"))
            result.keywords.append(entry);
    }
    return result;
}

} // namespace demomail
