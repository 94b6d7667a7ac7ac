#include "config/listloaders.h"

#include "app/doevents.h"
#include "app/frmMain.h"
#include "app/twips.h"
#include "app/ubGrid.h"
#include "config/accountline.h"
#include "config/datafilenames.h"
#include "config/textfile.h"

#include <QLineEdit>
#include <QTabWidget>

namespace {
constexpr int kGridWidthTwips = 7545;

// The count box follows the rows; it is brought up to date whenever the window gets to
// process events, which is when anyone can see it.
void yieldShowingCount(QLineEdit* countBox, int rows) {
    if (!isYieldDue())
        return;
    // A list that has yielded no row yet leaves the box as stats.dat set it.
    if (rows > 0)
        countBox->setText(QString::number(rows));
    DoEvents();
}

void setUpGrid(ubGrid* grid, const QString& heading, const QList<int>& widths) {
    grid->setRedraw(false);
    grid->setHeadingtext(heading);
    grid->resize(twips(kGridWidthTwips), grid->height());
    grid->setCols(static_cast<int>(widths.size()));
    grid->setRows(0);
    for (int col = 1; col <= widths.size(); ++col)
        grid->setColwidth(col, widths.at(col - 1));
    DoEvents();
}

// The one-column lists: every line, the empty one included, is one entry, unchanged.
void loadOneColumnList(frmMain& form, ubGrid* grid, QLineEdit* countBox, const QString& file,
                       const QString& heading, bool redrawWhenFilled) {
    setUpGrid(grid, heading, {460});
    QStringList lines;
    if (readTextLines(form.pathInFolder(file), &lines)) {
        for (const QString& line : lines) {
            const int row = grid->rows() + 1;
            grid->setRows(row);
            grid->setCelltext(row, 1, line);
            yieldShowingCount(countBox, row);
        }
        if (grid->rows() > 0)
            countBox->setText(QString::number(grid->rows()));
    }
    if (redrawWhenFilled && grid->rows() > 0)
        grid->setRedraw(true);
}
} // namespace

void module_accountsgrid(frmMain& form) {
    form.SSTab1->setCurrentIndex(0);
    ubGrid* grid = form.gridAccounts;
    setUpGrid(grid, QStringLiteral(" Mail Server | User Login | Password "), {180, 160, 120});
    QStringList lines;
    if (readTextLines(form.pathInFolder(datafile::accounts()), &lines)) {
        for (const QString& line : lines) {
            yieldShowingCount(form.txtAccountsCount, grid->rows());
            // A malformed line is skipped rather than ending the load: stopping there would make
            // the next Update drop every account after it.
            AccountLine account;
            if (parseAccountLine(line, &account) != AccountLineStatus::Accepted)
                continue;
            const int row = grid->rows() + 1;
            grid->setRows(row);
            grid->setCelltext(row, 1, account.server);
            grid->setCelltext(row, 2, account.login);
            grid->setCelltext(row, 3, account.password);
        }
        if (grid->rows() > 0)
            form.txtAccountsCount->setText(QString::number(grid->rows()));
    }
    if (grid->rows() > 0)
        grid->setRedraw(true);
}

void module_whitelist(frmMain& form) {
    loadOneColumnList(form, form.gridwhitelist, form.txtwhitelistCount, datafile::whitelist(),
                      QStringLiteral("Email addresses below are not scanned for Spam."), true);
}

void module_blacklist(frmMain& form) {
    loadOneColumnList(form, form.gridblacklist, form.txtblacklistCount, datafile::blacklist(),
                      QStringLiteral("Email addresses below are always blocked."), false);
}

void module_keywords(frmMain& form) {
    loadOneColumnList(form, form.gridkeywords, form.txtkeywordsCount, datafile::keywords(),
                      QStringLiteral("Key words and phrases used in filtering."), false);
}
