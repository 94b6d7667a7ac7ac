#include "addressbook/modkWab.h"

#include "addressbook/vcardreader.h"

#include <QByteArray>
#include <QDir>
#include <QHash>
#include <QList>
#include <QString>

#include <algorithm>
#include <limits>
#include <map>

namespace {

// An opened address book: the entries as read when it was opened, and the batches of entry
// references handed out and not yet released (batch id -> number of references).
struct OpenBook {
    QList<VCardEntry> entries;
    QHash<quint32, qint32> batches;
};

std::map<quint32, OpenBook>& openBooks() {
    static std::map<quint32, OpenBook> books;
    return books;
}

// Ids of books and batches come from one counter, so that a reference from one book or batch
// never passes for another's. Zero is never used: it marks a closed handle.
quint32 newId() {
    static quint32 last = 0;
    do {
        ++last;
    } while (last == 0);
    return last;
}

QString& folderOverride() {
    static QString folder;
    return folder;
}

OpenBook* findBook(const WabHandle& handle) {
    auto& books = openBooks();
    const auto it = books.find(handle.book);
    return it == books.end() ? nullptr : &it->second;
}

// A reference is its batch id in the high half and the entry's position plus one in the low.
WabEntryRef makeRef(quint32 batch, qint32 index) {
    return WabEntryRef{(quint64(batch) << 32) | quint64(quint32(index) + 1)};
}

const VCardEntry* findEntry(const OpenBook& book, const WabEntryRef& ref) {
    const quint32 batch = quint32(ref.value >> 32);
    const qint64 position = qint64(ref.value & 0xFFFFFFFFu);
    const auto it = book.batches.constFind(batch);
    if (it == book.batches.cend() || position < 1 || position > it.value() ||
        position > book.entries.size())
        return nullptr;
    return &book.entries[position - 1];
}

// The longest start of text that fits in limit bytes without splitting a UTF-8 sequence.
QByteArray utf8Prefix(const QString& text, qsizetype limit) {
    QByteArray bytes = text.toUtf8();
    if (bytes.size() <= limit)
        return bytes;
    qsizetype cut = limit;
    // Back up while the first byte left out continues the character before it.
    while (cut > 0 && (uchar(bytes[cut]) & 0xC0) == 0x80)
        --cut;
    bytes.truncate(cut);
    return bytes;
}

} // namespace

QString addressBookFolder() {
    if (!folderOverride().isEmpty())
        return folderOverride();
    // Relative XDG paths are to be ignored by the desktop convention.
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty() || QDir::isRelativePath(dataHome))
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    return dataHome + QStringLiteral("/contacts");
}

void setAddressBookFolder(const QString& folder) {
    folderOverride() = folder;
}

qint32 kWabOpen(WabHandle& handle) {
    auto entries = vcard::readVCardFolder(addressBookFolder());
    if (!entries)
        return 0;
    const quint32 id = newId();
    openBooks()[id] = OpenBook{std::move(*entries), {}};
    handle = WabHandle{id, 0, 0};
    return 1;
}

qint32 kWabGetNumEntries(WabHandle& handle) {
    const OpenBook* book = findBook(handle);
    if (!book)
        return 0;
    return qint32(std::min<qsizetype>(book->entries.size(), std::numeric_limits<qint32>::max()));
}

qint32 kWabGetEntries(WabHandle& handle, std::span<WabEntryRef> entryRefs, qint32 n) {
    OpenBook* book = findBook(handle);
    if (!book || n <= 0)
        return 0;
    const qint32 count = qint32(
        std::min<qsizetype>({qsizetype(n), qsizetype(entryRefs.size()), book->entries.size()}));
    if (count <= 0)
        return 0;
    const quint32 batch = newId();
    book->batches.insert(batch, count);
    for (qint32 i = 0; i < count; ++i)
        entryRefs[size_t(i)] = makeRef(batch, i);
    return count;
}

qint16 kWabGetProp_String(WabHandle& handle, const WabEntryRef& entryRef, quint32 tag,
                          QByteArray& buffer, qint32 bufferSize, qint32 flags) {
    const OpenBook* book = findBook(handle);
    const qsizetype size = std::min<qsizetype>(bufferSize, buffer.size());
    if (!book || flags != 0 || size < 1)
        return 0;
    const VCardEntry* entry = findEntry(*book, entryRef);
    if (!entry)
        return 0;
    const std::optional<QString>* value = nullptr;
    if (tag == PR_DISPLAY_NAME_A)
        value = &entry->displayName;
    else if (tag == PR_EMAIL_ADDRESS_A)
        value = &entry->email;
    if (!value || !value->has_value())
        return 0;

    // At least one NUL must follow the text; the rest of the buffer is cleared so the result
    // holds even when the caller did not clear it.
    const QByteArray text = utf8Prefix(**value, size - 1);
    std::copy(text.cbegin(), text.cend(), buffer.begin());
    std::fill(buffer.begin() + text.size(), buffer.begin() + size, '\0');
    return 1;
}

void kWabFreeEntries(WabHandle& handle, std::span<WabEntryRef> entryRefs, qint32 n) {
    OpenBook* book = findBook(handle);
    if (!book || n <= 0 || entryRefs.empty())
        return;
    book->batches.remove(quint32(entryRefs.front().value >> 32));
    const size_t count = std::min(size_t(n), entryRefs.size());
    std::fill_n(entryRefs.begin(), count, WabEntryRef{});
}

void kWabClose(WabHandle& handle) {
    openBooks().erase(handle.book);
    handle = WabHandle{};
}

QString StripTrailingNuls(const QString& text) {
    qsizetype length = text.size();
    while (length > 0 && text[length - 1] == QChar(u'\0'))
        --length;
    return text.left(length);
}
