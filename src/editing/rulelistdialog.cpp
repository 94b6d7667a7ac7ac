#include "editing/rulelistdialog.h"

#include "app/doevents.h"
#include "app/frmMain.h"
#include "app/module_griddisplay.h"
#include "app/msgbox.h"
#include "app/ubGrid.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

const RuleList kWhitelist = {
    &frmMain::gridwhitelist,
    &frmMain::txtwhitelistCount,
    "frmAddWhitelist",
    "Add an email address",
    " Add an email to your whitelist ",
    "Enter an email address:",
    "txtWhitelistEmail",
    "cmdAddWhitelist",
    "cmdcancelwhitelist",
    4,
    "Please enter an email address to add to the whitelist.",
    "The email address has been added to the whitelist.",
    "Email address added.",
    true,
    "Are you sure you want to delete the selected email address?",
    "Delete email address.",
    "The selected email address has been deleted.",
    "Email address deleted.",
    true,
};

const RuleList kBlacklist = {
    &frmMain::gridblacklist,
    &frmMain::txtblacklistCount,
    "frmAddblacklist",
    "Add an email address",
    " Add an email to your blacklist ",
    "Enter an email address:",
    "txtblacklistEmail",
    "cmdAddblacklist",
    "cmdcancelblacklist",
    4,
    "Please enter an email address to add to the blacklist.",
    "The email address has been added to the blacklist.",
    "Email address added.",
    false,
    "Are you sure you want to delete the selected email address?",
    "Delete email address.",
    "The selected email address has been deleted.",
    "Email address deleted.",
    false,
};

const RuleList kKeywords = {
    &frmMain::gridkeywords,
    &frmMain::txtkeywordsCount,
    "frmAddkeywords",
    "Add a keyword or phrase",
    " Add a keyword or phrase",
    "Enter keyword",
    "txtkeywordsEmail",
    "cmdAddkeywords",
    "cmdcancelkeywords",
    1,
    "Please enter a keyword or phrase to block.",
    "The keyword has been added to the banned list.",
    "Keyword banned.",
    false,
    "Are you sure you want to delete the selected keyword?",
    "Delete keyword.",
    "The selected keyword has been deleted.",
    "Keyword deleted.",
    false,
};

RuleListDialog::RuleListDialog(frmMain& form, const RuleList& list)
    : EditingDialog(form)
    , m_list(list) {
    setObjectName(QLatin1String(list.dialogName));
    setWindowTitle(QLatin1String(list.dialogTitle));

    m_frame = new QGroupBox(QLatin1String(list.frameTitle), this);
    m_label = new QLabel(QLatin1String(list.label), m_frame);
    m_entry = textBox(m_frame, list.entryBoxName);
    m_label->setBuddy(m_entry);
    auto* row = new QHBoxLayout(m_frame);
    row->addWidget(m_label);
    row->addWidget(m_entry);

    m_add = button(QStringLiteral("Add"), QStringLiteral(":/add.png"), list.addButtonName);
    m_cancel =
        button(QStringLiteral("Cancel"), QStringLiteral(":/cancel.png"), list.cancelButtonName);
    connect(m_add, &QPushButton::clicked, this, &RuleListDialog::addClicked);
    connect(m_cancel, &QPushButton::clicked, this, &RuleListDialog::cancelClicked);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_add);
    buttons->addWidget(m_cancel);
    auto* main = new QVBoxLayout(this);
    main->addWidget(m_frame);
    main->addLayout(buttons);

    setTabOrder(m_add, m_entry);
    setTabOrder(m_entry, m_cancel);

    fixSizeAndCentre();
}

void RuleListDialog::addClicked() {
    module_griddisplay(form());
    const QString entry = m_entry->text();
    if (entry.size() < m_list.shortestEntry) {
        MsgBox(QLatin1String(m_list.rejection), MsgBoxButtons::Ok);
        m_entry->clear();
        module_griddisplay(form());
        return;
    }

    ubGrid* grid = form().*m_list.grid;
    const int row = grid->rows() + 1;
    grid->setRows(row);
    grid->setCelltext(row, 1, entry);
    (form().*m_list.countBox)->setText(QString::number(grid->rows()));
    DoEvents();
    MsgBox(editConfirmation(QLatin1String(m_list.added)), MsgBoxButtons::Ok,
           QLatin1String(m_list.addedTitle));
    hide();
    m_entry->clear();
    if (m_list.redrawAfterAdd) {
        if (grid->rows() > 0)
            grid->setRedraw(true);
        grid->repaint();
    }
    module_griddisplay(form());
}

void RuleListDialog::cancelClicked() {
    hide();
    module_griddisplay(form());
}

void RuleListDialog::cancel() {
    cancelClicked();
}

QWidget* RuleListDialog::firstField() const {
    return m_entry;
}

frmAddWhitelist::frmAddWhitelist(frmMain& form)
    : RuleListDialog(form, kWhitelist)
    , txtWhitelistEmail(entryBox())
    , cmdAddWhitelist(addButton())
    , cmdcancelwhitelist(cancelButton()) {}

frmAddblacklist::frmAddblacklist(frmMain& form)
    : RuleListDialog(form, kBlacklist)
    , txtblacklistEmail(entryBox())
    , cmdAddblacklist(addButton())
    , cmdcancelblacklist(cancelButton()) {}

frmAddkeywords::frmAddkeywords(frmMain& form)
    : RuleListDialog(form, kKeywords)
    , txtkeywordsEmail(entryBox())
    , cmdAddkeywords(addButton())
    , cmdcancelkeywords(cancelButton()) {}

void deleteRuleListEntry(frmMain& form, const RuleList& list) {
    ubGrid* grid = form.*list.grid;
    const MsgBoxAnswer answer = MsgBox(QLatin1String(list.deleteQuestion), MsgBoxButtons::YesNo,
                                       QLatin1String(list.deleteTitle));
    if (answer == MsgBoxAnswer::Yes) {
        DoEvents();
        grid->removerow(grid->currentrow());
        (form.*list.countBox)->setText(QString::number(grid->rows()));
        DoEvents();
        MsgBox(editConfirmation(QLatin1String(list.deleted)), MsgBoxButtons::Ok,
               QLatin1String(list.deletedTitle));
    }
    if (list.repaintAfterDelete)
        grid->repaint();
}
