// The counters of the statistics frame and the minute counter: how they read, count on and print.
#include "scan/counters.h"

#include <QTest>

class TestScanCounters : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void countsOn_data();
    void countsOn();
    void minuteTicks_data();
    void minuteTicks();
};

void TestScanCounters::countsOn_data() {
    QTest::addColumn<QString>("before");
    QTest::addColumn<double>("by");
    QTest::addColumn<QString>("after");

    QTest::newRow("spam counter") << "41" << 1.0 << "42";
    // Shortest form, but never an exponent for a whole number a double holds exactly.
    QTest::newRow("to a million") << "999999" << 1.0 << "1000000";
    QTest::newRow("past 32 bits") << "4294967295" << 1.0 << "4294967296";
    QTest::newRow("below 2^53") << "9007199254740990" << 1.0 << "9007199254740991";
    QTest::newRow("many at once, blanks around") << " 7 " << 40000.0 << "40007";
    QTest::newRow("fraction kept") << "2.5" << 1.0 << "3.5";
    // A counter that is not a number counts on from 0.
    QTest::newRow("empty") << "" << 1.0 << "1";
    QTest::newRow("number then letters") << "12abc" << 1.0 << "1";
    QTest::newRow("infinity") << "inf" << 1.0 << "1";
    // Beyond exact whole numbers the value still prints, and never becomes infinite.
    QTest::newRow("huge") << "1e300" << 1.0 << "1e+300";
    QTest::newRow("largest double")
        << "1.7976931348623157e308" << 1.0e308 << "1.7976931348623157e+308";
}

void TestScanCounters::countsOn() {
    QFETCH(QString, before);
    QFETCH(double, by);
    QFETCH(QString, after);
    QCOMPARE(countedOn(before, by), after);
}

void TestScanCounters::minuteTicks_data() {
    QTest::addColumn<QString>("counter");
    QTest::addColumn<QString>("interval");
    QTest::addColumn<QString>("after");
    QTest::addColumn<bool>("runPass");

    QTest::newRow("reaches the interval") << "4"
                                          << "5"
                                          << "5" << false;
    QTest::newRow("passes the interval") << "5"
                                         << " 5 "
                                         << "0" << true;
    QTest::newRow("interval 1 counts once") << "0"
                                            << "1"
                                            << "1" << false;
    QTest::newRow("interval 1 then passes") << "1"
                                            << "1"
                                            << "0" << true;
    // An interval that is not a whole number of at least 1 acts as 1.
    for (const char* interval : {"abc", "0", "-5", "2.5", ""})
        QTest::addRow("interval \"%s\"", interval) << "1" << interval << "0" << true;
    QTest::newRow("no 16-bit limit") << "32767"
                                     << "40000"
                                     << "32768" << false;
    QTest::newRow("past a short interval") << "32767"
                                           << "5"
                                           << "0" << true;
    QTest::newRow("huge counter") << "99999999999999999999999"
                                  << "5"
                                  << "0" << true;
    QTest::newRow("damaged counter") << "x"
                                     << "5"
                                     << "1" << false;
}

void TestScanCounters::minuteTicks() {
    QFETCH(QString, counter);
    QFETCH(QString, interval);
    QFETCH(QString, after);
    QFETCH(bool, runPass);
    const MinuteTick tick = minuteTick(counter, interval);
    QCOMPARE(tick.counter, after);
    QCOMPARE(tick.runPass, runPass);
}

QTEST_GUILESS_MAIN(TestScanCounters)
#include "tst_scancounters.moc"
