#pragma once

#include <QtGlobal>

#include <span>

class QByteArray;
class QString;

// The address-book interface the whitelist import uses: open the user's address book, list its
// entries and read one text property of an entry at a time. The address book is the folder of
// vCard files that desktop contact tools keep (see addressBookFolder()); it is read once, when
// it is opened. One entry per card: its display name (FN) and its preferred or first EMAIL.
//
// Everything runs on the user-interface thread; the functions are not meant to be called from
// several threads at once.

// Tags of the two properties an entry offers, as 8-bit text.
inline constexpr quint32 PR_DISPLAY_NAME_A = 0x3001001E;
inline constexpr quint32 PR_EMAIL_ADDRESS_A = 0x3003001E;

// Size of the property buffer the caller passes.
inline constexpr qint32 kWabPropBufferSize = 256;

// The caller zeroes the handle before kWabOpen and passes it by reference afterwards; it never
// looks inside.
struct WabHandle {
    quint32 book = 0;
    quint32 reserved1 = 0;
    quint32 reserved2 = 0;
};

// One entry, opaque to the caller. Valid from kWabGetEntries to kWabFreeEntries or kWabClose.
struct WabEntryRef {
    quint64 value = 0;
};
static_assert(sizeof(WabEntryRef) == 8);

// Non-zero when the address book is open; zero when its folder is missing or unreadable.
qint32 kWabOpen(WabHandle& handle);

// The number of entries of the open address book (0 for a handle that is not open).
qint32 kWabGetNumEntries(WabHandle& handle);

// Writes references to the first entries into entryRefs, at most n and at most
// entryRefs.size(), and returns how many it wrote.
qint32 kWabGetEntries(WabHandle& handle, std::span<WabEntryRef> entryRefs, qint32 n);

// Reads one property of an entry into buffer as UTF-8 text followed by NUL bytes up to
// min(bufferSize, buffer.size()) bytes; the text is cut at a character boundary so that at
// least one NUL follows it. Non-zero on success; zero, leaving the buffer alone, when the entry
// does not have the property, the tag is unknown, or the handle or reference is not valid.
// flags is reserved and must be 0.
qint16 kWabGetProp_String(WabHandle& handle, const WabEntryRef& entryRef, quint32 tag,
                          QByteArray& buffer, qint32 bufferSize, qint32 flags);

// Releases the references kWabGetEntries wrote, and zeroes them.
void kWabFreeEntries(WabHandle& handle, std::span<WabEntryRef> entryRefs, qint32 n);

// Closes the address book (releasing any references still held) and zeroes the handle.
void kWabClose(WabHandle& handle);

// The folder the address book is read from: the one set by setAddressBookFolder(), else
// $XDG_DATA_HOME/contacts, else ~/.local/share/contacts.
QString addressBookFolder();
// Sets the folder read by later kWabOpen calls; an empty string goes back to the default.
void setAddressBookFolder(const QString& folder);

// Removes NUL characters from the end of text; any other character, a space included, stops it.
QString StripTrailingNuls(const QString& text);
