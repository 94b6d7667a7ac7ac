#pragma once

#include <functional>

class QWidget;

// Shows a dialog modally: the main window takes no input and the caller waits until the
// dialog is hidden (the dialogs hide themselves; they are never destroyed).
void ShowModal(QWidget* dialog);

// Replaces the modal wait, so a test can drive a dialog headless. The handler is called with
// the dialog already visible and acts as the user would (typing, pressing its buttons); when it
// returns, a dialog still open is hidden, so a test can never hang on it.
using ModalHandler = std::function<void(QWidget* dialog)>;
void setModalHandler(ModalHandler handler);
