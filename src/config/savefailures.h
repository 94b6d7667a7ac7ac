#pragma once

#include <QList>
#include <QString>

// A data file that a save could not write, and why, in the system's words ("Permission denied").
struct FileNotSaved {
    QString name;
    QString reason;
};

// The text of the one box that follows a save in which files could not be written. The files
// come in the order they were written, and each reason follows the run of files it applies to.
QString filesNotSavedText(const QList<FileNotSaved>& files);

// What a scan pass puts after its closing text when stats.dat could not be written. Short: the
// status line holds one line, and the closing text fills half of it.
QString statsNotSavedNotice(const QString& reason);
