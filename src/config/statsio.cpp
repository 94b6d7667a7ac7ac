#include "config/statsio.h"

#include "app/frmMain.h"
#include "config/checkvalue.h"
#include "config/datafilenames.h"
#include "config/textfile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

void readStatsFile(frmMain& form) {
    QStringList lines;
    if (!readTextLines(form.pathInFolder(datafile::stats()), &lines))
        return;
    QLineEdit* const textBoxes[] = {form.txtAccountsCount,      form.txtwhitelistCount,
                                    form.txtblacklistCount,     form.txtkeywordsCount,
                                    form.txtEmailsBlockedCount, form.txttotalemailsever};
    int line = 0;
    for (QLineEdit* box : textBoxes) {
        if (line >= lines.size())
            return;
        box->setText(lines.at(line++));
    }
    // Line 7 goes through the box's change handler, which may start automatic scanning; it runs
    // before line 8 is applied and so still sees the interval the box had.
    auto applyCheck = [&](QCheckBox* box) {
        if (line >= lines.size())
            return false;
        const std::optional<int> value = parseCheckLine(lines.at(line++));
        if (!value)
            return false;
        setCheckValue(box, *value);
        return true;
    };
    if (!applyCheck(form.checkautoscan))
        return;
    if (line >= lines.size())
        return;
    form.combominutes->setEditText(lines.at(line++));
    for (QCheckBox* box :
         {form.checkwhitelist, form.checkblacklist, form.checkspamcop, form.checkkeywords}) {
        if (!applyCheck(box))
            return;
    }
}

StatsValues statsFromWindow(const frmMain& form) {
    StatsValues values;
    values.accountsCount = form.txtAccountsCount->text();
    values.whitelistCount = form.txtwhitelistCount->text();
    values.blacklistCount = form.txtblacklistCount->text();
    values.keywordsCount = form.txtkeywordsCount->text();
    values.blockedCount = form.txtEmailsBlockedCount->text();
    values.totalScanned = form.txttotalemailsever->text();
    values.autoscan = checkValue(form.checkautoscan);
    values.minutes = form.combominutes->currentText();
    values.whitelistOn = checkValue(form.checkwhitelist);
    values.blacklistOn = checkValue(form.checkblacklist);
    values.spamcopOn = checkValue(form.checkspamcop);
    values.keywordsOn = checkValue(form.checkkeywords);
    return values;
}

bool writeStatsFile(const frmMain& form, QString* reason) {
    return writeTextLines(form.pathInFolder(datafile::stats()), statsLines(statsFromWindow(form)),
                          {}, reason);
}
