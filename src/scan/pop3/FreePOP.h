#pragma once

#include "scan/eventloopwait.h"
#include "scan/pop3/messagepage.h"
#include "scan/pop3/parsedmessage.h"
#include "scan/pop3/pop3connection.h"
#include "scan/pop3/pop3error.h"
#include "scan/pop3/pop3mailbox.h"
#include "scan/pop3/pop3pipeline.h"
#include "scan/pop3/pop3replyreader.h"
#include "scan/pop3/pop3tokensource.h"

#include <QByteArray>
#include <QFuture>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QThreadPool;

// The POP3 client the scan uses: one connection and one current message at a time. This is its
// facade, with the operations the scan pass calls and the error state; the work is done by the
// layers below it, one file each: the reply reader (the wire format), the pipeline (commands and
// their replies, fetching ahead), the connection (socket and TLS) and the log-in (the session's
// set-up up to STAT).
//
// Every operation looks synchronous to its caller but waits for the server in a local event
// loop, so the window keeps painting and timers keep firing meanwhile. poptimeout() seconds bound
// each whole operation (not each read): a server that answers too slowly fails the operation.
// After any operation ErrorCode() tells whether it worked.
//
// Work is overlapped behind that facade without changing what any operation returns:
//   - A retrieved message is parsed on a worker thread as soon as its last line came in, so that
//     CompleteFetch usually finds it done and a large message never freezes the window.
//   - With a server that announces PIPELINING, Connect also asks for the message sizes (LIST),
//     and FetchMessage(n) asks right away for the messages after n, in one go: always n + 1, and
//     up to 128 while the sizes listed add up to no more than 1 MiB, never past the last, so the
//     worker always has messages to parse while the caller judges one. A message past the next
//     that comes in much larger than listed is dropped as it arrives and asked for again when it
//     is wanted, so wrong sizes cannot make messages pile up. A DELE goes out without waiting for
//     those, and DeleteMessage does not wait for the reply to DELE unless its outcome is asked
//     for. The replies are read in the order the commands went out; each operation still waits
//     for, and reports, the reply to its own command, and a failed reply to a message asked for
//     ahead is reported by the FetchMessage of that message. A server without PIPELINING is sent
//     one command at a time, each after the previous reply, exactly as the caller makes the calls.
//
// Deleting a message that was not judged is the one thing the component must never do. Replies
// are framed strictly (see Pop3ReplyReader), and QUIT, which is what makes the marked deletions
// happen, goes out only once every earlier reply has been read and kept to the protocol, and a
// STAT sent alone after them got its own kind of answer with nothing left over. A reply
// that breaks the framing, or data the server sends unasked, drops the connection without QUIT:
// a server deletes nothing then, so a deletion marked in a session that went out of step is never
// carried out.
//
// A mail server may be given as "host" (port popport(), 110 unless changed), "host:port",
// "[IPv6 address]", "[IPv6 address]:port", "pop3://host[:port]", "pop3s://host[:port]" or
// "pop3+stls://host[:port]" (see serveraddress.h). "pop3s://" (port 995 unless given) and port 995
// mean TLS from the first byte. On any other port the connection starts in the clear; after the
// greeting the component asks for the server's capabilities (CAPA), and a server that offers STLS
// is switched to TLS before the login name and password go out. A server that offers no STLS is
// logged into in the clear, unless "pop3+stls://" asked for STLS or the server has spoken TLS
// before (see setTlsMemoryFile): then the log-in fails with EncryptionMissing and nothing of it
// is sent.
//
// Server certificates are checked against the system's trusted roots, the certificates in
// trustedCertificatesFolder() and the server's name as entered. A certificate that fails the check,
// or encryption that was offered but does not come about, fails Connect before anything of the
// login is sent; there is no falling back to the clear.
//
// An account whose server cell carries "+oauth2" in its scheme logs in with an OAuth 2.0 access
// token from the token source (SASL XOAUTH2 or OAUTHBEARER, over TLS only) instead of USER and
// PASS; a token the server refuses is renewed once and tried again.
//
// The password and the tokens never appear in errorString() or any other output.
class FreePOP : public QObject, public Pop3Mailbox {
    Q_OBJECT
public:
    // The values ErrorCode() returns (see pop3error.h), also as FreePOP::NoError and so on.
    using Error = Pop3Error;
    using enum Pop3Error;

    explicit FreePOP(QObject* parent = nullptr);
    // With a wait of its own, for tests that run the client on a simulated clock.
    FreePOP(std::unique_ptr<EventLoopWait> waiter, QObject* parent = nullptr);
    ~FreePOP() override;

    void setPophostname(const QString& hostname) override { m_hostname = hostname; }
    QString pophostname() const { return m_hostname; }
    void setPopusername(const QString& username) override { m_username = username; }
    QString popusername() const { return m_username; }
    void setPoppassword(const QString& password) override { m_password = password; }
    QString poppassword() const { return m_password; }
    // The port for a server given without one.
    void setPopport(int port) { m_port = port; }
    int popport() const { return m_port; }
    // Seconds an operation may take; values below 1 count as 1.
    void setPoptimeout(int seconds) { m_timeout = seconds; }
    int poptimeout() const { return m_timeout; }

    // The folder of certificates the user trusts beyond the system's roots (the program folder's
    // "certificates" folder): a certificate placed there counts for the servers it names only, one
    // in its "authorities" subfolder for every server it signed (see tlstrust.h). The host name is
    // checked all the same. Read at every Connect, so a certificate placed while the program runs
    // counts from the next log-in. Empty (the default): the system's roots only.
    void setTrustedCertificatesFolder(const QString& folder);
    QString trustedCertificatesFolder() const { return m_certificatesFolder; }

    // The file that remembers the servers that have spoken TLS (the program folder's
    // "tlsservers.dat", see tlsmemory.h). Every server met encrypted is added to it, and a server
    // in it that offers no STLS on a plain connection is not logged into. A failure to write it
    // does not fail the log-in. Empty (the default): nothing is remembered.
    void setTlsMemoryFile(const QString& path) { m_tlsMemoryFile = path; }
    QString tlsMemoryFile() const { return m_tlsMemoryFile; }

    // Bounds on what the server may send (defaults in Pop3Limits); for tests and tuning.
    void setLimits(const Pop3Limits& limits) { m_pipeline.setLimits(limits); }
    Pop3Limits limits() const { return m_pipeline.limits(); }
    // How connections are made; by default to real servers. For tests that play the server.
    void setTransportFactory(Pop3Connection::TransportFactory factory);
    // Where accounts whose server cell ends its scheme in "+oauth2" get their access tokens (see
    // serveraddress.h); without one such an account cannot log in.
    void setTokenSource(std::shared_ptr<Pop3TokenSource> source) { m_tokens = std::move(source); }

    // Connects (encrypted where the server cell or the server asks for it), reads the greeting and
    // the capabilities, logs in with USER and PASS, reads the message count with STAT and the
    // messages' unique ids with UIDL, where the server gives them (see pop3login.h). An open
    // connection is dropped first, without QUIT, so its deletions do not happen.
    void Connect() override;
    // 0 after a successful operation, one of Error after a failed one. After DeleteMessage it
    // first waits for the answer to DELE.
    int ErrorCode() override;
    // A readable account of the last failure; empty after success. Waits as ErrorCode() does.
    QString errorString() override;
    // The number of messages STAT reported at Connect; 0 when not connected.
    int MessageCount() const override { return m_messageCount; }
    // The unique ids UIDL listed at Connect (see pop3uniqueids.h); empty without.
    QList<QByteArray> uniqueIds() const override { return m_uniqueIds; }
    // Only the planned messages are asked for ahead.
    void planFetches(const QList<int>& numbers) override;
    // Retrieves message n (RETR n), which becomes the current message. On failure there is no
    // current message; a refused number or an oversized message leaves the session usable.
    void FetchMessage(int n) override;
    // Parses the current message; the reads below describe it afterwards (and are empty before).
    void CompleteFetch() override;
    QString Sender() const override { return m_message.sender; }
    QString Subject() const override { return m_message.subject; }
    QString Body() const override { return m_message.body; }
    // The topmost field of that name ("Received:"; the colon is optional), unfolded and decoded;
    // empty when absent.
    QString HeaderValue(const QString& name) const override { return m_message.header(name); }
    // Writes the current message as an HTML page (see messagepage.h) to path. The folder must
    // exist. A file there is never replaced: when path is taken by the time the page is written,
    // the page gets the next free archive name after it (see nextArchiveFilePath), which
    // savedPath() tells. The file is complete or not written at all, and readable by its owner
    // only, like any stored mail. The page reaches the disk for certain before the next log-out of
    // this session, so a message archived and then deleted is never lost to a power cut; the wait
    // for the disk is paid once per session, not once per page.
    void SaveMessage(const QString& path) override;
    // The file the last SaveMessage wrote; empty when it failed.
    QString savedPath() const override { return m_savedPath; }
    void setPageNote(const RemovalNote& note) override { m_pageNote = note; }
    // Marks the current message for deletion (DELE); it leaves the server at Disconnect. Returns
    // once DELE is on its way: ErrorCode() or errorString(), read before the next operation, wait
    // for the reply and report it; otherwise the reply is read in turn with the ones after it.
    void DeleteMessage() override;
    // Logs out (QUIT), which removes the marked messages, and closes the connection. Before QUIT
    // the pages saved in this session are flushed to disk, every reply still outstanding is read
    // and, when messages were marked, a NOOP confirms that the replies are in step; when any of
    // that fails, QUIT is not sent and the marked messages stay on the server.
    // Without a connection it does nothing.
    void Disconnect() override;

    // The capabilities the server listed for CAPA on the open connection, one line each as sent;
    // empty when it does not know CAPA or when not connected. Asked again after STLS, because
    // what was said in the clear cannot be relied on.
    QStringList capabilities() const { return m_capabilities; }
    // Whether capabilities() has a line whose first word is name (in any letter case).
    bool hasCapability(QStringView name) const;
    // True while the open connection is encrypted.
    bool isEncrypted() const { return m_connection.isEncrypted(); }

    // Work done for every message on the worker thread right after it is parsed, while the caller
    // is still busy with earlier messages; empty (the default) for none. It must be safe to run on
    // another thread.
    void setAnalyzer(MessageAnalyzer analyzer) override { m_analyzer = std::move(analyzer); }
    std::shared_ptr<const MessageAnalysis> analysis() const override { return m_analysis; }

    // The raw current message as retrieved (line ends as sent, dot-stuffing undone).
    const QByteArray& rawMessage() const { return m_raw; }

private:
    bool beginOperation();
    void endOperation() { m_busy = false; }
    void settleDelete();
    bool requireOpenLink();
    Pop3Deadline operationDeadline() const;
    QFuture<ParsedResult> startParse(const QByteArray& raw);
    bool waitForWork(const QFuture<ParsedResult>& parse);
    bool syncSavedPages(const Pop3Deadline& deadline);
    bool confirmInStep(const Pop3Deadline& deadline);
    void closeLink();
    void clearCurrent();
    void succeed();
    void fail(Error error, const QString& text);
    void fail(const Pop3Failure& failure) { fail(failure.error, failure.text); }

    QString m_hostname;
    QString m_username;
    QString m_password;
    int m_port = 110;
    int m_timeout = 120;
    QString m_certificatesFolder;
    QString m_tlsMemoryFile;
    std::shared_ptr<Pop3TokenSource> m_tokens;

    std::unique_ptr<EventLoopWait> m_waiter;
    Pop3Connection m_connection;
    Pop3Pipeline m_pipeline;
    QStringList m_capabilities;

    int m_messageCount = 0;
    QList<QByteArray> m_uniqueIds;
    int m_current = 0; // number of the current message, 0 for none
    QByteArray m_raw;
    QFuture<ParsedResult> m_parse; // the parse of the current message, started when it came in
    ParsedMessage m_message;
    std::shared_ptr<const MessageAnalysis> m_analysis;
    bool m_parsed = false;
    MessageAnalyzer m_analyzer;
    // Small messages no longer current, to be freed by the next parse on the worker.
    struct Discarded {
        QByteArray raw;
        QFuture<ParsedResult> parse;
        ParsedMessage message;
        std::shared_ptr<const MessageAnalysis> analysis;
    };
    std::vector<Discarded> m_discarded;
    // The DELE commands of this session.
    std::vector<Pop3CommandPtr> m_deletions;
    RemovalNote m_pageNote; // for the next page
    // Pages written since the last flush to disk; flushed before QUIT.
    QStringList m_unsyncedPages;
    QString m_savedPath;
    // One worker for parsing and for large pages: jobs run one after the other, in order.
    std::unique_ptr<QThreadPool> m_worker;

    // The DELE of the last DeleteMessage while its outcome may still be asked for.
    Pop3CommandPtr m_unsettledDelete;
    Pop3Deadline m_unsettledDeadline;

    int m_error = NoError;
    QString m_errorString;
    bool m_busy = false;
};
