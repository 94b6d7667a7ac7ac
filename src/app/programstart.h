#pragma once

#include <memory>

class SingleInstance;
class frmStart;

// Starts the program from instance's folder. When this start becomes the folder's running copy,
// the start form loads (and with it the main window and the tray icon), and every later start
// from the folder brings the main window to the front as "Show Application" does, also out of
// the tray. Returns nullptr when another copy already runs from the folder: that copy has been
// asked to come to the front, and this start has loaded, shown and written nothing.
std::unique_ptr<frmStart> startProgram(SingleInstance& instance);
