#pragma once

#include <QString>
#include <QStringList>

// The mail servers that have spoken TLS with this program before: they offered STLS on a plain
// port, or were reached over implicit TLS. A server once met encrypted that later offers no STLS
// is more likely to have someone on the way removing the offer than to have given up
// encryption, so the log-in refuses to send the password in the clear to it.
//
// Kept in a small text file, one host a line (see textfile.h), read on first use. A host is the
// name or address from the server cell, compared in lower case; the port plays no part, since a
// server that speaks TLS on one port is expected to offer it on the others too.
//
// A missing or unreadable file remembers nothing. A file that exists but cannot be read is never
// rewritten, so its hosts are not lost to a passing fault.
class TlsMemory {
public:
    explicit TlsMemory(QString path);

    QString path() const { return m_path; }
    // Whether the host has spoken TLS before.
    bool remembers(const QString& host) const;
    // Adds the host; the file is rewritten only when it was not there yet. False when the host
    // could not be stored (the file could not be written, or the host cannot be a line of it).
    bool remember(const QString& host);
    // Removes the host; the file is rewritten only when it was there. False when the file could
    // not be written, so the host is still remembered.
    bool forget(const QString& host);

    // The form a host is kept and compared in.
    static QString key(const QString& host);

private:
    void load() const;
    bool save(const QStringList& hosts);

    QString m_path;
    mutable QStringList m_hosts;
    mutable bool m_loaded = false;
    mutable bool m_writable = true; // false when the file exists but could not be read
};
