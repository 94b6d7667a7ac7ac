#include "support/dovecot.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <utility>

// The folder the CTest fixture runs the server in, set by tests/fixture/CMakeLists.txt.
#ifndef CORVANTA_DOVECOT_FOLDER
#define CORVANTA_DOVECOT_FOLDER ""
#endif

namespace {

// Maildir names start with the delivery time in seconds and microseconds; the server numbers new
// messages in that order. Each name here is at least one microsecond after the previous one, so
// messages seeded in one go, or quickly one after the other, keep their order.
QString nextMessageName() {
    static qint64 last = 0;
    static int counter = 0;
    using namespace std::chrono;
    qint64 now = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
    if (now <= last)
        now = last + 1;
    last = now;
    return QStringLiteral("%1.M%2P%3Q%4.corvanta")
        .arg(now / 1000000, 10, 10, QLatin1Char('0'))
        .arg(now % 1000000, 6, 10, QLatin1Char('0'))
        .arg(qint64(::getpid()))
        .arg(++counter);
}

bool removeFilesIn(const QString& folder) {
    bool ok = true;
    const QDir dir(folder);
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& name : names)
        ok = QFile::remove(dir.filePath(name)) && ok;
    return ok;
}

} // namespace

DovecotMailbox::DovecotMailbox()
    : DovecotMailbox(QStringLiteral(CORVANTA_DOVECOT_FOLDER)) {}

DovecotMailbox::DovecotMailbox(const QString& fixtureFolder) {
    if (readState(fixtureFolder))
        claim();
}

DovecotMailbox::~DovecotMailbox() {
    if (m_fd >= 0)
        ::close(m_fd); // releases the claim
}

QString DovecotMailbox::server() const {
    return m_host + QLatin1Char(':') + QString::number(m_port);
}

QString DovecotMailbox::serverStls() const {
    return m_stlsPort == 0 ? QString() : m_host + QLatin1Char(':') + QString::number(m_stlsPort);
}

QString DovecotMailbox::serverImplicitTls() const {
    return m_tlsPort == 0 ? QString() : QStringLiteral("pop3s://%1:%2").arg(m_host).arg(m_tlsPort);
}

QString DovecotMailbox::serverWrongName() const {
    return m_tlsPort == 0 || m_wrongNameHost.isEmpty()
               ? QString()
               : QStringLiteral("pop3s://%1:%2").arg(m_wrongNameHost).arg(m_tlsPort);
}

QByteArray DovecotMailbox::oauthKey() const {
    QFile file(m_oauthKeyFile);
    return !m_oauthKeyFile.isEmpty() && file.open(QIODevice::ReadOnly) ? file.readAll().trimmed()
                                                                       : QByteArray();
}

QByteArray DovecotMailbox::caCertificatePem() const {
    QFile file(m_caFile);
    return !m_caFile.isEmpty() && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The server logs every log-in with the user's name and, for an encrypted connection, "TLS":
// "pop3-login: Info: Login: user=<user3>, method=PLAIN, rip=..., lip=..., mpid=..., TLS, ...".
int DovecotMailbox::encryptedLogins() const {
    QFile log(tlsLogFile());
    if (m_user.isEmpty() || !log.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray who = "Login: user=<" + m_user.toUtf8() + ">,";
    int count = 0;
    while (!log.atEnd()) {
        const QByteArray line = log.readLine();
        if (line.contains(who) && line.contains(", TLS,"))
            ++count;
    }
    return count;
}

QString DovecotMailbox::logFile() const {
    return m_folder + QStringLiteral("/dovecot.log");
}

QString DovecotMailbox::tlsLogFile() const {
    return m_folder + QStringLiteral("/tls/dovecot.log");
}

QString DovecotMailbox::mailbox() const {
    return m_folder + QStringLiteral("/mail/") + m_user;
}

// The fixture's start writes "state" (host, ports, CA, users, owner of the mail) once the servers
// answer and its stop removes it, so a missing file means no server.
bool DovecotMailbox::readState(const QString& folder) {
    QFile state(folder + QStringLiteral("/state"));
    if (folder.isEmpty() || !state.open(QIODevice::ReadOnly)) {
        m_skipReason = "the test POP3 server is not running: run this test through ctest (fixture "
                       "\"dovecot\"), or start it with tests/fixture/dovecot-fixture.sh start "
                       "<build folder>/dovecot";
        return false;
    }
    m_folder = folder;
    while (!state.atEnd()) {
        const QByteArray line = state.readLine().trimmed();
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = line.left(eq);
        const QByteArray value = line.mid(eq + 1);
        if (key == "host")
            m_host = QString::fromUtf8(value);
        else if (key == "port")
            m_port = value.toUShort();
        else if (key == "stls_port")
            m_stlsPort = value.toUShort();
        else if (key == "tls_port")
            m_tlsPort = value.toUShort();
        else if (key == "wrong_name_host")
            m_wrongNameHost = QString::fromUtf8(value);
        else if (key == "ca")
            m_caFile = QString::fromUtf8(value);
        else if (key == "mail_uid")
            m_mailUid = value.toInt();
        else if (key == "mail_gid")
            m_mailGid = value.toInt();
        else if (key == "oauth_key")
            m_oauthKeyFile = QString::fromUtf8(value);
    }
    if (m_host.isEmpty() || m_port == 0) {
        m_skipReason = "the state file of the test POP3 server is incomplete";
        return false;
    }
    return true;
}

// Takes the first mailbox whose lock nobody holds. The lock is an flock() on a file of the fixture,
// so the kernel drops it when a test program ends, crashed or not, and no claim is ever left over.
bool DovecotMailbox::claim() {
    QFile passwd(m_folder + QStringLiteral("/passwd"));
    if (!passwd.open(QIODevice::ReadOnly)) {
        m_skipReason = "the password file of the test POP3 server cannot be read";
        return false;
    }
    QList<std::pair<QString, QString>> users;
    while (!passwd.atEnd()) {
        const QByteArray line = passwd.readLine().trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            users.append(
                {QString::fromUtf8(line.left(colon)), QString::fromUtf8(line.mid(colon + 1))});
    }
    for (const auto& [user, password] : std::as_const(users)) {
        const QByteArray lockPath = QFile::encodeName(m_folder + QStringLiteral("/claims/") + user);
        const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            continue;
        }
        m_fd = fd;
        m_user = user;
        m_password = password;
        if (!clear()) {
            m_skipReason = "the mailbox of the test POP3 server cannot be emptied";
            ::close(m_fd);
            m_fd = -1;
            return false;
        }
        return true;
    }
    m_skipReason = "every mailbox of the test POP3 server is in use by other tests";
    return false;
}

bool DovecotMailbox::clear() {
    if (m_user.isEmpty())
        return false;
    const QString box = mailbox();
    bool ok = removeFilesIn(box + QStringLiteral("/new"));
    ok = removeFilesIn(box + QStringLiteral("/cur")) && ok;
    ok = removeFilesIn(box + QStringLiteral("/tmp")) && ok;
    return ok;
}

// Delivers like a mail server: the file is written in tmp/ and renamed into new/ when complete,
// owned by the mail user and readable by it alone.
bool DovecotMailbox::seed(const QList<QByteArray>& rawMessages) {
    if (!available())
        return false;
    const QString box = mailbox();
    for (const QByteArray& raw : rawMessages) {
        const QString name = nextMessageName();
        const QString tmpPath = box + QStringLiteral("/tmp/") + name;
        QFile file(tmpPath);
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly))
            return false;
        bool ok = file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        ok = file.write(raw) == raw.size() && ok;
        ok = file.flush() && ok;
        if (ok && ::geteuid() == 0 && m_mailUid >= 0)
            ok = ::fchown(file.handle(), uid_t(m_mailUid), gid_t(m_mailGid)) == 0;
        file.close();
        const QString newPath = box + QStringLiteral("/new/") + name;
        if (!ok || ::rename(QFile::encodeName(tmpPath).constData(),
                            QFile::encodeName(newPath).constData()) != 0) {
            QFile::remove(tmpPath);
            return false;
        }
    }
    return true;
}

QList<QByteArray> DovecotMailbox::messages() const {
    QList<QByteArray> result;
    if (!available())
        return result;
    // The server moves a message from new/ to cur/ when a session sees it, adding flags to the
    // name; the part before them is still the delivery name, and its order the POP3 order.
    QList<std::pair<QString, QString>> files; // file name, path
    for (const QString& sub : {QStringLiteral("/new"), QStringLiteral("/cur")}) {
        const QDir dir(mailbox() + sub);
        const QStringList names = dir.entryList(QDir::Files);
        for (const QString& name : names)
            files.append({name, dir.filePath(name)});
    }
    std::sort(files.begin(), files.end());
    for (const auto& file : std::as_const(files)) {
        QFile f(file.second);
        if (f.open(QIODevice::ReadOnly))
            result.append(f.readAll());
    }
    return result;
}
