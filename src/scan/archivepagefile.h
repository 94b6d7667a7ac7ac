#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

struct ParsedMessage;

// Writing the archive page of a message (see messagepage.h) to its file, and making the pages
// written durable.
//
// Pages are not written through QSaveFile, which flushes every file to disk before naming it:
// they are flushed once per mailbox, with one syncfs() for all of them before the log-out, not
// once per page.

// Writes the page to a new file beside path and renames it over path once it is complete, so the
// file is whole or not there at all; or, given an unnamed file made ahead in that folder (spare,
// see SpareFiles), writes it and names it path when path is free. Like stored mail, the page is
// for its owner only (read and write for the user). The spare is closed in every case. Nothing is
// flushed to disk here: see flushArchivePages().
// Returns the reason for a failure, empty on success.
QString writeArchivePage(const QString& path, const ParsedMessage& message, const QByteArray& raw,
                         int spare = -1);

// Makes the files (and their names in their folders) durable. On Linux one syncfs() per file
// system does it for all of them at the cost of one journal commit; elsewhere each file and folder
// is flushed in turn.
bool flushArchivePages(const QStringList& paths);
