#pragma once

#include "app/frmStart.h"

#include <memory>

class SingleInstance;

// How a start begins: into the main window (a start by the user), or hidden in the tray (a start
// with the session).
struct StartOptions {
    bool hidden = false;
    // How long a hidden start waits for a tray to turn up before it shows the window instead.
    int trayWaitMs = frmStart::kTrayWaitMs;
};

// Starts the program from instance's folder. When this start becomes the folder's running copy,
// the start form loads (and with it the main window and the tray icon), and every later start
// from the folder brings the main window to the front as "Show Application" does, also out of
// the tray. Returns nullptr when another copy already runs from the folder: this start has
// loaded, shown and written nothing, and a start by the user has asked that copy to come to the
// front; a hidden start leaves it as it is, since a start with the session finding the program
// already running has nothing to show.
std::unique_ptr<frmStart> startProgram(SingleInstance& instance, const StartOptions& options = {});
