#pragma once

#include <QString>
#include <QStringList>

// What a start's command line asks for. Options: --help, --version, and --hidden, which the
// autostart entry passes so that a start with the session goes into the tray.
struct CommandLine {
    // False: the start ends at once with exitCode, after printing output on standard output and
    // error on standard error. Nothing is loaded, claimed or written.
    bool run = true;
    int exitCode = 0;
    QString output;
    QString error;
    // Start into the tray instead of opening the main window.
    bool hidden = false;
};

// The name of the option that starts into the tray ("hidden" for --hidden).
QString hiddenOptionName();

// The program's version as --version shows it.
QString programVersion();

// Reads arguments (the program as the first). Needs an application object: the help text names
// the program as it was started.
CommandLine readCommandLine(const QStringList& arguments);
