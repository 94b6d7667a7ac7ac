#pragma once

#include "config/statsfile.h"

class frmMain;

// Applies stats.dat to the window, line by line in file order, each line as soon as it is read.
// Reading stops quietly at the first failure (no file, fewer than twelve lines, a box line that
// is not 0, 1 or 2): the lines applied before it stay, the rest keep their values.
void readStatsFile(frmMain& form);

// The twelve values as the window shows them now.
StatsValues statsFromWindow(const frmMain& form);

// Rewrites stats.dat from the window. Returns false when it could not be written; the old file
// then stays whole, and reason, when given, says why.
bool writeStatsFile(const frmMain& form, QString* reason = nullptr);
