#pragma once

#include "editing/editingdialog.h"

class QGroupBox;
class QLineEdit;
class QPushButton;

// The Add Account dialog: mail server, login name and password of one POP3 account, appended
// to the account grid by "Add". Opening the dialog and cancelling it both empty the boxes; a
// rejected "Add" leaves them as typed.
class frmAddAccount : public EditingDialog {
    Q_OBJECT
public:
    explicit frmAddAccount(frmMain& form);

    void cmdAddAccountInfo_Click();
    void cmdCancelAccountInfo_Click();

    QGroupBox* frameAccountDetails;
    QLineEdit* txtAddMailServer;
    QLineEdit* txtAddLoginName;
    QLineEdit* txtAddPassword;
    QPushButton* cmdAddAccountInfo;
    QPushButton* cmdCancelAccountInfo;

protected:
    void cancel() override;
    QWidget* firstField() const override;
};
