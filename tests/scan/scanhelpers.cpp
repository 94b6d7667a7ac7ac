#include "scanhelpers.h"

#include "app/frmMain.h"
#include "app/ubGrid.h"
#include "config/checkvalue.h"
#include "scan/pop3/messagepage.h"

#include <QLabel>
#include <QSaveFile>
#include <QTextDocument>

void MemoryMailbox::addAccount(const QString& server, const QString& user, const QString& password,
                               const QList<QByteArray>& messages) {
    addGeneratedAccount(server, user, password, int(messages.size()),
                        [messages](int n) { return messages.at(n - 1); });
}

void MemoryMailbox::addGeneratedAccount(const QString& server, const QString& user,
                                        const QString& password, int count, Generator message) {
    Account account;
    account.server = server;
    account.user = user;
    account.password = password;
    account.count = count;
    account.message = std::move(message);
    for (int index = 1; index <= count; ++index)
        account.present.append(index);
    m_accounts.append(std::move(account));
}

QByteArray MemoryMailbox::Account::messageAt(int index) const {
    return index <= count ? message(index) : delivered.at(index - count - 1);
}

MemoryMailbox::Account* MemoryMailbox::find(const QString& server, const QString& user) {
    for (Account& account : m_accounts) {
        if (account.server == server && account.user == user)
            return &account;
    }
    return nullptr;
}

const MemoryMailbox::Account* MemoryMailbox::find(const QString& server,
                                                  const QString& user) const {
    return const_cast<MemoryMailbox*>(this)->find(server, user);
}

void MemoryMailbox::setUniqueIds(const QString& server, const QString& user, Identifier id) {
    Account* account = find(server, user);
    Q_ASSERT(account);
    account->id = id ? std::move(id)
                     : [](int index) -> QByteArray { return "uid-" + QByteArray::number(index); };
}

void MemoryMailbox::deliver(const QString& server, const QString& user,
                            const QList<QByteArray>& messages) {
    Account* account = find(server, user);
    Q_ASSERT(account);
    for (const QByteArray& raw : messages) {
        account->delivered.append(raw);
        account->present.append(account->count + int(account->delivered.size()));
    }
}

void MemoryMailbox::expunge(const QString& server, const QString& user, int number) {
    Account* account = find(server, user);
    Q_ASSERT(account && number >= 1 && number <= account->present.size());
    account->present.removeAt(number - 1);
}

QList<QByteArray> MemoryMailbox::messagesLeft(const QString& server, const QString& user) const {
    QList<QByteArray> left;
    if (const Account* account = find(server, user)) {
        for (const int index : account->present)
            left.append(account->messageAt(index));
    }
    return left;
}

int MemoryMailbox::fetchCount() const {
    return int(std::count_if(m_calls.cbegin(), m_calls.cend(), [](const QString& call) {
        return call.startsWith(QLatin1String("FetchMessage "));
    }));
}

QList<QByteArray> MemoryMailbox::uniqueIds() const {
    QList<QByteArray> ids;
    if (!m_open || !m_open->id)
        return ids;
    for (const int index : m_open->present)
        ids.append(m_open->id(index));
    return ids;
}

void MemoryMailbox::planFetches(const QList<int>& numbers) {
    m_planned = numbers;
    m_fetchesPlanned = true;
}

QList<int> MemoryMailbox::removed(const QString& server) const {
    for (const Account& account : m_accounts) {
        if (account.server == server)
            return account.removed;
    }
    return {};
}

void MemoryMailbox::log(const QString& call) {
    m_calls.append(call);
    if (onCall)
        onCall(call);
}

void MemoryMailbox::Connect() {
    log(QStringLiteral("Connect ") + m_hostname);
    m_open = nullptr;
    m_current = 0;
    m_parsed = {};
    m_analysis = nullptr;
    m_planned.clear();
    m_fetchesPlanned = false;
    for (Account& account : m_accounts) {
        if (account.server == m_hostname && account.user == m_username &&
            account.password == m_password) {
            account.marked.clear();
            m_open = &account;
        }
    }
    m_error = m_open ? NoError : LoginRefused;
}

int MemoryMailbox::MessageCount() const {
    return m_open ? int(m_open->present.size()) : 0;
}

void MemoryMailbox::FetchMessage(int n) {
    log(QStringLiteral("FetchMessage %1").arg(n));
    m_current = 0;
    m_parsed = {};
    m_analysis = nullptr;
    if (!m_open) {
        m_error = NotConnected;
        return;
    }
    if (n < 1 || n > m_open->present.size() || m_failingFetches.contains(n)) {
        m_error = CommandRefused;
        return;
    }
    m_current = n;
    m_raw = m_open->messageAt(m_open->present.at(n - 1));
    m_fetched = parseMessage(m_raw);
    // As the real component does on its worker once a message is in.
    m_fetchedAnalysis = m_analyzer ? m_analyzer(m_fetched) : nullptr;
    if (m_analyzer)
        ++m_analysed;
    m_error = NoError;
}

void MemoryMailbox::CompleteFetch() {
    log(QStringLiteral("CompleteFetch"));
    if (m_current == 0) {
        m_error = NoCurrentMessage;
        return;
    }
    m_parsed = m_fetched;
    m_analysis = m_fetchedAnalysis;
    m_error = NoError;
}

void MemoryMailbox::SaveMessage(const QString& path) {
    log(QStringLiteral("SaveMessage ") + path);
    m_savedPath.clear();
    QSaveFile file(path);
    // The note is for this page only, as in the component.
    const RemovalNote note = std::exchange(m_pageNote, {});
    if (m_current == 0 || m_failSaves || !file.open(QIODevice::WriteOnly) ||
        !writeMessagePage(file, m_fetched, m_raw, note) || !file.commit()) {
        m_error = FileWriteFailed;
        return;
    }
    m_savedPath = path;
    m_error = NoError;
}

void MemoryMailbox::DeleteMessage() {
    log(QStringLiteral("DeleteMessage %1").arg(m_current));
    if (!m_open || m_current == 0) {
        m_error = NoCurrentMessage;
        return;
    }
    m_open->marked.insert(m_current);
    m_error = NoError;
}

void MemoryMailbox::Disconnect() {
    log(QStringLiteral("Disconnect"));
    if (m_open) {
        QList<int> marked(m_open->marked.cbegin(), m_open->marked.cend());
        std::sort(marked.begin(), marked.end());
        m_open->removed += marked;
        m_open->marked.clear();
        for (auto it = marked.crbegin(); it != marked.crend(); ++it)
            m_open->present.removeAt(*it - 1);
    }
    m_open = nullptr;
    m_current = 0;
    m_error = NoError;
}

NoticeRecorder::NoticeRecorder(const frmMain& form) {
    setMsgBoxHandler([this, &form](const MsgBoxRequest& request) {
        notices.append({request, form.Label17->text()});
        if (whileOpen)
            whileOpen();
        return MsgBoxAnswer::Ok;
    });
}

NoticeRecorder::~NoticeRecorder() {
    setMsgBoxHandler({});
}

QStringList NoticeRecorder::texts() const {
    QStringList result;
    for (const Notice& notice : notices)
        result.append(notice.box.text);
    return result;
}

QByteArray mailMessage(const QByteArray& from, const QByteArray& subject, const QByteArray& body,
                       const QByteArray& received) {
    QByteArray raw;
    if (!received.isEmpty())
        raw += "Received: " + received + "\r\n";
    raw += "From: " + from + "\r\nTo: me@home.example\r\nSubject: " + subject +
           "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n" + body;
    return raw;
}

QString shownText(const QString& tooltip) {
    if (!Qt::mightBeRichText(tooltip))
        return tooltip.simplified();
    QTextDocument document;
    document.setHtml(tooltip);
    return document.toPlainText().simplified();
}

void fillGrid(ubGrid* grid, const QStringList& entries) {
    grid->setRedraw(false);
    grid->clearrows();
    for (const QString& entry : entries)
        grid->addrow(entry);
    grid->setRedraw(true);
}

const QString ScanWindow::kServer = QStringLiteral("pop.home.example");
const QString ScanWindow::kUser = QStringLiteral("me");
const QString ScanWindow::kPassword = QStringLiteral("secret-9");

ScanWindow::ScanWindow(bool inMemory)
    : window(std::make_unique<frmMain>(folder.path()))
    , form(*window) {
    if (!inMemory)
        return;
    auto mailbox = std::make_unique<MemoryMailbox>();
    pop = mailbox.get();
    form.replaceMailbox(std::move(mailbox));
}

ScanWindow::~ScanWindow() = default;

void ScanWindow::account(const QList<QByteArray>& messages) {
    pop->addAccount(kServer, kUser, kPassword, messages);
    addAccountRow(kServer, kUser, kPassword);
}

void ScanWindow::addAccountRow(const QString& server, const QString& user,
                               const QString& password) {
    form.gridAccounts->setCols(3);
    form.gridAccounts->addrow(server);
    const int row = form.gridAccounts->rows();
    form.gridAccounts->setCelltext(row, 2, user);
    form.gridAccounts->setCelltext(row, 3, password);
}

void ScanWindow::switches(int white, int black, int spamcop, int keywords) {
    setCheckValue(form.checkwhitelist, white);
    setCheckValue(form.checkblacklist, black);
    setCheckValue(form.checkspamcop, spamcop);
    setCheckValue(form.checkkeywords, keywords);
}
