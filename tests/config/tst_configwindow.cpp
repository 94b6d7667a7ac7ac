// The main window's configuration: first start, stats.dat, the list loaders, Update and Reload.
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "app/ubGrid.h"
#include "config/checkvalue.h"
#include "support/filesizelimit.h"
#include "support/tempfolder.h"
#include "support/ui/scriptedboxes.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

#include <optional>

namespace {
QStringList counters(const frmMain& f) {
    return {f.txtAccountsCount->text(),      f.txtwhitelistCount->text(),
            f.txtblacklistCount->text(),     f.txtkeywordsCount->text(),
            f.txtEmailsBlockedCount->text(), f.txttotalemailsever->text()};
}

QList<int> boxes(const frmMain& f) {
    return {checkValue(f.checkautoscan), checkValue(f.checkwhitelist), checkValue(f.checkblacklist),
            checkValue(f.checkspamcop), checkValue(f.checkkeywords)};
}

QStringList column(const ubGrid* grid, int col = 1) {
    QStringList cells;
    for (int r = 1; r <= grid->rows(); ++r)
        cells.append(grid->celltext(r, col));
    return cells;
}

QStringList comboItems(const QComboBox* combo) {
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items.append(combo->itemText(i));
    return items;
}

const QByteArray kFullStats =
    "1\r\n2\r\n3\r\n4\r\n41\r\n999\r\n 0 \r\n15\r\n 1 \r\n 1 \r\n 2 \r\n 1 \r\n";

// The five data files of a program folder that has been saved before.
const QList<std::pair<QString, QByteArray>> kSavedFiles{
    {"stats.dat", kFullStats},
    {"accounts.dat", "pop.example.org,alice,secret\r\n"},
    {"whitelist.dat", "friend@example.org\r\n"},
    {"blacklist.dat", "spam.example\r\n"},
    {"keywords.dat", "lottery\r\n"}};

// An edit in every grid and a counter, so that each of the five files would change.
void editEverything(frmMain& form) {
    form.gridAccounts->setCelltext(1, 3, "new secret");
    form.gridwhitelist->addrow("other@example.org");
    form.gridblacklist->addrow("junk.example");
    form.gridkeywords->addrow("prize");
    form.txtEmailsBlockedCount->setText("42");
}
} // namespace

class TestConfigWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void firstStartShowsInitialValues();
    void statsPartialReads_data();
    void statsPartialReads();
    void autoscanLineRunsTheBoxHandler();
    void accountLoaderRules();
    void listLoaderKeepsEveryLine();
    void emptyListLeavesCountFromStats();
    void loadingTwiceGivesTheSameGrid();
    void updateWritesExactBytes();
    void updateThenReloadRoundTrips();
    void updateWithEmptyGridsWritesEmptyFiles();
    void updateKeepsEveryFileItCannotWrite_data();
    void updateKeepsEveryFileItCannotWrite();
    void updateNamesOnlyTheFileNotSaved();
    void reloadDiscardsEdits();
    void reloadWithoutStatsZeroesCounters();
    void largeListsLoadAndSave();
};

void TestConfigWindow::firstStartShowsInitialValues() {
    TempFolder folder;
    frmMain form(folder.path());
    form.Form_Load();
    QCOMPARE(counters(form), QStringList(6, "0"));
    QCOMPARE(form.txtEmailsAllowedCount->text(), QString("0"));
    QCOMPARE(boxes(form), QList<int>(5, 0));
    QCOMPARE(form.combominutes->currentText(), QString("5"));
    QCOMPARE(comboItems(form.combominutes),
             (QStringList{"1", "5", "10", "15", "20", "25", "30", "35", "40", "45", "50", "55"}));
    QCOMPARE(form.Label17->text(),
             QString("Corvanta - Simple and effective anti-spam protection."));
    QCOMPARE(form.SSTab1->currentIndex(), 0);
    QCOMPARE(form.gridAccounts->headingtext(), QString(" Mail Server | User Login | Password "));
    QCOMPARE(form.gridwhitelist->headingtext(),
             QString("Email addresses below are not scanned for Spam."));
    QCOMPARE(form.gridblacklist->headingtext(),
             QString("Email addresses below are always blocked."));
    QCOMPARE(form.gridkeywords->headingtext(), QString("Key words and phrases used in filtering."));
    QCOMPARE(form.gridAccounts->cols(), 3);
    QCOMPARE(form.gridAccounts->columnWidth(0), 180);
    QCOMPARE(form.gridAccounts->columnWidth(2), 120);
    QCOMPARE(form.gridkeywords->columnWidth(0), 460);
    QCOMPARE(form.gridkeywords->width(), 503);
    QCOMPARE(form.splash().label->text(), QString("Now Loading. Please wait."));
    QVERIFY(form.isVisible());
    QVERIFY(!form.splash().isVisible());
    QCOMPARE(form.size(), QSize(675, 500));
    QVERIFY(!form.Timer1->isActive());
    QCOMPARE(form.txtTimer->text(), QString("0"));
    // The interval list is the same after a second load.
    form.cmdreloadconfig_Click();
    QCOMPARE(form.combominutes->count(), 12);
}

void TestConfigWindow::statsPartialReads_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QStringList>("counters");
    QTest::addColumn<QList<int>>("boxes"); // autoscan, whitelist, blacklist, spamcop, keywords
    QTest::addColumn<QString>("minutes");
    const QStringList six{"1", "2", "3", "4", "41", "999"};
    QTest::newRow("complete") << kFullStats << six << QList<int>{0, 1, 1, 2, 1} << "15";
    QTest::newRow("six lines") << QByteArray("1\r\n2\r\n3\r\n4\r\n41\r\n999\r\n") << six
                               << QList<int>{0, 0, 0, 0, 0} << "5";
    QTest::newRow("eleven lines")
        << QByteArray("1\r\n2\r\n3\r\n4\r\n41\r\n999\r\n 0 \r\n15\r\n1\r\n1 \r\n 1 \r\n") << six
        << QList<int>{0, 1, 1, 1, 0} << "15";
    QTest::newRow("bad number stops at that line")
        << QByteArray("1\r\n2\r\n3\r\n4\r\n41\r\n999\r\n 0 \r\n15\r\n 1 \r\nx\r\n 1 \r\n 1 \r\n")
        << six << QList<int>{0, 1, 0, 0, 0} << "15";
    QTest::newRow("three lines") << QByteArray("7\r\n8\r\n9\r\n")
                                 << QStringList{"7", "8", "9", "0", "0", "0"}
                                 << QList<int>{0, 0, 0, 0, 0} << "5";
    QTest::newRow("empty file") << QByteArray() << QStringList(6, "0") << QList<int>{0, 0, 0, 0, 0}
                                << "5";
    QTest::newRow("lf line ends") << QByteArray("1\n2\n3\n4\n5\n6\n 0 \n20\n 1 \n 0 \n 0 \n 1 \n")
                                  << QStringList{"1", "2", "3", "4", "5", "6"}
                                  << QList<int>{0, 1, 0, 0, 1} << "20";
}

void TestConfigWindow::statsPartialReads() {
    QFETCH(QByteArray, bytes);
    TempFolder folder;
    folder.write("stats.dat", bytes);
    frmMain form(folder.path());
    form.Form_Load();
    QTEST(counters(form), "counters");
    QTEST(boxes(form), "boxes");
    QTEST(form.combominutes->currentText(), "minutes");
}

void TestConfigWindow::autoscanLineRunsTheBoxHandler() {
    TempFolder folder;
    folder.write("stats.dat",
                 "0\r\n0\r\n0\r\n0\r\n0\r\n0\r\n 1 \r\n5\r\n 0 \r\n 0 \r\n 0 \r\n 0 \r\n");
    frmMain form(folder.path());
    int handlerRuns = 0;
    QObject::connect(form.checkautoscan, &QCheckBox::stateChanged, [&] { ++handlerRuns; });
    form.Form_Load();
    QCOMPARE(checkValue(form.checkautoscan), 1);
    QCOMPARE(handlerRuns, 1);
    // The same value again on Reload changes nothing, so the handler does not run.
    form.cmdreloadconfig_Click();
    QCOMPARE(handlerRuns, 1);
}

void TestConfigWindow::accountLoaderRules() {
    TempFolder folder;
    folder.write("accounts.dat", "pop.one.org,alice,pw,with,commas\r\n"
                                 "abc,short,server\r\n"
                                 "malformed line\r\n"
                                 "\r\n"
                                 "abcd,,\r\n"
                                 "pop.two.org,bob\r\n"
                                 " pop.three.org , carol , pw \r\n");
    folder.write("stats.dat", "9\r\n");
    frmMain form(folder.path());
    form.Form_Load();
    const ubGrid* grid = form.gridAccounts;
    QCOMPARE(column(grid, 1), (QStringList{"pop.one.org", "abcd", " pop.three.org "}));
    QCOMPARE(column(grid, 2), (QStringList{"alice", "", " carol "}));
    QCOMPARE(column(grid, 3), (QStringList{"pw,with,commas", "", " pw "}));
    QCOMPARE(form.txtAccountsCount->text(), QString("3"));
}

void TestConfigWindow::listLoaderKeepsEveryLine() {
    TempFolder folder;
    folder.write("whitelist.dat", "a@example.org\r\n\r\n  spaced  \r\n");
    folder.write("keywords.dat", "free money\r\n\r\n");
    folder.write("blacklist.dat", "spam.example");
    frmMain form(folder.path());
    form.Form_Load();
    QCOMPARE(column(form.gridwhitelist), (QStringList{"a@example.org", "", "  spaced  "}));
    QCOMPARE(form.txtwhitelistCount->text(), QString("3"));
    QCOMPARE(column(form.gridkeywords), (QStringList{"free money", ""}));
    QCOMPARE(form.txtkeywordsCount->text(), QString("2"));
    QCOMPARE(column(form.gridblacklist), QStringList{"spam.example"});
    QCOMPARE(form.txtblacklistCount->text(), QString("1"));
}

void TestConfigWindow::emptyListLeavesCountFromStats() {
    TempFolder folder;
    folder.write("stats.dat", kFullStats);
    folder.write("whitelist.dat", "");
    frmMain form(folder.path());
    form.Form_Load();
    QCOMPARE(form.gridwhitelist->rows(), 0);
    QCOMPARE(form.gridAccounts->rows(), 0);
    // Neither file yields a row, so the boxes keep the values from stats.dat.
    QCOMPARE(form.txtwhitelistCount->text(), QString("2"));
    QCOMPARE(form.txtAccountsCount->text(), QString("1"));
}

void TestConfigWindow::loadingTwiceGivesTheSameGrid() {
    TempFolder folder;
    folder.write("keywords.dat", "one\r\ntwo\r\n");
    folder.write("accounts.dat", "pop.x.org,u,p\r\n");
    frmMain form(folder.path());
    form.Form_Load();
    form.Form_Load();
    QCOMPARE(column(form.gridkeywords), (QStringList{"one", "two"}));
    QCOMPARE(form.gridAccounts->rows(), 1);
}

void TestConfigWindow::updateWritesExactBytes() {
    TempFolder folder;
    frmMain form(folder.path());
    form.Form_Load();
    form.gridAccounts->setRows(1);
    form.gridAccounts->setCelltext(1, 1, "pop.example.org");
    form.gridAccounts->setCelltext(1, 2, "me");
    form.gridAccounts->setCelltext(1, 3, "p,w");
    form.gridAccounts->setRows(2);
    form.gridAccounts->setCelltext(2, 1, "abc");
    form.gridkeywords->addrow(" free ");
    form.gridkeywords->addrow("");
    form.gridwhitelist->addrow("caf\u00e9@example.org");
    form.txtEmailsBlockedCount->setText("41");
    setCheckValue(form.checkwhitelist, 1);
    form.combominutes->setEditText("abc");
    ScriptedBoxes boxes;
    form.cmdupdateconfig_Click();

    // A save that worked says nothing.
    QVERIFY(boxes.shown().isEmpty());
    QCOMPARE(folder.read("accounts.dat"), QByteArray("pop.example.org,me,p,w\r\nabc,,\r\n"));
    const auto others = QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther |
                        QFileDevice::WriteOther;
    QCOMPARE(QFile::permissions(folder.file("accounts.dat")) & others, QFileDevice::Permissions());
    QCOMPARE(folder.read("keywords.dat"), QByteArray(" free \r\n\r\n"));
    QCOMPARE(folder.read("whitelist.dat"), QByteArray("caf\xc3\xa9@example.org\r\n"));
    QCOMPARE(folder.read("blacklist.dat"), QByteArray());
    QCOMPARE(
        folder.read("stats.dat"),
        QByteArray("0\r\n0\r\n0\r\n0\r\n41\r\n0\r\n 0 \r\nabc\r\n 1 \r\n 0 \r\n 0 \r\n 0 \r\n"));
    QVERIFY(!form.splash().isVisible());
    QCOMPARE(form.splash().label->text(), QString("Updating 2 keywords."));
}

void TestConfigWindow::updateThenReloadRoundTrips() {
    TempFolder folder;
    folder.write("stats.dat", kFullStats);
    folder.write("accounts.dat", "pop.example.org,a,b\r\n");
    folder.write("blacklist.dat", "x@spam.example\r\n");
    frmMain form(folder.path());
    form.Form_Load();
    form.gridAccounts->setRows(2);
    form.gridAccounts->setCelltext(2, 1, "abc"); // saved, but too short to load again
    form.gridblacklist->addrow("  spaced domain.example ");
    setCheckValue(form.checkspamcop, 1);
    form.cmdupdateconfig_Click();
    const QByteArray blacklist = folder.read("blacklist.dat");

    form.cmdreloadconfig_Click();
    QCOMPARE(form.gridAccounts->rows(), 1);
    QCOMPARE(column(form.gridblacklist),
             (QStringList{"x@spam.example", "  spaced domain.example "}));
    QCOMPARE(checkValue(form.checkspamcop), 1);
    QCOMPARE(form.combominutes->currentText(), QString("15"));
    QCOMPARE(form.txtblacklistCount->text(), QString("2"));
    // A second save of the reloaded state writes the same bytes.
    form.cmdupdateconfig_Click();
    QCOMPARE(folder.read("blacklist.dat"), blacklist);
}

void TestConfigWindow::updateWithEmptyGridsWritesEmptyFiles() {
    TempFolder folder;
    folder.write("keywords.dat", "old\r\n");
    frmMain form(folder.path());
    form.Form_Load();
    form.gridkeywords->removerow(1);
    form.cmdupdateconfig_Click();
    for (const char* name : {"accounts.dat", "whitelist.dat", "blacklist.dat", "keywords.dat"}) {
        QVERIFY2(folder.exists(name), name);
        QCOMPARE(folder.read(name), QByteArray());
    }
    QCOMPARE(folder.read("stats.dat").count("\r\n"), 12);
}

void TestConfigWindow::updateKeepsEveryFileItCannotWrite_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("reason");
    // Stops the superuser as well.
    QTest::newRow("disk full") << "disk full"
                               << "File too large";
    // Skipped where folder permissions do not stop writes (the superuser).
    QTest::newRow("read-only folder") << "read-only folder"
                                      << "Permission denied";
}

void TestConfigWindow::updateKeepsEveryFileItCannotWrite() {
    QFETCH(QString, fault);
    QFETCH(QString, reason);
    TempFolder folder;
    for (const auto& [name, bytes] : kSavedFiles)
        folder.write(name, bytes);
    frmMain form(folder.path());
    form.Form_Load();
    editEverything(form);
    ScriptedBoxes boxes;
    boxes.answer(MsgBoxAnswer::Ok);

    const auto writable = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    const auto restore = qScopeGuard([&] { QFile::setPermissions(folder.path(), writable); });
    std::optional<FileSizeLimit> full;
    if (fault == "disk full") {
        full.emplace(4);
        if (!full->active())
            QSKIP("no file size limit available");
    } else {
        QFile::setPermissions(folder.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        if (QFile(folder.file("probe")).open(QIODevice::WriteOnly))
            QSKIP("running with privileges that ignore folder permissions");
    }
    form.cmdupdateconfig_Click();
    full.reset();
    QFile::setPermissions(folder.path(), writable);

    // One box after the save, naming every file in the order of the save.
    QCOMPARE(boxes.shown().size(), 1);
    QCOMPARE(boxes.unexpected(), 0);
    const MsgBoxRequest box = boxes.shown().first();
    QCOMPARE(box.text, "These files could not be saved: stats.dat, accounts.dat, whitelist.dat, "
                       "blacklist.dat, keywords.dat (" +
                           reason + "). The files as they were before are unchanged.");
    QCOMPARE(box.title, QString("Corvanta"));
    QCOMPARE(box.buttons, MsgBoxButtons::Ok);
    QVERIFY(!form.splash().isVisible());
    for (const auto& [name, bytes] : kSavedFiles)
        QCOMPARE(folder.read(name), bytes);
    QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 5);

    // The edits are still in the window: once the files can be written, Update saves them.
    form.cmdupdateconfig_Click();
    QCOMPARE(boxes.shown().size(), 1);
    QCOMPARE(folder.read("whitelist.dat"),
             QByteArray("friend@example.org\r\nother@example.org\r\n"));
    QCOMPARE(folder.read("accounts.dat"), QByteArray("pop.example.org,alice,new secret\r\n"));
}

void TestConfigWindow::updateNamesOnlyTheFileNotSaved() {
    TempFolder folder;
    // A folder where blacklist.dat belongs: not even the superuser can write that file.
    folder.write("blacklist.dat/kept.txt", "kept\r\n");
    frmMain form(folder.path());
    form.Form_Load();
    form.gridwhitelist->addrow("friend@example.org");
    form.gridblacklist->addrow("spam.example");
    form.gridkeywords->addrow("lottery");
    ScriptedBoxes boxes;
    boxes.answer(MsgBoxAnswer::Ok);

    form.cmdupdateconfig_Click();

    QCOMPARE(boxes.shown().size(), 1);
    QCOMPARE(boxes.shown().first().text,
             QString("These files could not be saved: blacklist.dat (Is a directory). The files "
                     "as they were before are unchanged."));
    QCOMPARE(folder.read("blacklist.dat/kept.txt"), QByteArray("kept\r\n"));
    // The files before and after it were written all the same.
    QCOMPARE(folder.read("stats.dat").count("\r\n"), 12);
    QCOMPARE(folder.read("whitelist.dat"), QByteArray("friend@example.org\r\n"));
    QCOMPARE(folder.read("keywords.dat"), QByteArray("lottery\r\n"));
    QVERIFY(folder.exists("accounts.dat"));
}

void TestConfigWindow::reloadDiscardsEdits() {
    TempFolder folder;
    folder.write("stats.dat", kFullStats);
    folder.write("keywords.dat", "one\r\ntwo\r\nthree\r\n");
    frmMain form(folder.path());
    form.Form_Load();
    form.gridkeywords->removerow(1);
    form.gridwhitelist->addrow("new@example.org");
    setCheckValue(form.checkautoscan, 0);
    setCheckValue(form.checkkeywords, 0);
    form.combominutes->setEditText("30");
    form.txtEmailsAllowedCount->setText("5");
    form.txttotalemailsever->setText("1234");
    form.SSTab1->setCurrentIndex(3);
    form.cmdreloadconfig_Click();
    QCOMPARE(column(form.gridkeywords), (QStringList{"one", "two", "three"}));
    QCOMPARE(form.gridwhitelist->rows(), 0);
    QCOMPARE(checkValue(form.checkkeywords), 1);
    QCOMPARE(form.combominutes->currentText(), QString("15"));
    QCOMPARE(form.txtEmailsAllowedCount->text(), QString("0"));
    QCOMPARE(form.txttotalemailsever->text(), QString("999"));
    QCOMPARE(form.SSTab1->currentIndex(), 0);
}

void TestConfigWindow::reloadWithoutStatsZeroesCounters() {
    TempFolder folder;
    frmMain form(folder.path());
    form.Form_Load();
    form.txtEmailsBlockedCount->setText("17");
    form.txttotalemailsever->setText("300");
    form.txtkeywordsCount->setText("3");
    form.cmdreloadconfig_Click();
    QCOMPARE(counters(form), (QStringList{"0", "0", "0", "0", "0", "300"}));
}

void TestConfigWindow::largeListsLoadAndSave() {
    // Well beyond 16-bit row numbers.
    const int rows = 40000;
    QByteArray list;
    QByteArray accounts;
    for (int i = 1; i <= rows; ++i) {
        list += "entry" + QByteArray::number(i) + "@example.org\r\n";
        accounts += "pop" + QByteArray::number(i) + ".example.org,user,pw\r\n";
    }
    TempFolder folder;
    folder.write("accounts.dat", accounts);
    folder.write("whitelist.dat", list);
    folder.write("blacklist.dat", list);
    folder.write("keywords.dat", list);
    frmMain form(folder.path());
    QElapsedTimer timer;
    timer.start();
    form.Form_Load();
    qInfo("four lists of %d rows loaded in %lld ms", rows, timer.elapsed());
    for (const ubGrid* grid :
         {form.gridAccounts, form.gridwhitelist, form.gridblacklist, form.gridkeywords})
        QCOMPARE(grid->rows(), rows);
    QCOMPARE(form.txtkeywordsCount->text(), QString::number(rows));
    QCOMPARE(form.gridkeywords->celltext(rows, 1), QString("entry%1@example.org").arg(rows));
    timer.restart();
    form.cmdupdateconfig_Click();
    qInfo("saved in %lld ms", timer.elapsed());
    QCOMPARE(folder.read("keywords.dat"), list);
    QCOMPARE(folder.read("accounts.dat"), accounts);
}

QTEST_MAIN(TestConfigWindow)
#include "tst_configwindow.moc"
