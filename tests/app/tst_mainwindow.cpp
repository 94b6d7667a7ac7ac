// The main window's life: Hide, the Exit button, the close question.
#include "app/SysTrayModule.h"
#include "app/endprogram.h"
#include "app/frmMain.h"
#include "app/ubGrid.h"
#include "support/tempfolder.h"
#include "support/ui/scriptedboxes.h"

#include <QCloseEvent>
#include <QLineEdit>
#include <QTest>

class TestMainWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void hideKeepsEverything();
    void exitButtonAnsweredNo();
    void exitButtonAnsweredYes();
    void closeAnsweredCancelHides();
    void closeAnsweredOkEnds();

private:
    int m_ends = 0;
};

void TestMainWindow::init() {
    m_ends = 0;
    setEndProgramHandler([this] { ++m_ends; });
    SysTrayModule::addIcon(nullptr, QStringLiteral("Left click for menu."), QIcon());
}

void TestMainWindow::cleanup() {
    setEndProgramHandler({});
}

void TestMainWindow::hideKeepsEverything() {
    TempFolder folder;
    frmMain form(folder.path());
    form.Form_Load();
    form.gridkeywords->addrow("unsaved");
    ScriptedBoxes boxes;
    form.cmdsystemtray_Click();
    QVERIFY(!form.isVisible());
    QVERIFY(boxes.shown().isEmpty());
    form.show();
    QCOMPARE(form.gridkeywords->celltext(1, 1), QString("unsaved"));
    QVERIFY(SysTrayModule::isAdded());
    QCOMPARE(m_ends, 0);
}

void TestMainWindow::exitButtonAnsweredNo() {
    TempFolder folder;
    frmMain form(folder.path());
    form.Form_Load();
    ScriptedBoxes boxes;
    boxes.answer(MsgBoxAnswer::No);
    form.cmdExitApplication_Click();
    QCOMPARE(boxes.shown().size(), 1);
    const MsgBoxRequest& box = boxes.shown().first();
    QCOMPARE(box.text, QString("Are you sure you want to exit the application?"));
    QCOMPARE(box.title, QString("Exit application."));
    QCOMPARE(box.buttons, MsgBoxButtons::YesNo);
    QVERIFY(form.isVisible());
    QVERIFY(SysTrayModule::isAdded());
    QCOMPARE(m_ends, 0);
}

void TestMainWindow::exitButtonAnsweredYes() {
    TempFolder folder;
    frmMain form(folder.path());
    form.Form_Load();
    form.gridkeywords->addrow("unsaved");
    ScriptedBoxes boxes;
    boxes.answer(MsgBoxAnswer::Yes);
    // The tray icon must already be gone when the program ends.
    bool trayGoneAtEnd = false;
    setEndProgramHandler([&] {
        ++m_ends;
        trayGoneAtEnd = !SysTrayModule::isAdded();
    });
    form.cmdExitApplication_Click();
    QCOMPARE(m_ends, 1);
    QVERIFY(trayGoneAtEnd);
    // Nothing is written on the way out.
    QVERIFY(!folder.exists("keywords.dat"));
    QVERIFY(!folder.exists("stats.dat"));
}

void TestMainWindow::closeAnsweredCancelHides() {
    TempFolder folder;
    frmMain form(folder.path());
    form.Form_Load();
    ScriptedBoxes boxes;
    boxes.answer(MsgBoxAnswer::Cancel);
    QVERIFY(!form.close());
    QCOMPARE(boxes.shown().size(), 1);
    const MsgBoxRequest& box = boxes.shown().first();
    QCOMPARE(box.text, QString("Click OK to exit this application.\r\n"
                               "Click CANCEL to keep it running in the system tray."));
    QCOMPARE(box.title, QString("Exit application?"));
    QCOMPARE(box.buttons, MsgBoxButtons::OkCancel);
    QVERIFY(!form.isVisible());
    QVERIFY(SysTrayModule::isAdded());
    QCOMPARE(m_ends, 0);
}

void TestMainWindow::closeAnsweredOkEnds() {
    TempFolder folder;
    frmMain form(folder.path());
    form.Form_Load();
    ScriptedBoxes boxes;
    boxes.answer(MsgBoxAnswer::Ok);
    bool trayGoneAtEnd = false;
    setEndProgramHandler([&] {
        ++m_ends;
        trayGoneAtEnd = !SysTrayModule::isAdded();
    });
    form.close();
    QCOMPARE(m_ends, 1);
    QVERIFY(trayGoneAtEnd);
    QVERIFY(!folder.exists("stats.dat"));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
