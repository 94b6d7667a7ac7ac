#pragma once

#include "scan/pop3/messagepage.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

struct ParsedMessage;

// Writing the archive page of a message (see messagepage.h) to its file, and making the pages
// written durable. An earlier archive is never replaced: a page whose name is taken by the time
// it is written gets the next free name of the archive numbering (see nextArchiveFilePath).
//
// Pages are not written through QSaveFile, which flushes every file to disk before naming it
// (and names it over whatever is there): they are flushed once per mailbox, with one syncfs() for
// all of them before the log-out, not once per page.

// Where a page went.
struct SavedPage {
    QString path;    // the file written: the path asked for, or the next free name after it
    QString failure; // why no file was written; empty on success
};

// Writes the page to a new file beside path and gives it its name once it is complete, so the
// file is whole or not there at all. Like stored mail, the page is for its owner only (read and
// write for the user). Nothing is flushed to disk here: see flushArchivePages(). The note says
// on the page why the message was removed.
SavedPage writeArchivePage(const QString& path, const ParsedMessage& message, const QByteArray& raw,
                           const RemovalNote& note = {});

// Makes the files (and their names in their folders) durable: each file and folder flushed in
// turn, or, for many pages on Linux, one syncfs() of their file system at the cost of one journal
// commit.
bool flushArchivePages(const QStringList& paths);

// Gives the file from the name to, in one step, when nothing is under that name: false with errno
// EEXIST when something is, and the file keeps its old name. Uses renameat2(RENAME_NOREPLACE);
// where the system or the file system cannot do that, linkNoReplace().
bool renameNoReplace(const QString& from, const QString& to);

// The same with a second name (link()) and then the first one removed: never in the place of a
// file either, but for a moment under both names.
bool linkNoReplace(const QString& from, const QString& to);
