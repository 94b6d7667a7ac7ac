#include "config/savefailures.h"

QString filesNotSavedText(const QList<FileNotSaved>& files) {
    QString list;
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (i > 0)
            list += QStringLiteral(", ");
        list += files.at(i).name;
        const bool lastOfRun =
            i + 1 == files.size() || files.at(i + 1).reason != files.at(i).reason;
        if (lastOfRun && !files.at(i).reason.isEmpty())
            list += QStringLiteral(" (") + files.at(i).reason + QLatin1Char(')');
    }
    return QStringLiteral("These files could not be saved: ") + list +
           QStringLiteral(". The files as they were before are unchanged.");
}

QString statsNotSavedNotice(const QString& reason) {
    return QStringLiteral(" - counters not saved to stats.dat: ") + reason;
}
