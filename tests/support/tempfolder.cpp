#include "support/tempfolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

TempFolder::TempFolder()
    : m_dir(QDir::tempPath() + QStringLiteral("/corvanta-test-XXXXXX")) {}

QString TempFolder::file(const QString& name) const {
    return m_dir.filePath(name);
}

void TempFolder::write(const QString& name, const QByteArray& bytes) const {
    QFile f(file(name));
    QFileInfo(f).dir().mkpath(QStringLiteral("."));
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

QByteArray TempFolder::read(const QString& name) const {
    QFile f(file(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool TempFolder::exists(const QString& name) const {
    return QFileInfo::exists(file(name));
}
