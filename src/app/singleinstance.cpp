#include "app/singleinstance.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

namespace {
constexpr int kRetryPauseMs = 100;
// How long one exchange with a running copy may take; a local one takes microseconds.
constexpr int kExchangeMs = 1000;
// The only request there is. A peer that sends this much without it sends no request.
constexpr char kShowRequest[] = "show\n";
constexpr qint64 kMaxRequestBytes = 64;

// Lets events run for a while instead of blocking: nothing else may stall, and in one process
// the running copy must be able to answer a later start.
void pause(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

template <typename Condition>
bool runEventsUntil(Condition done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.hasExpired(ms))
            return false;
        pause(5);
    }
    return true;
}
} // namespace

SingleInstance::SingleInstance(const QString& programFolder, QObject* parent)
    : QObject(parent)
    , m_programFolder(programFolder)
    , m_serverName(serverName(programFolder))
    , m_lock(QDir(programFolder).filePath(lockFileName())) {
    // The lock is held for the whole run: only a holder that no longer runs makes it stale,
    // never its age.
    m_lock.setStaleLockTime(0);
}

SingleInstance::~SingleInstance() {
    // The socket goes before the lock: once the lock is free, a new copy may listen under the
    // same name, and closing this server afterwards would remove that copy's socket.
    delete m_server;
    m_server = nullptr;
    m_lock.unlock();
}

QString SingleInstance::lockFileName() {
    return QStringLiteral(".corvanta.lock");
}

QString SingleInstance::serverName(const QString& programFolder) {
    const QFileInfo folder(programFolder);
    QString path = folder.canonicalFilePath();
    if (path.isEmpty())
        path = QDir(programFolder).absolutePath();
    const QByteArray digest =
        QCryptographicHash::hash(path.toUtf8(), QCryptographicHash::Sha256).toHex().left(32);
    const QString name = QStringLiteral("corvanta-") + QString::fromLatin1(digest);
    // The session's private runtime folder when there is one; otherwise the temporary folder.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo(runtime).isDir())
        return QDir(runtime).filePath(name);
    return name;
}

bool SingleInstance::claim(Request request) {
    if (m_claimed)
        return m_runningCopy;
    m_claimed = true;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        // Creating the lock file is atomic: of two starts at the same moment exactly one wins.
        if (m_lock.tryLock(0))
            break;
        const bool heldByAnother = m_lock.error() == QLockFile::LockFailedError;
        if (reachRunningCopy(request))
            return false;
        // A folder that takes no lock file (a read-only one) takes no data file either, so
        // nothing can be overwritten there: this copy runs unless one already answers.
        if (!heldByAnother)
            break;
        // The holder may have taken the lock a moment ago and not listen yet, or it may have
        // crashed meanwhile: try both again for a while, then leave it be.
        if (waited.hasExpired(kPatienceMs))
            return false;
        pause(kRetryPauseMs);
    }
    startListening();
    m_runningCopy = true;
    return true;
}

bool SingleInstance::reachRunningCopy(Request request) {
    QLocalSocket socket;
    bool failed = false;
    connect(&socket, &QLocalSocket::errorOccurred, this, [&failed] { failed = true; });
    socket.connectToServer(m_serverName, QIODevice::WriteOnly);
    // A local connection is made or refused at once; only a server whose queue is full keeps it
    // waiting.
    runEventsUntil([&] { return socket.state() != QLocalSocket::ConnectingState; }, kExchangeMs);
    if (socket.state() != QLocalSocket::ConnectedState)
        return false;
    // A copy that takes the connection runs; nothing more is needed from it.
    if (request == Request::Nothing) {
        socket.disconnectFromServer();
        return true;
    }
    socket.write(kShowRequest, sizeof kShowRequest - 1);
    socket.flush();
    runEventsUntil([&] { return failed || socket.bytesToWrite() == 0; }, kExchangeMs);
    const bool sent = !failed && socket.bytesToWrite() == 0;
    socket.disconnectFromServer();
    return sent;
}

void SingleInstance::startListening() {
    // No socket options: with them the server binds elsewhere and renames its socket into
    // place over whatever is there. A request can do no more than show the window anyway.
    m_server = new QLocalServer(this);
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::acceptConnections);
    if (m_server->listen(m_serverName))
        return;
    // A socket left behind by a copy that crashed: nobody answered on it, and only the copy
    // holding the lock listens. Should listening fail even so, this copy runs all the same;
    // later starts then give up without reaching it.
    if (m_server->serverError() == QAbstractSocket::AddressInUseError &&
        QLocalServer::removeServer(m_serverName))
        m_server->listen(m_serverName);
}

void SingleInstance::acceptConnections() {
    while (QLocalSocket* peer = m_server->nextPendingConnection()) {
        connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        connect(peer, &QLocalSocket::readyRead, this, [this, peer] { readRequest(peer); });
        if (peer->bytesAvailable() > 0)
            readRequest(peer);
    }
}

void SingleInstance::readRequest(QLocalSocket* peer) {
    while (peer->canReadLine()) {
        if (peer->readLine(kMaxRequestBytes) == kShowRequest)
            Q_EMIT showRequested();
    }
    // Any local program can connect; one that keeps sending without a line end is cut off
    // instead of filling memory.
    if (peer->bytesAvailable() >= kMaxRequestBytes) {
        peer->abort();
        peer->deleteLater();
    }
}
