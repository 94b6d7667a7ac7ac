#include "support/scriptedpop3server.h"

#include <QHostAddress>
#include <QSslSocket>
#include <QTcpSocket>

void ScriptedPop3Server::Listener::incomingConnection(qintptr descriptor) {
    auto* socket = new QSslSocket(this);
    if (socket->setSocketDescriptor(descriptor))
        addPendingConnection(socket);
    else
        delete socket;
}

ScriptedPop3Server::ScriptedPop3Server(QObject* parent)
    : QObject(parent) {
    connect(&m_server, &QTcpServer::newConnection, this, &ScriptedPop3Server::onNewConnection);
    connect(&m_dripTimer, &QTimer::timeout, this, &ScriptedPop3Server::onDripTick);
}

ScriptedPop3Server::~ScriptedPop3Server() {
    // The connections are children of the listening server, which outlives this body; they must
    // not call back into members already gone.
    m_server.close();
    const QList<QTcpSocket*> sockets = m_server.findChildren<QTcpSocket*>();
    for (QTcpSocket* socket : sockets) {
        socket->disconnect(this);
        socket->abort();
    }
}

bool ScriptedPop3Server::listen() {
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString ScriptedPop3Server::address() const {
    return QStringLiteral("127.0.0.1:%1").arg(port());
}

void ScriptedPop3Server::setTlsIdentity(const QSslCertificate& certificate, const QSslKey& key) {
    m_certificate = certificate;
    m_key = key;
}

ScriptedPop3Server& ScriptedPop3Server::add(Step step) {
    m_steps.append(std::move(step));
    // A step added while a client waits may be runnable at once.
    QMetaObject::invokeMethod(this, &ScriptedPop3Server::run, Qt::QueuedConnection);
    return *this;
}

ScriptedPop3Server& ScriptedPop3Server::expect(const QString& pattern) {
    return add({Kind::Expect, QRegularExpression(QRegularExpression::anchoredPattern(pattern)),
                QByteArray(), 0});
}

ScriptedPop3Server& ScriptedPop3Server::expectLine(const QString& line) {
    return expect(QRegularExpression::escape(line));
}

ScriptedPop3Server& ScriptedPop3Server::send(const QByteArray& bytes) {
    return add({Kind::Send, QRegularExpression(), bytes, 0});
}

ScriptedPop3Server& ScriptedPop3Server::reply(const QByteArray& line) {
    return send(line + "\r\n");
}

ScriptedPop3Server& ScriptedPop3Server::drip(const QByteArray& bytes, int intervalMs) {
    return add({Kind::Drip, QRegularExpression(), bytes, intervalMs});
}

ScriptedPop3Server& ScriptedPop3Server::pause(int intervalMs) {
    return add({Kind::Pause, QRegularExpression(), QByteArray(), intervalMs});
}

ScriptedPop3Server& ScriptedPop3Server::drop() {
    return add({Kind::Drop, QRegularExpression(), QByteArray(), 0});
}

ScriptedPop3Server& ScriptedPop3Server::stall() {
    return add({Kind::Stall, QRegularExpression(), QByteArray(), 0});
}

ScriptedPop3Server& ScriptedPop3Server::startTls() {
    return add({Kind::StartTls, QRegularExpression(), QByteArray(), 0});
}

ScriptedPop3Server& ScriptedPop3Server::login(const QString& user, const QString& password,
                                              int messages) {
    m_lastCount = messages;
    reply("+OK POP3 server ready");
    expectLine(QStringLiteral("USER ") + user);
    reply("+OK");
    expectLine(QStringLiteral("PASS ") + password);
    reply("+OK logged in");
    expectLine(QStringLiteral("STAT"));
    return reply("+OK " + QByteArray::number(messages) + " " + QByteArray::number(messages * 1000));
}

ScriptedPop3Server& ScriptedPop3Server::message(int n, const QByteArray& raw) {
    expectLine(QStringLiteral("RETR %1").arg(n));
    const QByteArray stuffed = m_stuffAfterCrLfOnly ? dotStuffAfterCrLf(raw) : dotStuff(raw);
    return send("+OK " + QByteArray::number(raw.size()) + " octets\r\n" + stuffed + ".\r\n");
}

ScriptedPop3Server& ScriptedPop3Server::quit() {
    expectLine(QStringLiteral("QUIT"));
    reply("+OK bye");
    return drop();
}

ScriptedPop3Server& ScriptedPop3Server::capa(const QList<QByteArray>& capabilities) {
    expectLine(QStringLiteral("CAPA"));
    QByteArray answer = "+OK capability list follows\r\n";
    for (const QByteArray& line : capabilities)
        answer += line + "\r\n";
    return send(answer + ".\r\n");
}

ScriptedPop3Server& ScriptedPop3Server::list(const QList<qsizetype>& sizes) {
    expectLine(QStringLiteral("LIST"));
    QByteArray answer = "+OK " + QByteArray::number(sizes.size()) + " messages\r\n";
    for (qsizetype n = 0; n < sizes.size(); ++n)
        answer += QByteArray::number(n + 1) + ' ' + QByteArray::number(sizes.at(n)) + "\r\n";
    return send(answer + ".\r\n");
}

ScriptedPop3Server& ScriptedPop3Server::uidl(const QList<QByteArray>& lines) {
    expectLine(QStringLiteral("UIDL"));
    QByteArray answer = "+OK unique-id listing follows\r\n";
    for (const QByteArray& line : lines)
        answer += line + "\r\n";
    return send(answer + ".\r\n");
}

ScriptedPop3Server& ScriptedPop3Server::stls() {
    capa({"TOP", "UIDL", "STLS", "USER"});
    expectLine(QStringLiteral("STLS"));
    reply("+OK begin TLS negotiation");
    return startTls();
}

QByteArray ScriptedPop3Server::dotStuff(const QByteArray& raw) {
    QByteArray out;
    out.reserve(raw.size() + raw.size() / 64 + 2);
    bool lineStart = true;
    for (char c : raw) {
        if (lineStart && c == '.')
            out.append('.');
        out.append(c);
        lineStart = c == '\n';
    }
    if (!out.isEmpty() && !out.endsWith('\n'))
        out.append("\r\n");
    return out;
}

QByteArray ScriptedPop3Server::dotStuffAfterCrLf(const QByteArray& raw) {
    QByteArray out;
    out.reserve(raw.size() + raw.size() / 64 + 2);
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw.at(i) == '.' &&
            (i == 0 || (i >= 2 && raw.at(i - 1) == '\n' && raw.at(i - 2) == '\r')))
            out.append('.');
        out.append(raw.at(i));
    }
    if (!out.isEmpty() && !out.endsWith("\r\n"))
        out.append("\r\n");
    return out;
}

void ScriptedPop3Server::onNewConnection() {
    while (QTcpSocket* socket = m_server.nextPendingConnection()) {
        ++m_connections;
        if (m_socket) {
            // The previous client is replaced; a stall waiting on it is over.
            QTcpSocket* previous = m_socket;
            m_socket = nullptr;
            previous->abort();
            previous->deleteLater();
            if (!isFinished() && m_steps[m_next].kind == Kind::Stall)
                ++m_next;
        }
        m_dripTimer.stop();
        m_lines.clear();
        m_handshaking = false;
        m_socket = socket;
        connect(socket, &QTcpSocket::readyRead, this, &ScriptedPop3Server::onReadyRead);
        connect(socket, &QTcpSocket::disconnected, this,
                [this, socket] { onDisconnected(socket); });
        if (auto* ssl = qobject_cast<QSslSocket*>(socket))
            connect(ssl, &QSslSocket::encrypted, this, [this, socket] { onEncrypted(socket); });
        if (m_implicitTls)
            beginTls();
    }
    run();
}

void ScriptedPop3Server::beginTls() {
    auto* ssl = qobject_cast<QSslSocket*>(m_socket.data());
    if (!ssl)
        return;
    ssl->setLocalCertificate(m_certificate);
    ssl->setPrivateKey(m_key);
    m_handshaking = true;
    ssl->startServerEncryption();
}

void ScriptedPop3Server::onEncrypted(QTcpSocket* socket) {
    ++m_encryptedConnections;
    if (socket != m_socket)
        return;
    m_handshaking = false;
    run();
}

void ScriptedPop3Server::onReadyRead() {
    auto* socket = qobject_cast<QTcpSocket*>(sender());
    if (!socket)
        return;
    // Lines on a connection the script has left are recorded too, but not acted on.
    QByteArray& buffer = m_lineBuffers[socket];
    buffer.append(socket->readAll());
    qsizetype newline;
    while ((newline = buffer.indexOf('\n')) >= 0) {
        QByteArray line = buffer.left(newline);
        buffer.remove(0, newline + 1);
        if (line.endsWith('\r'))
            line.chop(1);
        const QString text = QString::fromUtf8(line);
        m_received.append(text);
        if (socket == m_socket)
            m_lines.append(text);
    }
    run();
}

void ScriptedPop3Server::onDisconnected(QTcpSocket* socket) {
    m_lineBuffers.remove(socket);
    socket->deleteLater();
    if (socket != m_socket)
        return;
    m_socket = nullptr;
    m_dripTimer.stop();
    m_handshaking = false;
    if (!isFinished() &&
        (m_steps[m_next].kind == Kind::Stall || m_steps[m_next].kind == Kind::Drip ||
         m_steps[m_next].kind == Kind::Pause))
        ++m_next;
    run();
}

void ScriptedPop3Server::onDripTick() {
    if (!m_socket || isFinished()) {
        m_dripTimer.stop();
        return;
    }
    const Step& step = m_steps[m_next];
    if (step.kind == Kind::Drip)
        m_socket->write(step.bytes.mid(m_dripPos, 1));
    if (++m_dripPos >= step.bytes.size()) {
        m_dripTimer.stop();
        ++m_next;
        run();
    }
}

void ScriptedPop3Server::run() {
    while (m_socket && !isFinished() && !m_dripTimer.isActive() && !m_handshaking) {
        const Step& step = m_steps[m_next];
        switch (step.kind) {
        case Kind::Expect: {
            if (m_lines.isEmpty())
                return;
            const QString line = m_lines.takeFirst();
            if (!step.pattern.match(line).hasMatch() &&
                line.compare(QLatin1String("CAPA"), Qt::CaseInsensitive) == 0) {
                m_socket->write("-ERR unknown command\r\n");
                break;
            }
            if (!step.pattern.match(line).hasMatch() &&
                line.compare(QLatin1String("UIDL"), Qt::CaseInsensitive) == 0) {
                m_socket->write("-ERR unknown command\r\n");
                break;
            }
            if (!step.pattern.match(line).hasMatch() &&
                line.compare(QLatin1String("STAT"), Qt::CaseInsensitive) == 0) {
                m_socket->write("+OK " + QByteArray::number(m_lastCount) + " 0\r\n");
                break;
            }
            if (!step.pattern.match(line).hasMatch()) {
                mismatch(QStringLiteral("expected a line matching \"%1\", got \"%2\"")
                             .arg(masked(step.pattern.pattern()), masked(line)));
                return;
            }
            ++m_next;
            break;
        }
        case Kind::Send:
            m_socket->write(step.bytes);
            ++m_next;
            break;
        case Kind::Drip:
            if (step.bytes.isEmpty()) {
                ++m_next;
                break;
            }
            m_dripPos = 0;
            m_dripTimer.start(step.intervalMs);
            return;
        case Kind::Pause:
            // One tick of the drip timer that sends nothing.
            m_dripPos = 0;
            m_dripTimer.start(step.intervalMs);
            return;
        case Kind::Drop: {
            ++m_next;
            QTcpSocket* socket = m_socket;
            m_socket = nullptr;
            m_lines.clear();
            // Whatever was written still goes out before the connection closes.
            socket->disconnectFromHost();
            return;
        }
        case Kind::Stall:
            return;
        case Kind::StartTls:
            ++m_next;
            beginTls();
            break;
        }
    }
    if (m_socket && isFinished() && !m_lines.isEmpty() && m_failure.isEmpty())
        m_failure =
            QStringLiteral("line after the end of the script: \"%1\"").arg(masked(m_lines.first()));
}

void ScriptedPop3Server::mismatch(const QString& text) {
    if (m_failure.isEmpty())
        m_failure = text;
    m_next = m_steps.size();
    if (m_socket) {
        m_socket->write("-ERR unexpected command\r\n");
        QTcpSocket* socket = m_socket;
        m_socket = nullptr;
        socket->disconnectFromHost();
    }
}

QString ScriptedPop3Server::masked(const QString& line) {
    // Lines and patterns alike ("PASS\\ secret" once escaped).
    if (line.startsWith(QLatin1String("PASS"), Qt::CaseInsensitive))
        return QStringLiteral("PASS ***");
    return line;
}
