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
//     box.seed({DovecotMailbox::stripMboxFromLine(corpus::readMessage(file))});
//     ... scan the account box.server(), box.userName(), box.password() ...
//     QCOMPARE(box.messages().size(), 0);
class DovecotMailbox {
public:
    DovecotMailbox();
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
    // The mail server cell of an account row: "host:port".
    QString server() const;

    // Removes every message from the mailbox.
    bool clear();
    // Delivers the messages after those already there, in the given order, so that they become the
    // next POP3 message numbers. The bytes are stored as given; a message with LF line ends is
    // served with CRLF.
    bool seed(const QList<QByteArray>& rawMessages);
    // The raw bytes of the messages still on the server, in POP3 order: what a session that ended
    // with QUIT left behind.
    QList<QByteArray> messages() const;

    // The server's log, for a test that wants to show it when something goes wrong.
    QString logFile() const;

    // Messages of the mail corpus start with an mbox "From " separator line that is not part of
    // the message: returns the message without it (unchanged when there is none).
    static QByteArray stripMboxFromLine(const QByteArray& raw);

private:
    bool readState(const QString& folder);
    bool claim();
    QString mailbox() const;

    QString m_folder;
    QString m_host;
    quint16 m_port = 0;
    QString m_user;
    QString m_password;
    int m_mailUid = -1;
    int m_mailGid = -1;
    int m_fd = -1; // the held lock of the claimed mailbox
    QByteArray m_skipReason;
};
