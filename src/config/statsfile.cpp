#include "config/statsfile.h"

QString formatCheckLine(int state) {
    return QLatin1Char(' ') + QString::number(state) + QLatin1Char(' ');
}

std::optional<int> parseCheckLine(const QString& line) {
    bool ok = false;
    const int value = line.trimmed().toInt(&ok);
    if (!ok || value < 0 || value > 2)
        return std::nullopt;
    return value;
}

QStringList statsLines(const StatsValues& values) {
    return {values.accountsCount,
            values.whitelistCount,
            values.blacklistCount,
            values.keywordsCount,
            values.blockedCount,
            values.totalScanned,
            formatCheckLine(values.autoscan),
            values.minutes,
            formatCheckLine(values.whitelistOn),
            formatCheckLine(values.blacklistOn),
            formatCheckLine(values.spamcopOn),
            formatCheckLine(values.keywordsOn)};
}
