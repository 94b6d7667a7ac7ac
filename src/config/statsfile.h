#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// stats.dat: twelve lines, the six counters as the window shows them, then the automatic-scan
// box, the interval text and the four filter boxes. A box's state is written with a space on
// each side (" 1 " ticked, " 0 " cleared).
struct StatsValues {
    QString accountsCount;
    QString whitelistCount;
    QString blacklistCount;
    QString keywordsCount;
    QString blockedCount;
    QString totalScanned;
    int autoscan = 0;
    QString minutes;
    int whitelistOn = 0;
    int blacklistOn = 0;
    int spamcopOn = 0;
    int keywordsOn = 0;
};

inline constexpr int kStatsLineCount = 12;

QStringList statsLines(const StatsValues& values);

// A check box state read from a number line: spaces around it are ignored; only 0 (cleared),
// 1 (ticked) and 2 (greyed) are states a box accepts.
std::optional<int> parseCheckLine(const QString& line);
QString formatCheckLine(int state);
