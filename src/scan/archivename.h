#pragma once

#include <QString>

// Where a removed spam message is archived: one file per message in the `SpamDeleted` folder of
// the program folder, named after the message's subject.

// The archive folder of a program folder.
QString spamArchiveFolder(const QString& programFolder);

// Creates the archive folder when it is missing. True when it is there as a folder afterwards.
bool ensureArchiveFolder(const QString& folder);

// The file name for a subject, without the folder: the subject made safe as a file name, then
// " (copy)" when copy is 2 or more, then ".html", at most 248 bytes in UTF-8 (so that it and the
// temporary file it is written through fit the usual 255-byte limit).
QString archiveFileName(const QString& subject, int copy = 1);

// The full path of a file in the folder, named after the subject, that does not exist yet: the
// first free one of archiveFileName(subject, 1), (subject, 2), ... so an earlier archive is
// never overwritten. Empty when no free name was found.
QString archiveFilePath(const QString& folder, const QString& subject);

// For a name taken after archiveFilePath chose it (another copy of the program archiving the same
// subject, a file put there meanwhile): the first free name after it in the same numbering and
// folder, "Offer (2).html" after "Offer.html", "Offer (3).html" after "Offer (2).html", or later
// ones where those are taken too. A name that does not end in ".html" is numbered at its end.
// Empty when no free name was found.
QString nextArchiveFilePath(const QString& takenPath);
