#include "config/accountline.h"

#include "config/datafilenames.h"

#include <QDir>

namespace {
constexpr qsizetype kShortestServer = 4;
}

AccountLineStatus parseAccountLine(const QString& line, AccountLine* account) {
    const qsizetype first = line.indexOf(QLatin1Char(','));
    if (first < 0)
        return AccountLineStatus::Malformed;
    const qsizetype second = line.indexOf(QLatin1Char(','), first + 1);
    if (second < 0)
        return AccountLineStatus::Malformed;
    if (first < kShortestServer)
        return AccountLineStatus::ServerTooShort;
    account->server = line.left(first);
    account->login = line.mid(first + 1, second - first - 1);
    account->password = line.mid(second + 1);
    return AccountLineStatus::Accepted;
}

QString formatAccountLine(const QString& server, const QString& login, const QString& password) {
    return server + QLatin1Char(',') + login + QLatin1Char(',') + password;
}

QString datafile::inFolder(const QString& folder, const QString& name) {
    return QDir(folder).filePath(name);
}
