#pragma once

#include <QFileDevice>
#include <QStringList>

// Reading and writing the program's line-oriented text files.
//
// Files are written in UTF-8 with CR LF after every line, the last one included; an empty list
// is a file of zero bytes. Reading accepts CR LF, LF or CR as the line end, and a last line
// without one. A line that is not valid UTF-8 (a file written by a Windows program) is read as
// Windows-1252, so its characters survive instead of becoming replacement characters.

// Reads all lines of a file. Returns false when the file cannot be opened or read; a missing
// file is such a failure.
bool readTextLines(const QString& path, QStringList* lines);

// Splits file contents into lines by the rules above.
QStringList splitTextLines(const QByteArray& bytes);

// The bytes of a file holding these lines.
QByteArray joinTextLines(const QStringList& lines);

// Writes the lines to a temporary file in the same folder and renames it over the old file
// only when it is complete, so a crash or a full disk never leaves a truncated file. When
// permissions are given, the file gets exactly those (a file holding passwords is made
// readable by its owner only). Returns false on any failure (the folder or the file refused, the
// disk full, the rename refused); the old file then stays as it was, and reason, when given,
// says why in the system's words ("Permission denied", "No space left on device").
bool writeTextLines(const QString& path, const QStringList& lines,
                    QFileDevice::Permissions permissions = {}, QString* reason = nullptr);

// Writes bytes as they are, in the same safe way as writeTextLines (which uses it), for files
// whose line ends other programs prescribe.
bool writeFileAtomically(const QString& path, const QByteArray& bytes,
                         QFileDevice::Permissions permissions = {}, QString* reason = nullptr);
