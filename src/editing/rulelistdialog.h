#pragma once

#include "editing/editingdialog.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class ubGrid;

// One of the three rule lists edited on the main window (whitelist, blacklist, keywords): where
// it lives and the texts of its dialog and boxes.
struct RuleList {
    ubGrid* frmMain::*grid;
    QLineEdit* frmMain::*countBox;
    const char* dialogName;
    const char* dialogTitle;
    const char* frameTitle;
    const char* label;
    const char* entryBoxName;
    const char* addButtonName;
    const char* cancelButtonName;
    int shortestEntry; // in characters
    const char* rejection;
    const char* added;
    const char* addedTitle;
    bool redrawAfterAdd; // switch painting on and repaint straight after adding
    const char* deleteQuestion;
    const char* deleteTitle;
    const char* deleted;
    const char* deletedTitle;
    bool repaintAfterDelete;
};

extern const RuleList kWhitelist;
extern const RuleList kBlacklist;
extern const RuleList kKeywords;

// The add dialog of a rule list: one text box, "Add" and "Cancel". "Cancel" keeps what was
// typed for the next opening; "Add" empties the box whether it accepts the entry or not.
class RuleListDialog : public EditingDialog {
    Q_OBJECT
public:
    RuleListDialog(frmMain& form, const RuleList& list);

    const RuleList& list() const { return m_list; }

    // The dialog's "Add": appends the entry to the list's grid or rejects one that is too short.
    void addClicked();
    // The dialog's "Cancel".
    void cancelClicked();

protected:
    void cancel() override;
    QWidget* firstField() const override;

    QLineEdit* entryBox() const { return m_entry; }
    QPushButton* addButton() const { return m_add; }
    QPushButton* cancelButton() const { return m_cancel; }

private:
    const RuleList& m_list;
    QGroupBox* m_frame;
    QLabel* m_label;
    QLineEdit* m_entry;
    QPushButton* m_add;
    QPushButton* m_cancel;
};

class frmAddWhitelist : public RuleListDialog {
    Q_OBJECT
public:
    explicit frmAddWhitelist(frmMain& form);

    QLineEdit* const txtWhitelistEmail;
    QPushButton* const cmdAddWhitelist;
    QPushButton* const cmdcancelwhitelist;
};

class frmAddblacklist : public RuleListDialog {
    Q_OBJECT
public:
    explicit frmAddblacklist(frmMain& form);

    QLineEdit* const txtblacklistEmail;
    QPushButton* const cmdAddblacklist;
    QPushButton* const cmdcancelblacklist;
};

class frmAddkeywords : public RuleListDialog {
    Q_OBJECT
public:
    explicit frmAddkeywords(frmMain& form);

    QLineEdit* const txtkeywordsEmail;
    QPushButton* const cmdAddkeywords;
    QPushButton* const cmdcancelkeywords;
};

// The list's "Delete" on the main window: after a Yes, removes the grid's current row.
void deleteRuleListEntry(frmMain& form, const RuleList& list);
