#pragma once

#include <QObject>

class frmAddAccount;
class frmAddWhitelist;
class frmAddblacklist;
class frmAddkeywords;
class frmMain;

// The main window's editing dialogs. Each is created on first use as a window of frmMain, which
// owns it, and is afterwards only shown and hidden until the program ends.
class EditingDialogs : public QObject {
    Q_OBJECT
public:
    explicit EditingDialogs(frmMain& form);

    frmAddAccount& addAccount();
    frmAddWhitelist& addWhitelist();
    frmAddblacklist& addBlacklist();
    frmAddkeywords& addKeywords();

private:
    frmMain& m_form;
    frmAddAccount* m_addAccount = nullptr;
    frmAddWhitelist* m_addWhitelist = nullptr;
    frmAddblacklist* m_addBlacklist = nullptr;
    frmAddkeywords* m_addKeywords = nullptr;
};
