#pragma once

#include "app/msgbox.h"
#include "scan/pop3/parsedmessage.h"
#include "scan/pop3/pop3error.h"
#include "scan/pop3/pop3mailbox.h"
#include "support/tempfolder.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QStringList>

#include <functional>
#include <memory>

class frmMain;
class ubGrid;

// A mailbox in memory that stands in for the POP3 component: accounts with their messages, the
// calls the scan made, and what was left after its log-out. Messages are parsed by the
// component's own parser, and analysed as it does, so the scan sees what it would see from a
// server.
//
// Like a server, it carries out the deletions at the log-out: the messages marked leave the
// account and the rest are numbered afresh for the next session. An account may give its messages
// unique ids, which stay with them.
class MemoryMailbox : public Pop3Mailbox {
public:
    using Generator = std::function<QByteArray(int number)>;
    using Identifier = std::function<QByteArray(int index)>;

    // An account that logs in with exactly these three cells.
    void addAccount(const QString& server, const QString& user, const QString& password,
                    const QList<QByteArray>& messages);
    // The same with `count` messages made on demand, for mailboxes too big to hold.
    void addGeneratedAccount(const QString& server, const QString& user, const QString& password,
                             int count, Generator message);
    // The account's messages get unique ids: the message added as the index-th (from 1) gets
    // id(index); "uid-<index>" when no identifier is given. An empty id counts as one in doubt.
    void setUniqueIds(const QString& server, const QString& user, Identifier id = {});
    // New messages arrive in the account, after those there.
    void deliver(const QString& server, const QString& user, const QList<QByteArray>& messages);
    // Message number n leaves the account, as when another program removes it.
    void expunge(const QString& server, const QString& user, int number);
    // The messages in the account now, in order.
    QList<QByteArray> messagesLeft(const QString& server, const QString& user) const;
    // The numbers planFetches gave last, and whether it was called since the last Connect.
    QList<int> plannedFetches() const { return m_planned; }
    bool fetchesPlanned() const { return m_fetchesPlanned; }
    // How many FetchMessage calls there were.
    int fetchCount() const;
    // Fetching this message number fails in every account.
    void failFetchOf(int number) { m_failingFetches.insert(number); }
    // Archive writes fail.
    void failSaves() { m_failSaves = true; }

    // Run at the start of every call, with the call as logged.
    std::function<void(const QString& call)> onCall;
    // Every call: "Connect <server>", "FetchMessage <n>", "CompleteFetch", "SaveMessage <path>",
    // "DeleteMessage <n>", "Disconnect". Reads are not logged.
    QStringList calls() const { return m_calls; }
    int count(const QString& call) const { return int(m_calls.count(call)); }
    // The numbers removed from the account at its log-outs, in order.
    QList<int> removed(const QString& server) const;
    // The current message as fetched.
    const QByteArray& rawMessage() const { return m_raw; }
    // How many messages the analyzer has looked at.
    int analysed() const { return m_analysed; }

    void setPophostname(const QString& hostname) override { m_hostname = hostname; }
    void setPopusername(const QString& username) override { m_username = username; }
    void setPoppassword(const QString& password) override { m_password = password; }
    void Connect() override;
    int ErrorCode() override { return m_error; }
    // No server, so no server's words.
    QString errorString() override { return QString(); }
    int MessageCount() const override;
    QList<QByteArray> uniqueIds() const override;
    void planFetches(const QList<int>& numbers) override;
    void FetchMessage(int n) override;
    void CompleteFetch() override;
    QString Sender() const override { return m_parsed.sender; }
    QString Subject() const override { return m_parsed.subject; }
    QString Body() const override { return m_parsed.body; }
    QString HeaderValue(const QString& name) const override { return m_parsed.header(name); }
    void SaveMessage(const QString& path) override;
    QString savedPath() const override { return m_savedPath; }
    void setPageNote(const RemovalNote& note) override { m_pageNote = note; }
    void DeleteMessage() override;
    void Disconnect() override;
    void setAnalyzer(MessageAnalyzer analyzer) override { m_analyzer = std::move(analyzer); }
    std::shared_ptr<const MessageAnalysis> analysis() const override { return m_analysis; }

private:
    struct Account {
        QString server;
        QString user;
        QString password;
        int count = 0;
        Generator message;
        QList<QByteArray> delivered; // after the `count` generated ones
        Identifier id;
        // The messages in the account, as indexes of the messages added (from 1), by number.
        QList<int> present;
        QSet<int> marked;
        QList<int> removed;
        QByteArray messageAt(int index) const;
    };
    void log(const QString& call);
    Account* find(const QString& server, const QString& user);
    const Account* find(const QString& server, const QString& user) const;

    QString m_hostname;
    QString m_username;
    QString m_password;
    QList<Account> m_accounts;
    Account* m_open = nullptr;
    QSet<int> m_failingFetches;
    bool m_failSaves = false;
    int m_current = 0;
    QList<int> m_planned;
    bool m_fetchesPlanned = false;
    QByteArray m_raw;
    ParsedMessage m_fetched;
    ParsedMessage m_parsed;
    MessageAnalyzer m_analyzer;
    std::shared_ptr<const MessageAnalysis> m_fetchedAnalysis;
    std::shared_ptr<const MessageAnalysis> m_analysis;
    int m_analysed = 0;
    QString m_savedPath;
    RemovalNote m_pageNote;
    int m_error = 0;
    QStringList m_calls;
};

// Answers every message box with OK and records it with the status line as it stood while the
// box was open. `whileOpen` runs while a box is open, as a user's click or a timer would.
class NoticeRecorder {
public:
    explicit NoticeRecorder(const frmMain& form);
    ~NoticeRecorder();
    NoticeRecorder(const NoticeRecorder&) = delete;
    NoticeRecorder& operator=(const NoticeRecorder&) = delete;

    struct Notice {
        MsgBoxRequest box;
        QString status;
    };
    QList<Notice> notices;
    QStringList texts() const;
    std::function<void()> whileOpen;
};

// A message with the given header fields (CRLF line ends).
QByteArray mailMessage(const QByteArray& from, const QByteArray& subject,
                       const QByteArray& body = "Hello.\r\n",
                       const QByteArray& received = QByteArray());

// The text a tooltip shows the user, plain or rich, with one space for each run of blanks and
// line breaks.
QString shownText(const QString& tooltip);

// Replaces the grid's rows by one row per entry.
void fillGrid(ubGrid* grid, const QStringList& entries);

// A main window in a fresh program folder with a MemoryMailbox in place of its POP3 component,
// or with its own component when `inMemory` is false (pop is then null).
struct ScanWindow {
    explicit ScanWindow(bool inMemory = true);
    ~ScanWindow();
    ScanWindow(const ScanWindow&) = delete;
    ScanWindow& operator=(const ScanWindow&) = delete;

    // The account row of the one mailbox most tests use.
    static const QString kServer;
    static const QString kUser;
    static const QString kPassword;

    // An account row for kServer that logs in to these messages.
    void account(const QList<QByteArray>& messages);
    void addAccountRow(const QString& server, const QString& user, const QString& password);
    // The four filter boxes: whitelist, blacklist, address check, keywords.
    void switches(int white, int black, int spamcop, int keywords);

    TempFolder folder;
    std::unique_ptr<frmMain> window;
    frmMain& form;
    MemoryMailbox* pop = nullptr;
};
