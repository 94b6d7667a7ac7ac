#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One mailbox on the test suite's own POP3 server, the CTest fixture "dovecot" (a test that uses it
// declares FIXTURES dovecot in corvanta_add_test). The server holds the users user1 ... user8;
// each DovecotMailbox claims one that no other object, in this or another test program, holds at
// the same time, keeps it for its lifetime and starts with it empty. Tests running in parallel
// therefore never see each other's mail, and a test that needs two accounts makes two objects.
//
// Typical use:
//     DovecotMailbox box;
//     if (!box.available())
//         QSKIP(box.skipReason());
//     box.seed({corpus::readMessage(file)});
//     ... scan the account box.server(), box.userName(), box.password() ...
//     QCOMPARE(box.messages().size(), 0);
//
// The fixture serves every mailbox twice: in the clear on server(), which offers no STLS, and over
// TLS (serverStls(), serverImplicitTls()) with a certificate from a test CA. A client trusts that
// CA when caCertificatePem() is placed in the "certificates/authorities" folder of its program
// folder.
class DovecotMailbox {
public:
    DovecotMailbox();
    // A mailbox of the server that dovecot-fixture.sh started in that folder (a benchmark starts
    // its own server rather than the test suite's).
    explicit DovecotMailbox(const QString& fixtureFolder);
    ~DovecotMailbox();
    DovecotMailbox(const DovecotMailbox&) = delete;
    DovecotMailbox& operator=(const DovecotMailbox&) = delete;

    // False when the server is not running or every mailbox is taken; skipReason() says which.
    bool available() const { return m_fd >= 0; }
    const char* skipReason() const { return m_skipReason.constData(); }

    QString host() const { return m_host; }
    quint16 port() const { return m_port; }
    QString userName() const { return m_user; }
    QString password() const { return m_password; }
    // The mail server cell of an account row: "host:port", a server in the clear without STLS.
    QString server() const;
    // The same mailbox over TLS; empty when the fixture serves none. A plain port whose server
    // offers STLS ("host:port"), and a port that speaks TLS from the first byte ("pop3s://...").
    QString serverStls() const;
    QString serverImplicitTls() const;
    // The TLS port reached by an address the server's certificate does not name
    // ("pop3s://127.0.0.2:port"); empty when the system has no second loopback address.
    QString serverWrongName() const;
    // The CA certificate (PEM) that issued the TLS server's certificate; empty when none.
    QByteArray caCertificatePem() const;
    // The signing key of the fixture's OAuth 2.0 authorization server, which Dovecot asks about
    // access tokens: a MockAuthorizationServer made with it hands out tokens that Dovecot takes
    // for this mailbox's user. Empty when the fixture runs without OAuth 2.0.
    QByteArray oauthKey() const;
    // How many times this mailbox's user has logged in over TLS so far, as the TLS server's log
    // tells (it may lag a moment behind the log-in: wait for it with QTRY_COMPARE).
    int encryptedLogins() const;

    // Removes every message from the mailbox.
    bool clear();
    // Delivers the messages after those already there, in the given order, so that they become the
    // next POP3 message numbers. The bytes are stored as given; a message with LF line ends is
    // served with CRLF.
    bool seed(const QList<QByteArray>& rawMessages);
    // The raw bytes of the messages still on the server, in POP3 order: what a session that ended
    // with QUIT left behind.
    QList<QByteArray> messages() const;

    // The servers' logs, for a test that wants to show them when something goes wrong.
    QString logFile() const;
    QString tlsLogFile() const;

private:
    bool readState(const QString& folder);
    bool claim();
    QString mailbox() const;

    QString m_folder;
    QString m_host;
    quint16 m_port = 0;
    quint16 m_stlsPort = 0;
    quint16 m_tlsPort = 0;
    QString m_wrongNameHost;
    QString m_caFile;
    QString m_oauthKeyFile;
    QString m_user;
    QString m_password;
    int m_mailUid = -1;
    int m_mailGid = -1;
    int m_fd = -1; // the held lock of the claimed mailbox
    QByteArray m_skipReason;
};
