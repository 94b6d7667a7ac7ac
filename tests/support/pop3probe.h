#pragma once

#include <QByteArray>
#include <QList>
#include <QSslError>
#include <QSslSocket>
#include <QString>

class DovecotMailbox;

// A deliberately plain POP3 client: blocking, nothing parsed, every reply read as it came over the
// wire. The tests check the test mail server with it, one command and one answer at a time; the
// scan benchmark times its bare download loop with it. A wait for the server gives up after 30 s
// without a byte.
class Pop3Probe {
public:
    // Connects and reads the greeting; true when it is positive.
    bool connect(const QString& host, quint16 port);
    bool connect(const DovecotMailbox& box);
    // Connects to a TLS port of the server, trusting the given CA only, and reads the greeting.
    // Returns the socket's errors when the handshake fails.
    QList<QSslError> connectEncrypted(const QString& host, quint16 port, const QByteArray& ca);
    // Switches a connection in the clear to TLS with STLS.
    bool startTls(const QByteArray& ca);

    // USER and PASS; true when both are accepted.
    bool login(const QString& user, const QString& password);
    bool login(const DovecotMailbox& box);
    bool open(const DovecotMailbox& box) { return connect(box) && login(box); }

    // Sends one command and returns the status line of its reply with its line end; empty when
    // none came.
    QByteArray command(const QByteArray& line);
    // The body of a multi-line answer as it came over the wire, up to and without the final ".".
    QByteArray readMultiline();
    // The STAT count, or -1.
    int stat();
    // Sends RETR 1..count with at most `window` commands unanswered, reading every reply to its
    // end and throwing it away. Returns the bytes of the messages received, or -1 on failure.
    qint64 retrieveAll(int count, int window);
    // QUIT, then the connection closed.
    void quit();

private:
    void trustOnly(const QByteArray& ca);
    QByteArray readLine();
    // Reads what has come in behind what is left unread; false when nothing came.
    bool receive();
    // Reads message lines up to the lone "."; returns how many bytes that was, or -1.
    qint64 skipToTerminator();

    QSslSocket m_socket;
    // Received bytes; those from m_pos on are not read yet.
    QByteArray m_buffer;
    qsizetype m_pos = 0;
};
