#include "config/module_update_config.h"

#include "app/doevents.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "app/msgbox.h"
#include "app/ubGrid.h"
#include "config/accountline.h"
#include "config/datafilenames.h"
#include "config/savefailures.h"
#include "config/statsio.h"
#include "config/textfile.h"

#include <QLabel>

namespace {
// Writes one grid's rows, showing "Updating <row> <what>." as it goes. The text is set when the
// window gets to show it (before a yield, and for the last row), not for every row. A file that
// could not be written is added to notSaved.
void saveList(frmMain& form, ubGrid* grid, const QString& file, const QString& what,
              bool yieldPerRow, QList<FileNotSaved>& notSaved,
              QFileDevice::Permissions permissions = {}) {
    QLabel* progress = form.splash().label;
    auto showProgress = [&](int row) {
        progress->setText(QStringLiteral("Updating ") + QString::number(row) + QLatin1Char(' ') +
                          what + QLatin1Char('.'));
    };
    const int rows = grid->rows();
    QStringList lines;
    lines.reserve(rows);
    for (int row = 1; row <= rows; ++row) {
        if (row == rows || (yieldPerRow && isYieldDue()))
            showProgress(row);
        if (yieldPerRow)
            DoEventsIfDue();
        if (grid->cols() >= 3)
            lines.append(formatAccountLine(grid->celltext(row, 1), grid->celltext(row, 2),
                                           grid->celltext(row, 3)));
        else
            lines.append(grid->celltext(row, 1));
    }
    QString reason;
    if (!writeTextLines(form.pathInFolder(file), lines, permissions, &reason))
        notSaved.append({file, reason});
}
} // namespace

void module_update_config(frmMain& form) {
    QList<FileNotSaved> notSaved;
    QString reason;
    if (!writeStatsFile(form, &reason))
        notSaved.append({datafile::stats(), reason});

    frmSplash& splash = form.splash();
    splash.show();
    splash.label->setText(QStringLiteral("Updating configuration data."));
    DoEvents();

    saveList(form, form.gridAccounts, datafile::accounts(), QStringLiteral("accounts"), true,
             notSaved, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    saveList(form, form.gridwhitelist, datafile::whitelist(), QStringLiteral("whitelist addresses"),
             false, notSaved);
    saveList(form, form.gridblacklist, datafile::blacklist(), QStringLiteral("blacklist addresses"),
             false, notSaved);
    saveList(form, form.gridkeywords, datafile::keywords(), QStringLiteral("keywords"), false,
             notSaved);

    splash.hide();
    // One box for the whole save: the edits are still in the window, so the user can make room
    // or fix the folder and press Update again.
    if (!notSaved.isEmpty())
        MsgBox(filesNotSavedText(notSaved), MsgBoxButtons::Ok, appTitle());
}
