#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

// The freedesktop desktop entry format, as far as the program writes and reads it: the entry
// that starts the program with the user's session, and what a launcher or session manager makes
// of an Exec= line.
namespace desktopentry {

// One argument as it goes into an Exec= line: quoted in double quotes, with " ` $ and \ escaped
// by a backslash, when it holds a character the format reserves (a space, a quote, a backslash,
// ~ $ & ; and the like), and with every % doubled so that it is not taken for a field code.
QString execArgument(const QString& argument);

// The Exec= value for a command line: its arguments joined by spaces, each as execArgument
// gives it.
QString execCommand(const QStringList& arguments);

// A string value as it is written after "Key=": backslash, newline, tab and carriage return
// escaped, and a space at the start written as \s so that it is not taken for layout.
QString escapeValue(const QString& value);

// Undoes escapeValue: \s \n \t \r \\ become their characters; any other backslash is kept.
QString unescapeValue(const QString& value);

// The arguments a launcher runs for an Exec= value (already unescaped as a string value):
// quoting undone, %% made %, field codes (%f, %u, ...) dropped. Empty for a value that cannot
// be read (a quote left open; inside quotes a backslash before anything but " ` $ \, or a ` or $
// without one). Outside quotes only spaces and tabs count; other characters are taken as they
// stand.
QStringList execArguments(const QString& command);

// The keys of a file's [Desktop Entry] group with their values unescaped; localised keys
// (Name[de]) and other groups are left out. Lines are split at LF, a CR before it dropped.
QHash<QString, QString> readMainGroup(const QByteArray& bytes);

// The entry that runs command (the executable's full path first, then its options) when the
// user logs in. Written with LF line ends, in UTF-8.
QByteArray autostartEntry(const QStringList& command);

} // namespace desktopentry
