#include "support/pop3probe.h"

#include "support/dovecot.h"

#include <QDeadlineTimer>
#include <QSslConfiguration>

namespace {
constexpr int kWaitMs = 30000;
constexpr int kConnectMs = 10000;
} // namespace

bool Pop3Probe::connect(const QString& host, quint16 port) {
    m_socket.connectToHost(host, port);
    return m_socket.waitForConnected(kConnectMs) && readLine().startsWith("+OK");
}

bool Pop3Probe::connect(const DovecotMailbox& box) {
    return connect(box.host(), box.port());
}

QList<QSslError> Pop3Probe::connectEncrypted(const QString& host, quint16 port,
                                             const QByteArray& ca) {
    trustOnly(ca);
    m_socket.connectToHostEncrypted(host, port);
    if (!m_socket.waitForEncrypted(kConnectMs)) {
        const QList<QSslError> errors = m_socket.sslHandshakeErrors();
        return errors.isEmpty() ? QList<QSslError>{QSslError(QSslError::UnspecifiedError)} : errors;
    }
    return readLine().startsWith("+OK") ? QList<QSslError>()
                                        : QList<QSslError>{QSslError::UnspecifiedError};
}

bool Pop3Probe::startTls(const QByteArray& ca) {
    trustOnly(ca);
    if (!command("STLS").startsWith("+OK"))
        return false;
    m_socket.startClientEncryption();
    return m_socket.waitForEncrypted(kConnectMs);
}

bool Pop3Probe::login(const QString& user, const QString& password) {
    return command("USER " + user.toUtf8()).startsWith("+OK") &&
           command("PASS " + password.toUtf8()).startsWith("+OK");
}

bool Pop3Probe::login(const DovecotMailbox& box) {
    return login(box.userName(), box.password());
}

QByteArray Pop3Probe::command(const QByteArray& line) {
    m_socket.write(line + "\r\n");
    return readLine();
}

QByteArray Pop3Probe::readMultiline() {
    QByteArray wire;
    for (;;) {
        const QByteArray line = readLine();
        if (line.isEmpty() || line == ".\r\n")
            return wire;
        wire += line;
    }
}

int Pop3Probe::stat() {
    const QList<QByteArray> words = command("STAT").trimmed().split(' ');
    return words.size() >= 2 && words[0] == "+OK" ? words[1].toInt() : -1;
}

qint64 Pop3Probe::retrieveAll(int count, int window) {
    qint64 received = 0;
    int sent = 0;
    for (int answered = 0; answered < count; ++answered) {
        QByteArray commands;
        while (sent < count && sent - answered < window)
            commands += "RETR " + QByteArray::number(++sent) + "\r\n";
        if (!commands.isEmpty())
            m_socket.write(commands);
        if (!readLine().startsWith("+OK"))
            return -1;
        const qint64 body = skipToTerminator();
        if (body < 0)
            return -1;
        received += body;
    }
    return received;
}

void Pop3Probe::quit() {
    command("QUIT");
    m_socket.disconnectFromHost();
}

void Pop3Probe::trustOnly(const QByteArray& ca) {
    QSslConfiguration configuration = m_socket.sslConfiguration();
    configuration.setCaCertificates(QSslCertificate::fromData(ca, QSsl::Pem));
    m_socket.setSslConfiguration(configuration);
}

QByteArray Pop3Probe::readLine() {
    for (;;) {
        const qsizetype newline = m_buffer.indexOf('\n', m_pos);
        if (newline >= 0) {
            const QByteArray line = m_buffer.mid(m_pos, newline + 1 - m_pos);
            m_pos = newline + 1;
            return line;
        }
        if (!receive())
            return QByteArray();
    }
}

bool Pop3Probe::receive() {
    QByteArray more = m_socket.readAll();
    const QDeadlineTimer deadline(kWaitMs);
    while (more.isEmpty()) {
        if (deadline.hasExpired() || !m_socket.waitForReadyRead(int(deadline.remainingTime())))
            return false;
        more = m_socket.readAll();
    }
    // With nothing left unread the new bytes are taken as they are, without a copy.
    if (m_pos >= m_buffer.size())
        m_buffer = more;
    else
        m_buffer = m_buffer.mid(m_pos) + more;
    m_pos = 0;
    return true;
}

qint64 Pop3Probe::skipToTerminator() {
    qint64 bytes = 0;
    // 0: at a line start, 1: a line that began with ".", 2: ".\r" at a line start, 3: inside
    // any other line.
    int state = 0;
    for (;;) {
        if (m_pos >= m_buffer.size() && !receive())
            return -1;
        const char* data = m_buffer.constData();
        const qsizetype size = m_buffer.size();
        for (qsizetype i = m_pos; i < size; ++i) {
            const char c = data[i];
            if (c == '\n') {
                if (state == 1 || state == 2) {
                    bytes += i + 1 - m_pos;
                    m_pos = i + 1;
                    return bytes;
                }
                state = 0;
            } else if (state == 0) {
                state = c == '.' ? 1 : 3;
            } else if (state == 1) {
                state = c == '\r' ? 2 : 3;
            } else if (state == 2) {
                state = 3;
            }
        }
        bytes += size - m_pos;
        m_pos = size;
    }
}
