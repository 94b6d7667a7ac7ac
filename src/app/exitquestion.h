#pragma once

// The exit question of the close box and the tray's and File menu's Exit: OK removes the tray
// icon and ends the program at once (returning true only under a test's end handler); Cancel
// returns false and the caller hides the main window.
bool exitQuestion();
