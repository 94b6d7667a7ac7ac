#pragma once

#include <functional>

// Ends the program at once: no further event of any window runs and nothing is written.
// Callers remove the tray icon first and return straight after the call. Every data file is
// written through a temporary file and a rename, so stopping at any point never leaves a
// half-written file.
void EndProgram();

// Lets a test observe the end instead of the process stopping; with a handler installed,
// EndProgram calls it and returns. An empty function restores the real end.
using EndProgramHandler = std::function<void()>;
void setEndProgramHandler(EndProgramHandler handler);
