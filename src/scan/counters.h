#pragma once

#include <QString>

// The counters of the statistics frame and the minute counter of automatic scanning are text
// boxes holding numbers as decimal text. These read and write them.

// The number a counter's text holds, blanks around it ignored. A text that is not a finite
// number counts as 0, so a damaged counter counts on from 0 instead of stopping.
double counterValue(const QString& text);

// A count in its shortest decimal form. Whole numbers that a double holds exactly (below 2^53)
// are plain digits, without a decimal point or an exponent, however large.
QString counterText(double value);

// The counter's text after adding `by` to it.
QString countedOn(const QString& text, double by = 1.0);

// The interval of automatic scanning, in minutes: the text as a whole number of at least 1;
// anything else (empty, not a number, a fraction, 0 or less) counts as 1.
double scanInterval(const QString& intervalText);

// What one tick of the minute timer does. The counter counts the minutes since the last
// automatic pass; when one more minute would take it past the interval, it restarts at "0" and
// a pass runs instead.
struct MinuteTick {
    QString counter;      // the counter's new text
    bool runPass = false; // true when the interval was passed
};
MinuteTick minuteTick(const QString& counter, const QString& intervalText);
