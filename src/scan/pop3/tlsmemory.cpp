#include "scan/pop3/tlsmemory.h"

#include "config/textfile.h"

#include <QFileInfo>

#include <utility>

TlsMemory::TlsMemory(QString path)
    : m_path(std::move(path)) {}

QString TlsMemory::key(const QString& host) {
    return host.trimmed().toLower();
}

void TlsMemory::load() const {
    if (m_loaded)
        return;
    m_loaded = true;
    m_hosts.clear();
    QStringList lines;
    if (!readTextLines(m_path, &lines)) {
        // A file that is there but cannot be read still holds hosts; writing over it would lose
        // them.
        m_writable = !QFileInfo::exists(m_path);
        return;
    }
    for (const QString& line : std::as_const(lines)) {
        const QString host = key(line);
        if (!host.isEmpty() && !m_hosts.contains(host))
            m_hosts.append(host);
    }
}

bool TlsMemory::save(const QStringList& hosts) {
    if (!m_writable || m_path.isEmpty())
        return false;
    // Which servers the user reads mail from is nobody else's business.
    if (!writeTextLines(m_path, hosts, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    m_hosts = hosts;
    return true;
}

bool TlsMemory::remembers(const QString& host) const {
    const QString wanted = key(host);
    if (wanted.isEmpty())
        return false;
    load();
    return m_hosts.contains(wanted);
}

bool TlsMemory::remember(const QString& host) {
    const QString wanted = key(host);
    // A line break would split the host over two lines of the file.
    if (wanted.isEmpty() || wanted.contains(QLatin1Char('\r')) ||
        wanted.contains(QLatin1Char('\n')))
        return false;
    load();
    if (m_hosts.contains(wanted))
        return true;
    return save(m_hosts + QStringList{wanted});
}

bool TlsMemory::forget(const QString& host) {
    const QString wanted = key(host);
    if (wanted.isEmpty())
        return true;
    load();
    if (!m_hosts.contains(wanted))
        return m_writable;
    QStringList rest = m_hosts;
    rest.removeAll(wanted);
    return save(rest);
}
