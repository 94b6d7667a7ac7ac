#include "scan/oauth/refreshtokenstore.h"

#include "config/textfile.h"

#include <QFileInfo>

#include <utility>

namespace {

bool sameAccount(const RefreshTokenStore::Entry& entry, const QString& host, const QString& login) {
    return entry.host.compare(host.trimmed(), Qt::CaseInsensitive) == 0 && entry.login == login;
}

bool holdsLineBreak(const QString& text) {
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

} // namespace

RefreshTokenStore::RefreshTokenStore(QString path)
    : m_path(std::move(path)) {}

// False when the file exists but could not be read; a missing file holds no entries.
bool RefreshTokenStore::load(QList<Entry>* entries) const {
    entries->clear();
    QStringList lines;
    if (!readTextLines(m_path, &lines))
        return !QFileInfo::exists(m_path);
    for (const QString& line : std::as_const(lines)) {
        const QStringList cells = line.split(QLatin1Char(','));
        if (cells.size() < 4 || cells.at(0).isEmpty() || cells.at(2).isEmpty())
            continue;
        Entry entry{cells.at(0), cells.at(1), cells.at(2), cells.mid(3).join(QLatin1Char(','))};
        if (!entry.refreshToken.isEmpty())
            entries->append(entry);
    }
    return true;
}

bool RefreshTokenStore::save(const QList<Entry>& entries) {
    QStringList lines;
    for (const Entry& entry : entries)
        lines.append(entry.host + QLatin1Char(',') + entry.login + QLatin1Char(',') +
                     entry.provider + QLatin1Char(',') + entry.refreshToken);
    // Whoever holds a refresh token can read the mailbox.
    return writeTextLines(m_path, lines, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

std::optional<RefreshTokenStore::Entry> RefreshTokenStore::find(const QString& host,
                                                                const QString& login) const {
    QList<Entry> entries;
    load(&entries);
    for (const Entry& entry : std::as_const(entries)) {
        if (sameAccount(entry, host, login))
            return entry;
    }
    return std::nullopt;
}

bool RefreshTokenStore::put(const Entry& entry) {
    const Entry stored{entry.host.trimmed().toLower(), entry.login, entry.provider,
                       entry.refreshToken};
    // A comma in the host, the login or the provider would shift the cells of the line.
    for (const QString* cell : {&stored.host, &stored.login, &stored.provider}) {
        if (cell->contains(QLatin1Char(',')) || holdsLineBreak(*cell))
            return false;
    }
    if (stored.host.isEmpty() || stored.provider.isEmpty() || stored.refreshToken.isEmpty() ||
        holdsLineBreak(stored.refreshToken))
        return false;
    QList<Entry> entries;
    if (!load(&entries))
        return false;
    entries.removeIf([&](const Entry& e) { return sameAccount(e, stored.host, stored.login); });
    entries.append(stored);
    return save(entries);
}

bool RefreshTokenStore::remove(const QString& host, const QString& login) {
    QList<Entry> entries;
    if (!load(&entries))
        return false;
    const qsizetype removed =
        entries.removeIf([&](const Entry& e) { return sameAccount(e, host, login); });
    return removed == 0 || save(entries);
}
