#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslKey>
#include <QStringList>
#include <QTcpServer>
#include <QTimer>

class QTcpSocket;

// A POP3 server for tests on 127.0.0.1 and a free port. It follows a script of steps, in order:
// wait for a client line matching a pattern, send bytes, send bytes slowly, drop the connection,
// stay silent. It serves one connection at a time; a new connection ends the previous one and
// goes on with the script where it stands. Every line a client sends is recorded.
//
// A client line that does not match the expected pattern is answered with "-ERR", the connection
// is dropped and the script stops; failure() then says what was expected and what came. One
// exception is "CAPA": where the script does not expect it, it is answered "-ERR" as a server
// without capabilities would, and the script goes on (the line is still recorded). A script that
// wants to list capabilities expects it with capa(). "UIDL" the script does not expect is answered
// "-ERR" too, as by a server without unique ids; uidl() expects it. Likewise "STAT" is answered
// where the script does not expect it, as when a client checks the session before QUIT, with the
// count login() was given.
//
// With a TLS identity set, the server can speak TLS: from the first byte for every connection
// (setImplicitTls) or from a startTls() step on, as after STLS. Lines are recorded as decrypted.
class ScriptedPop3Server : public QObject {
    Q_OBJECT
public:
    explicit ScriptedPop3Server(QObject* parent = nullptr);
    ~ScriptedPop3Server() override;

    // Starts listening; false when that failed.
    bool listen();
    quint16 port() const { return m_server.serverPort(); }
    // "127.0.0.1:<port>", a mail server cell that reaches this server.
    QString address() const;

    // The certificate and key the server shows when it speaks TLS.
    void setTlsIdentity(const QSslCertificate& certificate, const QSslKey& key);
    // Every connection starts with a TLS handshake; the script runs once it succeeded (a failed
    // handshake runs nothing and ends the connection).
    void setImplicitTls(bool on) { m_implicitTls = on; }
    // Handshakes that succeeded, over all connections.
    int encryptedConnections() const { return m_encryptedConnections; }

    // Waits for a client line that matches the regular expression as a whole (line end removed).
    ScriptedPop3Server& expect(const QString& pattern);
    // Waits for exactly this client line.
    ScriptedPop3Server& expectLine(const QString& line);
    // Sends the bytes as they are.
    ScriptedPop3Server& send(const QByteArray& bytes);
    // Sends the line followed by CRLF.
    ScriptedPop3Server& reply(const QByteArray& line);
    // Sends the bytes one at a time, intervalMs apart.
    ScriptedPop3Server& drip(const QByteArray& bytes, int intervalMs);
    // Sends nothing for intervalMs, then goes on with the next step.
    ScriptedPop3Server& pause(int intervalMs);
    // Closes the connection after what was sent so far; later steps serve the next connection.
    ScriptedPop3Server& drop();
    // Sends nothing more until the client closes the connection or a new one arrives.
    ScriptedPop3Server& stall();
    // Starts TLS on the connection (the server side of STLS); the next step runs once the
    // handshake succeeded.
    ScriptedPop3Server& startTls();

    // Greeting, USER, PASS and STAT with the given count, all accepted; a later STAT the script
    // does not expect is answered with the same count.
    void setMessageCount(int count) { m_lastCount = count; }
    // Greeting, USER, PASS and STAT with the given count, all accepted.
    ScriptedPop3Server& login(const QString& user, const QString& password, int messages);
    // RETR n answered with the message, dot-stuffed and terminated.
    ScriptedPop3Server& message(int n, const QByteArray& raw);
    // QUIT answered with +OK, then the connection closed.
    ScriptedPop3Server& quit();
    // CAPA answered with these capability lines.
    ScriptedPop3Server& capa(const QList<QByteArray>& capabilities);
    // LIST answered with these message sizes, numbered from 1.
    ScriptedPop3Server& list(const QList<qsizetype>& sizes);
    // UIDL answered with these lines, as they are.
    ScriptedPop3Server& uidl(const QList<QByteArray>& lines);
    // CAPA listing STLS, STLS accepted, TLS started.
    ScriptedPop3Server& stls();

    // The message as a server sends it in a multi-line reply: lines starting with "." get a second
    // dot, and a missing final line end is added. The terminating ".\r\n" is not included.
    static QByteArray dotStuff(const QByteArray& raw);
    // The same as a server that stores mail byte for byte does it: only a dot after CR LF counts
    // as the start of a line, so a bare LF followed by "." is sent as it is.
    static QByteArray dotStuffAfterCrLf(const QByteArray& raw);
    // message() stuffs as such a server does from now on.
    void setStuffingAfterCrLfOnly(bool on) { m_stuffAfterCrLfOnly = on; }

    // Every line the clients sent, in order, without line ends.
    QStringList received() const { return m_received; }
    // Empty while the clients kept to the script; otherwise what went wrong (passwords masked).
    QString failure() const { return m_failure; }
    // True when every step has run.
    bool isFinished() const { return m_next >= m_steps.size(); }
    int connectionCount() const { return m_connections; }
    // True while a client is connected.
    bool hasClient() const { return !m_socket.isNull(); }

private:
    enum class Kind { Expect, Send, Drip, Pause, Drop, Stall, StartTls };
    struct Step {
        Kind kind;
        QRegularExpression pattern;
        QByteArray bytes;
        int intervalMs = 0;
    };

    // Makes the sockets of incoming connections able to speak TLS.
    class Listener : public QTcpServer {
    protected:
        void incomingConnection(qintptr descriptor) override;
    };

    ScriptedPop3Server& add(Step step);
    void beginTls();
    void onEncrypted(QTcpSocket* socket);
    void onNewConnection();
    void onReadyRead();
    void onDisconnected(QTcpSocket* socket);
    void onDripTick();
    void run();
    void mismatch(const QString& text);
    static QString masked(const QString& line);

    Listener m_server;
    QPointer<QTcpSocket> m_socket;
    QHash<QTcpSocket*, QByteArray> m_lineBuffers; // partial lines per connection
    QStringList m_lines;                          // received and not yet taken by an expect step
    QList<Step> m_steps;
    qsizetype m_next = 0;
    QTimer m_dripTimer;
    qsizetype m_dripPos = 0;
    QStringList m_received;
    QString m_failure;
    int m_connections = 0;
    QSslCertificate m_certificate;
    QSslKey m_key;
    bool m_implicitTls = false;
    bool m_stuffAfterCrLfOnly = false;
    int m_lastCount = 0;
    bool m_handshaking = false; // the script waits for the current connection's handshake
    int m_encryptedConnections = 0;
};
