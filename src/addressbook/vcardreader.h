#pragma once

#include <QList>
#include <QString>

#include <optional>

class QByteArray;

// What the address book keeps of one contact card.
// A card that could not be read (no END, garbage lines, binary junk, an over-long line, a file
// too big or unreadable) is still an entry, with neither a display name nor an address, so that
// the user learns about it and the cards around it are unaffected.
struct VCardEntry {
    std::optional<QString> displayName; // FN; absent when the card has none or is malformed
    std::optional<QString> email;       // preferred or first non-empty EMAIL
    bool malformed = false;
};

namespace vcard {

// Bounds on what is read. A .vcf file larger than maxFileSize, or a card line (after unfolding)
// longer than maxLineLength, counts as one malformed entry. The line bound leaves room for
// inline photos, the only long values real cards carry.
inline constexpr qint64 maxFileSize = 16 * 1024 * 1024;
inline constexpr qsizetype maxLineLength = 4 * 1024 * 1024;
// Subfolders deeper than this below the contacts folder are not visited.
inline constexpr int maxFolderDepth = 16;

// The cards of one file's content, in file order: versions 2.1, 3.0 and 4.0.
QList<VCardEntry> parseVCards(const QByteArray& data);

// The cards of one file; a file that cannot be read or is too big gives one malformed entry.
QList<VCardEntry> readVCardFile(const QString& path);

// The cards of every *.vcf file in the folder and its subfolders: the folder's own files by
// name, then each subfolder by name. Empty when the folder is missing or cannot be listed.
std::optional<QList<VCardEntry>> readVCardFolder(const QString& folder);

} // namespace vcard
