#pragma once

#include <QDialog>

class QLineEdit;
class QPushButton;
class frmMain;

// What the editing dialogs have in common: a fixed-size tool window without title-bar buttons,
// centred on the screen, whose "Add" and "Cancel" buttons are neither default nor cancel
// button, so Enter and Escape press nothing. The dialogs are created once and then only shown
// and hidden; closing the window by other means (the window manager's close shortcut) acts as
// the dialog's own "Cancel".
class EditingDialog : public QDialog {
    Q_OBJECT
public:
    explicit EditingDialog(frmMain& form);

    // Window-system close requests end up here: they run the dialog's Cancel.
    void reject() override;

protected:
    frmMain& form() const { return m_form; }

    // A single-line text box: a pasted line break and the rest of the pasted text after it are
    // dropped, as a one-line field should, so an entry can never split into two lines of its
    // data file.
    QLineEdit* textBox(QWidget* parent, const char* name);
    // A dialog button with its 16 x 16 icon beside the caption.
    QPushButton* button(const QString& caption, const QString& icon, const char* name);
    // Fixes the size to what the layout needs and centres the window on the screen.
    void fixSizeAndCentre();

    // The dialog's "Cancel".
    virtual void cancel() = 0;
    // The box that takes the focus whenever the dialog is shown.
    virtual QWidget* firstField() const = 0;

    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    frmMain& m_form;
};

// A confirmation after an edit: its own line, then the reminder that only Update saves.
QString editConfirmation(const QString& firstLine);
