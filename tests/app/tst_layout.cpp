// Every text on the main window's six pages, the four editing dialogs and the splash window
// shows whole, and no visible controls overlap, at the scale factor the test runs under
// (QT_SCALE_FACTOR: CTest runs this program at 1, 1.25, 1.5 and 2). The windows keep their
// fixed layout whatever font the desktop sets.
#include "app/frmMain.h"
#include "app/frmSplash.h"
#include "app/modal.h"
#include "app/ubGrid.h"
#include "editing/frmAddAccount.h"
#include "editing/signinstep.h"
#include "support/tempfolder.h"
#include "support/ui/layoutcheck.h"
#include "support/ui/scriptedboxes.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTabWidget>
#include <QTest>
#include <QTextBrowser>

#include <memory>

namespace {
const char* const kPages[] = {"Accounts", "Whitelist", "Blacklist", "Keywords", "Settings", "Help"};

// A program folder with lists, counters and the real help page, as a user's might be.
void fillFolder(const TempFolder& folder) {
    folder.write("accounts.dat", "pop.example.org,alice,s3cret-demo\r\n"
                                 "pop3s://mail.example.net,alice.b,demo-pass-2\r\n");
    folder.write("whitelist.dat", "bob@example.org\r\n@family.example\r\n");
    folder.write("blacklist.dat", "offers@spam.example\r\nbulk-mailer.example\r\n");
    folder.write("keywords.dat", "free money\r\nlimited time offer\r\n");
    folder.write("stats.dat",
                 "2\r\n2\r\n2\r\n2\r\n32767\r\n32767\r\n1\r\n5\r\n1\r\n1\r\n0\r\n1\r\n");
    QFile help(QStringLiteral(HELP_PAGE));
    QVERIFY(help.open(QIODevice::ReadOnly));
    folder.write("index.html", help.readAll());
}

void verifyLayout(QWidget* window, int atLeastTexts) {
    const LayoutReport report = checkLayout(window);
    QVERIFY2(report.faults.isEmpty(), qPrintable(report.faults.join(QLatin1Char('\n'))));
    QVERIFY2(report.texts >= atLeastTexts, qPrintable(QString::number(report.texts)));
}

using DialogButton = QPushButton* frmMain::*;
} // namespace

class TestLayout : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void checkerSeesCutAndOverlappingTexts();
    void mainWindowPages_data();
    void mainWindowPages();
    void helpPageNeedsNoSidewaysScrolling();
    void dialogs_data();
    void dialogs();
    void splashWindow();
    void desktopFontLeavesTheLayoutAlone();

private:
    TempFolder m_folder;
    std::unique_ptr<frmMain> m_main;
};

void TestLayout::initTestCase() {
    // The scale factor asked for is the one in force; otherwise this run checks nothing new.
    const QByteArray factor = qgetenv("QT_SCALE_FACTOR");
    qInfo("scale factor %s", factor.isEmpty() ? "1" : factor.constData());
    if (!factor.isEmpty())
        QCOMPARE(qApp->devicePixelRatio(), factor.toDouble());
    fillFolder(m_folder);
    m_main = std::make_unique<frmMain>(m_folder.path());
    m_main->Form_Load();
    m_main->Timer1->stop();
    QVERIFY(QTest::qWaitForWindowExposed(m_main.get()));
}

void TestLayout::cleanupTestCase() {
    m_main.reset();
}

// The check itself finds a caption hidden under a button and wrapped lines cut at the bottom,
// and passes the same controls once they are apart and tall enough.
void TestLayout::checkerSeesCutAndOverlappingTexts() {
    QWidget window;
    window.resize(400, 200);
    auto* label = new QLabel("The above email addresses are exempt from your spam filters. You "
                             "will always receive emails from these addresses.",
                             &window);
    label->setWordWrap(true);
    label->setGeometry(4, 4, 300, 30);
    auto* button = new QPushButton("Import", &window);
    button->setGeometry(296, 4, 65, 25);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(checkLayout(&window).faults.size(), 2);

    label->setGeometry(4, 4, 286, 60);
    const LayoutReport apart = checkLayout(&window);
    QVERIFY2(apart.faults.isEmpty(), qPrintable(apart.faults.join('\n')));
    QCOMPARE(apart.texts, 2);
}

void TestLayout::mainWindowPages_data() {
    QTest::addColumn<int>("page");
    QTest::addColumn<int>("texts");
    // Frame title, six captions, link and status line, six tabs, five buttons: 20, and the
    // page's own texts.
    const int pageTexts[] = {3, 4, 3, 3, 7, 0};
    for (int page = 0; page < 6; ++page)
        QTest::newRow(kPages[page]) << page << 20 + pageTexts[page];
}

// The window with its Statistics frame, command buttons and each page in turn.
void TestLayout::mainWindowPages() {
    QFETCH(int, page);
    QFETCH(int, texts);
    m_main->SSTab1->setCurrentIndex(page);
    QCOMPARE(m_main->SSTab1->tabText(page), QString(kPages[page]));
    verifyLayout(m_main.get(), texts);
}

// The help page on its tab reads from top to bottom: no line runs out of the view sideways.
void TestLayout::helpPageNeedsNoSidewaysScrolling() {
    m_main->SSTab1->setCurrentIndex(5);
    QTextBrowser* browser = m_main->webhelpbrowser;
    QTRY_VERIFY(!browser->document()->isEmpty());
    // The page is laid out bit by bit as it is shown; its size is known once all of it is.
    const QSizeF whole = browser->document()->documentLayout()->documentSize();
    QVERIFY(whole.height() > browser->viewport()->height());
    QVERIFY2(
        whole.width() <= browser->viewport()->width(),
        qPrintable(QStringLiteral("%1 > %2").arg(whole.width()).arg(browser->viewport()->width())));
    QTRY_COMPARE(browser->horizontalScrollBar()->maximum(), 0);
}

void TestLayout::dialogs_data() {
    QTest::addColumn<DialogButton>("button");
    QTest::addColumn<bool>("oauth");
    QTest::newRow("Add Account") << &frmMain::cmdAddAccount << false;
    QTest::newRow("Add Account, OAuth 2.0") << &frmMain::cmdAddAccount << true;
    QTest::newRow("Add Whitelist") << &frmMain::cmdAddWhitelist << false;
    QTest::newRow("Add Blacklist") << &frmMain::cmdAddBlacklist << false;
    QTest::newRow("Add Keywords") << &frmMain::cmdAddkeywords << false;
}

void TestLayout::dialogs() {
    QFETCH(DialogButton, button);
    QFETCH(bool, oauth);
    ScriptedBoxes boxes;
    bool checked = false;
    setModalHandler([&](QWidget* dialog) {
        if (auto* account = qobject_cast<frmAddAccount*>(dialog)) {
            account->signIn->checkOAuth->setChecked(oauth);
            QCoreApplication::processEvents();
        }
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        verifyLayout(dialog, 3);
        checked = true;
    });
    (m_main.get()->*button)->click();
    setModalHandler({});
    QVERIFY(checked);
    QVERIFY(boxes.shown().isEmpty());
}

void TestLayout::splashWindow() {
    frmSplash& splash = m_main->splash();
    splash.show();
    QVERIFY(QTest::qWaitForWindowExposed(&splash));
    QCOMPARE(splash.label->text(), QString("Now Loading. Please wait."));
    verifyLayout(&splash, 2);
    splash.hide();
}

// A desktop whose font is larger and wider than the one the windows are laid out for (as many
// desktops set one) changes nothing: the windows keep their own font and every text fits.
void TestLayout::desktopFontLeavesTheLayoutAlone() {
    const QFont desktop = QApplication::font();
    QApplication::setFont(QFont(QStringLiteral("DejaVu Serif"), 13));
    TempFolder folder;
    fillFolder(folder);
    frmMain main(folder.path());
    main.Form_Load();
    main.Timer1->stop();
    QVERIFY(QTest::qWaitForWindowExposed(&main));
    for (int page = 0; page < 6; ++page) {
        main.SSTab1->setCurrentIndex(page);
        verifyLayout(&main, 20);
    }
    main.splash().show();
    verifyLayout(&main.splash(), 2);
    main.splash().hide();
    bool checked = false;
    setModalHandler([&](QWidget* dialog) {
        verifyLayout(dialog, 3);
        checked = true;
    });
    main.cmdAddAccount->click();
    setModalHandler({});
    QApplication::setFont(desktop);
    QVERIFY(checked);
}

QTEST_MAIN(TestLayout)
#include "tst_layout.moc"
