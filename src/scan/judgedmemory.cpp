#include "scan/judgedmemory.h"

#include "config/textfile.h"
#include "scan/pop3/pop3uniqueids.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

namespace {

const QByteArray kFirstLine = "corvanta judged messages 1";
const QByteArray kCheck = "check ";
const QByteArray kAccount = "account";
// Far more than 32,767 messages of ids of 70 characters take, for every account of a long list;
// a file beyond it is not one this program wrote.
constexpr qint64 kMaxFileSize = 256 * 1024 * 1024;
constexpr qsizetype kFingerprintLength = 64;

// Every character but letters, digits and "._~" is encoded, "-" included, so that "-" alone can
// stand for an empty text and no field holds a blank.
QByteArray encodeField(const QString& text) {
    return text.isEmpty() ? QByteArray("-") : text.toUtf8().toPercentEncoding({}, "-");
}

std::optional<QString> decodeField(QByteArrayView field) {
    if (field == "-")
        return QString();
    const bool plain = std::all_of(field.begin(), field.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '_' || c == '~' || c == '%';
    });
    if (field.isEmpty() || !plain)
        return std::nullopt;
    const QByteArray bytes = QByteArray::fromPercentEncoding(field.toByteArray());
    const QString text = QString::fromUtf8(bytes);
    // Only the one way of writing it: what format() makes of the text again.
    if (encodeField(text) != field)
        return std::nullopt;
    return text;
}

bool isHexDigits(QByteArrayView text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// A count of keyword checks: plain decimal digits.
std::optional<quint32> parseCount(QByteArrayView text) {
    if (text.isEmpty() || text.size() > 9 || (text.size() > 1 && text.startsWith('0')) ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return quint32(text.toUInt());
}

QByteArray checkLine(QByteArrayView before) {
    return kCheck + QCryptographicHash::hash(before, QCryptographicHash::Sha256).toHex() + "\r\n";
}

} // namespace

JudgedMemory::JudgedMemory(QString path)
    : m_path(std::move(path)) {}

JudgedMemory::Loaded JudgedMemory::load() {
    m_accounts.clear();
    m_changed = false;
    QFile file(m_path);
    if (!file.exists())
        return Loaded::Missing;
    if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileSize)
        return Loaded::Damaged;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return Loaded::Damaged;
    std::optional<JudgedAccounts> accounts = parse(bytes);
    if (!accounts)
        return Loaded::Damaged;
    m_accounts = std::move(*accounts);
    return Loaded::Read;
}

bool JudgedMemory::save(QString* reason) {
    if (!m_changed || (m_accounts.empty() && !QFileInfo::exists(m_path)))
        return true;
    // Which accounts the user has is nobody else's business.
    if (!writeFileAtomically(m_path, format(m_accounts),
                             QFileDevice::ReadOwner | QFileDevice::WriteOwner, reason))
        return false;
    m_changed = false;
    return true;
}

const JudgedAccount* JudgedMemory::find(const QString& server, const QString& login) const {
    const auto found = m_accounts.find({server, login});
    return found == m_accounts.end() ? nullptr : &found->second;
}

void JudgedMemory::remember(const QString& server, const QString& login, JudgedAccount account) {
    const JudgedAccountKey key{server, login};
    const auto found = m_accounts.find(key);
    if (account.kept.isEmpty()) {
        if (found != m_accounts.end()) {
            m_accounts.erase(found);
            m_changed = true;
        }
        return;
    }
    if (found != m_accounts.end() && found->second == account)
        return;
    m_accounts.insert_or_assign(key, std::move(account));
    m_changed = true;
}

void JudgedMemory::keepOnly(const QList<JudgedAccountKey>& accounts) {
    for (auto it = m_accounts.begin(); it != m_accounts.end();) {
        if (accounts.contains(it->first)) {
            ++it;
            continue;
        }
        it = m_accounts.erase(it);
        m_changed = true;
    }
}

QByteArray JudgedMemory::format(const JudgedAccounts& accounts) {
    QByteArray bytes = kFirstLine + "\r\n";
    for (const auto& [key, account] : accounts) {
        if (account.kept.isEmpty())
            continue;
        bytes += kAccount + ' ' + encodeField(key.first) + ' ' + encodeField(key.second) + ' ' +
                 account.fingerprint + "\r\n";
        // In order, so that the same memory is always the same file.
        QList<QByteArray> ids = account.kept.keys();
        std::sort(ids.begin(), ids.end());
        for (const QByteArray& id : std::as_const(ids))
            bytes += id + ' ' + QByteArray::number(account.kept.value(id)) + "\r\n";
    }
    return bytes + checkLine(bytes);
}

std::optional<JudgedAccounts> JudgedMemory::parse(const QByteArray& bytes) {
    // The check line is the last; everything before it must digest to what it says.
    if (!bytes.endsWith("\r\n"))
        return std::nullopt;
    const qsizetype checkStart = bytes.lastIndexOf("\r\n", bytes.size() - 3) + 2;
    if (checkStart < 2)
        return std::nullopt;
    const QByteArrayView body = QByteArrayView(bytes).first(checkStart);
    if (QByteArrayView(bytes).sliced(checkStart) != checkLine(body))
        return std::nullopt;

    JudgedAccounts accounts;
    JudgedAccount* current = nullptr;
    bool first = true;
    qsizetype start = 0;
    while (start < body.size()) {
        const qsizetype end = body.indexOf("\r\n", start);
        if (end < 0)
            return std::nullopt;
        const QByteArrayView line = body.sliced(start, end - start);
        start = end + 2;
        if (first) {
            if (line != kFirstLine)
                return std::nullopt;
            first = false;
            continue;
        }
        // An account line has four fields, a message line two: an id may be "account" too.
        const QList<QByteArray> fields = line.toByteArray().split(' ');
        if (fields.size() == 4 && fields[0] == kAccount) {
            if (fields[3].size() != kFingerprintLength || !isHexDigits(fields[3]))
                return std::nullopt;
            const std::optional<QString> server = decodeField(fields[1]);
            const std::optional<QString> login = decodeField(fields[2]);
            if (!server || !login || (current && current->kept.isEmpty()))
                return std::nullopt;
            const auto [entry, inserted] = accounts.try_emplace({*server, *login});
            if (!inserted)
                return std::nullopt;
            current = &entry->second;
            current->fingerprint = fields[3];
            continue;
        }
        if (!current || fields.size() != 2)
            return std::nullopt;
        const std::optional<quint32> checks = parseCount(fields[1]);
        if (!isValidUniqueId(fields[0]) || !checks || current->kept.contains(fields[0]))
            return std::nullopt;
        current->kept.insert(fields[0], *checks);
    }
    if (first || (current && current->kept.isEmpty()))
        return std::nullopt;
    return accounts;
}
