#pragma once

#include "scan/pop3/messagepage.h"
#include "scan/pop3/parsedmessage.h"
#include "scan/pop3/pop3replyreader.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

enum class TlsFault;
class QEventLoop;
class QThreadPool;
class Pop3Transport;
class SpareFiles;

// What the caller works out about a message on the worker thread as soon as it is parsed (see
// FreePOP::setAnalyzer); derive from it.
struct MessageAnalysis {
    virtual ~MessageAnalysis() = default;
};
using MessageAnalyzer =
    std::function<std::shared_ptr<const MessageAnalysis>(const ParsedMessage& message)>;

// The POP3 client the scan uses: one connection and one current message at a time.
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
// happen, goes out only once every earlier reply has been read and kept to the protocol. A reply
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
// The password never appears in errorString() or any other output.
class FreePOP : public QObject {
    Q_OBJECT
public:
    // The values ErrorCode() returns.
    enum Error {
        NoError = 0,
        ConnectionFailed = 1,  // bad server name or port, refused, unreachable, greeted with -ERR
        LoginRefused = 2,      // the server refused the login name or the password
        CommandRefused = 3,    // the server answered -ERR (no such message, DELE refused, ...)
        ProtocolError = 4,     // an answer that is not POP3; the connection is dropped
        TimedOut = 5,          // the operation took longer than poptimeout(); connection dropped
        ConnectionLost = 6,    // the connection ended; every later call fails at once until Connect
        MessageTooLarge = 7,   // larger than Pop3Limits::maxMessageSize; it stays on the server
        LineTooLong = 8,       // a message line longer than Pop3Limits::maxMessageLine; ditto
        FileWriteFailed = 9,   // SaveMessage could not write its file completely
        NoCurrentMessage = 10, // no message was fetched successfully
        NotConnected = 11,     // no Connect (or it failed, or Disconnect followed)
        BadArgument = 12,      // a message number below 1, or a line break in a login or password
        Busy = 13,             // called while another operation of this component was waiting
        Interrupted = 14,      // the application quit while an operation waited; connection dropped
        TlsHandshakeFailed = 15,   // no encrypted connection came about (not TLS, cut off, ...)
        CertificateUntrusted = 16, // the server's certificate is not trusted, or not valid
        HostNameMismatch = 17,     // the certificate is valid but made out to another server
        StlsRefused = 18,          // the server offered STLS and then refused it
        EncryptionMissing = 19,    // no STLS where it was required or had been offered before
    };
    Q_ENUM(Error)

    explicit FreePOP(QObject* parent = nullptr);
    ~FreePOP() override;

    void setPophostname(const QString& hostname) { m_hostname = hostname; }
    QString pophostname() const { return m_hostname; }
    void setPopusername(const QString& username) { m_username = username; }
    QString popusername() const { return m_username; }
    void setPoppassword(const QString& password) { m_password = password; }
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
    void setTrustedCertificatesFolder(const QString& folder) { m_certificatesFolder = folder; }
    QString trustedCertificatesFolder() const { return m_certificatesFolder; }

    // The file that remembers the servers that have spoken TLS (the program folder's
    // "tlsservers.dat", see tlsmemory.h). Every server met encrypted is added to it, and a server
    // in it that offers no STLS on a plain connection is not logged into. A failure to write it
    // does not fail the log-in. Empty (the default): nothing is remembered.
    void setTlsMemoryFile(const QString& path) { m_tlsMemoryFile = path; }
    QString tlsMemoryFile() const { return m_tlsMemoryFile; }

    // Bounds on what the server may send (defaults in Pop3Limits); for tests and tuning.
    void setLimits(const Pop3Limits& limits);
    Pop3Limits limits() const { return m_reader.limits(); }

    // Connects (encrypted where the server cell or the server asks for it), reads the greeting and
    // the capabilities, logs in with USER and PASS and reads the message count with STAT. An open
    // connection is dropped first, without QUIT, so its deletions do not happen.
    virtual void Connect();
    // 0 after a successful operation, one of Error after a failed one.
    virtual int ErrorCode() const;
    // A readable account of the last failure; empty after success.
    QString errorString() const;
    // The number of messages STAT reported at Connect; 0 when not connected.
    virtual int MessageCount() const { return m_messageCount; }
    // Retrieves message n (RETR n), which becomes the current message. On failure there is no
    // current message; a refused number or an oversized message leaves the session usable.
    virtual void FetchMessage(int n);
    // Parses the current message; the reads below describe it afterwards (and are empty before).
    virtual void CompleteFetch();
    virtual QString Sender() const { return m_message.sender; }
    virtual QString Subject() const { return m_message.subject; }
    virtual QString Body() const { return m_message.body; }
    // The topmost field of that name ("Received:"; the colon is optional), unfolded and decoded;
    // empty when absent.
    virtual QString HeaderValue(const QString& name) const;
    // Writes the current message as an HTML page (see messagepage.h) to path. The folder must
    // exist. A file there is never replaced: when path is taken by the time the page is written,
    // the page gets the next free archive name after it (see nextArchiveFilePath), which
    // savedPath() tells. The file is complete or not written at all, and readable by its owner
    // only, like any stored mail. The page reaches the disk for certain before the next log-out of
    // this session, so a message archived and then deleted is never lost to a power cut; the wait
    // for the disk is paid once per session, not once per page.
    virtual void SaveMessage(const QString& path);
    // The file the last SaveMessage wrote; empty when it failed.
    QString savedPath() const { return m_savedPath; }
    // What the next SaveMessage's page says about why the message was removed; used once.
    void setPageNote(const RemovalNote& note) { m_pageNote = note; }
    const RemovalNote& pageNote() const { return m_pageNote; }
    // Marks the current message for deletion (DELE); it leaves the server at Disconnect. Returns
    // once DELE is on its way: ErrorCode() or errorString(), read before the next operation, wait
    // for the reply and report it; otherwise the reply is read in turn with the ones after it.
    virtual void DeleteMessage();
    // Logs out (QUIT), which removes the marked messages, and closes the connection. Before QUIT
    // the pages saved in this session are flushed to disk and every reply still outstanding is
    // read; when either fails, QUIT is not sent and the marked messages stay on the server.
    // Without a connection it does nothing.
    virtual void Disconnect();

    // The capabilities the server listed for CAPA on the open connection, one line each as sent;
    // empty when it does not know CAPA or when not connected. Asked again after STLS, because
    // what was said in the clear cannot be relied on.
    QStringList capabilities() const { return m_capabilities; }
    // Whether capabilities() has a line whose first word is name (in any letter case).
    bool hasCapability(QStringView name) const;
    // True while the open connection is encrypted.
    bool isEncrypted() const;

    // Work done for every message on the worker thread right after it is parsed, while the caller
    // is still busy with earlier messages; empty (the default) for none. It must be safe to run on
    // another thread. A message parsed before the call keeps what the analyzer of its time made
    // of it, so a caller whose circumstances changed checks what it gets back.
    void setAnalyzer(MessageAnalyzer analyzer);
    // What the analyzer made of the current message, once CompleteFetch succeeded; null before,
    // and when there was no analyzer.
    const std::shared_ptr<const MessageAnalysis>& analysis() const { return m_analysis; }

    // The raw current message as retrieved (line ends as sent, dot-stuffing undone).
    const QByteArray& rawMessage() const { return m_raw; }

private:
    enum class Link { None, Connecting, Open, Securing, Lost };
    enum class Reply { Status, MultiLine };
    enum class Send { InTurn, Alone };
    struct Command;
    struct Job;
    using CommandPtr = std::shared_ptr<Command>;
    using JobPtr = std::shared_ptr<Job>;

    bool beginOperation();
    void settleDelete();
    void endOperation() { m_busy = false; }
    bool requireOpenLink();
    bool openLink(const QDeadlineTimer& deadline);
    bool askCapabilities(const QDeadlineTimer& deadline);
    bool negotiateTls(const QDeadlineTimer& deadline);
    bool secureLink(const QDeadlineTimer& deadline);
    void failTls(TlsFault fault, const QString& reason);
    bool exchange(const QByteArray& command, Reply kind, const QDeadlineTimer& deadline);
    CommandPtr send(const QByteArray& line, Reply kind, int number = 0, Send when = Send::InTurn);
    void sendQueued();
    void readReplies();
    bool waitForReply(const Command& command, const QDeadlineTimer& deadline);
    void failQueued(Error error, const QString& text);
    void fetchAhead(int n);
    static std::vector<qsizetype> parseMessageSizes(const QByteArray& listing, int count);
    void forgetAhead();
    JobPtr startJob(std::function<void(Job&)> work);
    JobPtr startParse(const QByteArray& raw);
    bool waitForJob(const JobPtr& job, const QDeadlineTimer& deadline);
    bool syncSavedPages(const QDeadlineTimer& deadline);
    QString readerFaultText(int error) const;
    bool waitForEvent(const QDeadlineTimer& deadline);
    void wake();
    void dropLink(const QString& reason);
    void closeLink();
    void clearCurrent();
    void succeed();
    void fail(Error error, const QString& text);
    QString serverText() const;
    QString serverText(const QByteArray& statusText) const;
    int timeoutSeconds() const;
    QDeadlineTimer operationDeadline() const;

    void onOpened();
    void onEncrypted();
    void onReadyRead();
    void onClosed(const QString& reason);

    QString m_hostname;
    QString m_username;
    QString m_password;
    int m_port = 110;
    int m_timeout = 120;
    QString m_certificatesFolder;
    QString m_tlsMemoryFile;

    std::unique_ptr<Pop3Transport> m_transport;
    Pop3ReplyReader m_reader;
    Link m_link = Link::None;
    QString m_lostReason;
    QString m_connectedTo; // "host:port" of the open connection, for error texts
    QStringList m_capabilities;
    bool m_pipelining = false; // the logged-in server announced PIPELINING
    // Message sizes from LIST, by number from 1; -1 where unknown. Empty without PIPELINING.
    std::vector<qsizetype> m_sizes;

    // The commands of the open session whose replies have not been read, in the order they go
    // out (without PIPELINING only the first has been sent), and the retrievals of the messages
    // after the current one, asked for ahead and not claimed yet, in order.
    std::deque<CommandPtr> m_queue;
    std::deque<CommandPtr> m_ahead;

    int m_messageCount = 0;
    int m_current = 0; // number of the current message, 0 for none
    QByteArray m_raw;
    JobPtr m_parse; // the parse of the current message, started when it came in
    ParsedMessage m_message;
    std::shared_ptr<const MessageAnalysis> m_analysis;
    bool m_parsed = false;
    MessageAnalyzer m_analyzer;
    // Messages no longer current, to be freed by the next parse on the worker.
    struct Discarded {
        QByteArray raw;
        JobPtr parse;
        ParsedMessage message;
        std::shared_ptr<const MessageAnalysis> analysis;
    };
    std::vector<Discarded> m_discarded;
    QString m_savedPath; // the file the last SaveMessage wrote
    RemovalNote m_pageNote; // for the next page
    // Pages written since the last flush to disk; flushed before QUIT.
    QStringList m_unsyncedPages;
    // Files made ahead for the pages, where the file system can make them (made on first use).
    std::unique_ptr<SpareFiles> m_spares;
    // One worker for parsing and for large pages: jobs run one after the other, in order.
    std::unique_ptr<QThreadPool> m_worker;

    // The DELE of the last DeleteMessage while its outcome may still be asked for.
    CommandPtr m_unsettledDelete;
    QDeadlineTimer m_unsettledDeadline;

    int m_error = NoError;
    QString m_errorString;

    QEventLoop* m_loop = nullptr;
    bool m_woken = false;
    bool m_busy = false;
};
