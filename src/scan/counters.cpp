#include "scan/counters.h"

#include <QLocale>

#include <cmath>

namespace {

// 2^53: up to here every whole number is exactly a double, and one more still counts on.
constexpr double kExactWholeLimit = 9007199254740992.0;

} // namespace

double counterValue(const QString& text) {
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

QString counterText(double value) {
    if (std::isfinite(value) && value == std::floor(value) && std::fabs(value) < kExactWholeLimit)
        return QString::number(static_cast<qint64>(value));
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString countedOn(const QString& text, double by) {
    const double sum = counterValue(text) + by;
    // A counter so large that the sum is no longer finite stays where it is.
    return counterText(std::isfinite(sum) ? sum : counterValue(text));
}

double scanInterval(const QString& intervalText) {
    bool ok = false;
    const double minutes = intervalText.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(minutes) || minutes != std::floor(minutes) || minutes < 1.0)
        return 1.0;
    return minutes;
}

MinuteTick minuteTick(const QString& counter, const QString& intervalText) {
    // Counted in doubles, the counter cannot overflow: a value beyond any sensible interval
    // simply passes it, and the pass restarts the counter.
    const double next = counterValue(counter) + 1.0;
    if (scanInterval(intervalText) >= next)
        return {counterText(next), false};
    return {QStringLiteral("0"), true};
}
