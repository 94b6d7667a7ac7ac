#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The public mail corpus fetched by scripts/fetch-corpus into the user's cache. Only the folders
// "spam-1" and "easy-ham-1" are used.
namespace corpus {

// The folder holding the message folders, or an empty string when the corpus is not there.
QString dataFolder();

// The raw message files of one folder, sorted by name; empty when the corpus is missing.
QStringList messageFiles(const QString& folder);

// One message of the corpus: the bytes of its file without the mbox "From " separator line the
// file starts with, which is not part of the message.
QByteArray readMessage(const QString& path);

// The message without a leading mbox "From " separator line (unchanged when there is none).
QByteArray stripMboxFromLine(const QByteArray& raw);

// The text to give QSKIP when the corpus is missing.
inline constexpr char kMissing[] =
    "the mail corpus is not in the cache; run scripts/fetch-corpus to fetch it";

} // namespace corpus
