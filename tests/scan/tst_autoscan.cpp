// Automatic scanning: the minute counter's rhythm, the box that switches it, the setting applied
// at start-up, and scan requests that arrive while a pass runs.
#include "app/frmMain.h"
#include "config/checkvalue.h"
#include "scanhelpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class TestAutoScan : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void passesComeEveryIntervalPlusOne();
    void theBoxStartsAndStopsTheCounter();
    void unusableIntervalsAndLargeCounters();
    void theTimerDrivesTheTicks();
    void savedSettingResumesAtStartUp();
    void requestsDuringAPassAreIgnored();
};

namespace {

int passes(const ScanWindow& w) {
    return w.pop->count("Connect " + ScanWindow::kServer);
}

} // namespace

void TestAutoScan::passesComeEveryIntervalPlusOne() {
    ScanWindow w;
    w.account({});
    w.form.combominutes->setEditText("5");

    // Ticking the box counts the first minute at once; no pass yet.
    setCheckValue(w.form.checkautoscan, 1);
    QVERIFY(w.form.Timer1->isActive());
    QCOMPARE(w.form.txtTimer->text(), "1");
    QCOMPARE(passes(w), 0);

    QList<int> passMinutes;
    for (int minute = 1; minute <= 18; ++minute) {
        const int before = passes(w);
        w.form.Timer1_Timer();
        if (passes(w) > before)
            passMinutes.append(minute);
        if (minute == 13) {
            // A manual pass at counter 2 leaves the counter, and the rhythm, alone.
            QCOMPARE(w.form.txtTimer->text(), "2");
            w.form.cmdscannow_Click();
            QCOMPARE(passes(w), before + 1);
            QCOMPARE(w.form.txtTimer->text(), "2");
        }
    }
    QCOMPARE(passMinutes, QList<int>({5, 11, 17}));
    QCOMPARE(w.form.txtTimer->text(), "1");
}

void TestAutoScan::theBoxStartsAndStopsTheCounter() {
    ScanWindow w;
    w.account({});
    setCheckValue(w.form.checkautoscan, 1);
    w.form.Timer1_Timer();
    w.form.Timer1_Timer();
    QCOMPARE(w.form.txtTimer->text(), "3");

    // Unticking stops the timer and keeps the count; ticking again counts on from it at once.
    setCheckValue(w.form.checkautoscan, 0);
    QVERIFY(!w.form.Timer1->isActive());
    QCOMPARE(w.form.txtTimer->text(), "3");
    setCheckValue(w.form.checkautoscan, 1);
    QVERIFY(w.form.Timer1->isActive());
    QCOMPARE(w.form.txtTimer->text(), "4");

    // Greyed is not on.
    setCheckValue(w.form.checkautoscan, 2);
    QVERIFY(!w.form.Timer1->isActive());
    QCOMPARE(w.form.txtTimer->text(), "4");
    QCOMPARE(passes(w), 0);
}

void TestAutoScan::unusableIntervalsAndLargeCounters() {
    ScanWindow w;
    w.account({});
    // Interval text that is no whole number of at least 1 acts as 1.
    w.form.combominutes->setEditText("abc");
    w.form.Timer1_Timer();
    QCOMPARE(w.form.txtTimer->text(), "1");
    w.form.Timer1_Timer();
    QCOMPARE(w.form.txtTimer->text(), "0");
    QCOMPARE(passes(w), 1);

    // No 16-bit counter: a long interval counts past 32767.
    w.form.combominutes->setEditText("40000");
    w.form.txtTimer->setText("32767");
    w.form.Timer1_Timer();
    QCOMPARE(w.form.txtTimer->text(), "32768");
    QCOMPARE(passes(w), 1);
}

void TestAutoScan::theTimerDrivesTheTicks() {
    ScanWindow w;
    w.form.combominutes->setEditText("1000");
    setCheckValue(w.form.checkautoscan, 1);
    QCOMPARE(w.form.txtTimer->text(), "1");
    QCOMPARE(w.form.Timer1->interval(), 60000);
    // A shorter period, so that the test need not wait for minutes.
    w.form.Timer1->setInterval(5);
    QTRY_VERIFY(w.form.txtTimer->text().toInt() >= 3);
    setCheckValue(w.form.checkautoscan, 0);
    const QString stopped = w.form.txtTimer->text();
    QTest::qWait(50);
    QCOMPARE(w.form.txtTimer->text(), stopped);
}

void TestAutoScan::savedSettingResumesAtStartUp() {
    TempFolder folder;
    folder.write("stats.dat",
                 "1\r\n0\r\n0\r\n0\r\n3\r\n10\r\n 1 \r\n5\r\n 0 \r\n 0 \r\n 0 \r\n 1 \r\n");
    frmMain form(folder.path());
    QVERIFY(!form.Timer1->isActive());
    form.Form_Load();
    QVERIFY(form.Timer1->isActive());
    QCOMPARE(form.txtTimer->text(), "1");
    form.hide();
}

void TestAutoScan::requestsDuringAPassAreIgnored() {
    ScanWindow w;
    const QByteArray spam = mailMessage("S <s@spam.example>", "offer");
    w.account({spam, spam, mailMessage("Ok <ok@home.example>", "hi")});
    w.switches(0, 1, 0, 0);
    fillGrid(w.form.gridblacklist, {"spam.example"});

    NoticeRecorder notices(w.form);
    bool refusedToReplace = false;
    notices.whileOpen = [&] {
        // The timer ticks every few milliseconds from here on, so that its ticks fall due while
        // the pass waits. Sooner, a tick could come due while the box's tick yields before the
        // pass starts, and run the pass itself: a timer does not tick again inside its own tick.
        w.form.Timer1->setInterval(5);
        // While the notice is open: a click, a tick, and the timer's own ticks.
        w.form.cmdscannow_Click();
        w.form.Timer1_Timer();
        // The counter goes round, so the timer's ticks are counted as changes of its text, not
        // by comparing the text, which may have come round to the same value.
        QSignalSpy counted(w.form.txtTimer, &QLineEdit::textChanged);
        QTRY_VERIFY(counted.count() >= 2);
        refusedToReplace = !w.form.replaceMailbox(std::make_unique<MemoryMailbox>());
    };
    w.pop->onCall = [&](const QString& call) {
        // While the component waits for the server.
        if (call == "FetchMessage 3")
            w.form.cmdscannow_Click();
    };

    // Ticking the box with the counter at the interval runs the pass at once.
    w.form.combominutes->setEditText("3");
    w.form.txtTimer->setText("3");
    setCheckValue(w.form.checkautoscan, 1);

    QVERIFY(!w.form.isScanRunning());
    QCOMPARE(passes(w), 1);
    QCOMPARE(notices.notices.size(), 2);
    QVERIFY(refusedToReplace);
    QCOMPARE(w.pop->removed(ScanWindow::kServer), QList<int>({1, 2}));
    QCOMPARE(w.form.txttotalemailsever->text(), "3");
    setCheckValue(w.form.checkautoscan, 0);

    // Once the pass is over, a request runs again.
    notices.whileOpen = {};
    w.form.cmdscannow_Click();
    QCOMPARE(passes(w), 2);
}

QTEST_MAIN(TestAutoScan)
#include "tst_autoscan.moc"
