#include "config/module_update_config.h"

#include "app/doevents.h"
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "config/accountline.h"
#include "config/datafilenames.h"
#include "config/statsio.h"
#include "config/textfile.h"
#include "config/ubGrid.h"

#include <QLabel>

namespace {
// Writes one grid's rows, showing "Updating <row> <what>." as it goes. The text is set when the
// window gets to show it (before a yield, and for the last row), not for every row.
void saveList(frmMain& form, ubGrid* grid, const QString& file, const QString& what,
              bool yieldPerRow, QFileDevice::Permissions permissions = {}) {
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
    writeTextLines(form.pathInFolder(file), lines, permissions);
}
} // namespace

void module_update_config(frmMain& form) {
    writeStatsFile(form);

    frmSplash& splash = form.splash();
    splash.show();
    splash.label->setText(QStringLiteral("Updating configuration data."));
    DoEvents();

    saveList(form, form.gridAccounts, datafile::accounts(), QStringLiteral("accounts"), true,
             QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    saveList(form, form.gridwhitelist, datafile::whitelist(), QStringLiteral("whitelist addresses"),
             false);
    saveList(form, form.gridblacklist, datafile::blacklist(), QStringLiteral("blacklist addresses"),
             false);
    saveList(form, form.gridkeywords, datafile::keywords(), QStringLiteral("keywords"), false);

    splash.hide();
}
