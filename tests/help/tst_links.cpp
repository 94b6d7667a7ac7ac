// The link procedure and the main window's outward links, seen through the desktop seam.
#include "app/clicklabel.h"
#include "app/frmMain.h"
#include "help/link.h"
#include "support/tempfolder.h"
#include "support/ui/scriptedboxes.h"

#include <QDir>
#include <QTabWidget>
#include <QTest>

class TestLinks : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void openLink_data();
    void openLink();
    void logoAndPageLinksOpenTheProductPage();
    void archiveLinkOpensTheSpamFolderOnlyWhenItExists();

private:
    QList<LinkRequest> m_opened;
    bool m_desktopAccepts = true;
};

void TestLinks::init() {
    m_opened.clear();
    m_desktopAccepts = true;
    setLinkOpener([this](const LinkRequest& request) {
        m_opened.append(request);
        return m_desktopAccepts;
    });
}

void TestLinks::cleanup() {
    setLinkOpener({});
}

void TestLinks::openLink_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("verb");
    QTest::addColumn<QString>("parameters");
    QTest::addColumn<bool>("desktopAccepts");
    QTest::addColumn<QString>("expectedUrl"); // "{dir}": the program folder; empty: not opened

    QTest::newRow("file") << "{dir}/my page #1.html"
                          << "Open"
                          << "" << true << "file://{dir}/my%20page%20%231.html";
    QTest::newRow("relative to the directory, lower-case verb")
        << "my page #1.html"
        << "open"
        << "" << true << "file://{dir}/my%20page%20%231.html";
    QTest::newRow("folder") << "{dir}/sub/"
                            << "Explore"
                            << "" << true << "file://{dir}/sub/";
    QTest::newRow("web address") << "www.example.org/a?b=1"
                                 << ""
                                 << "" << true << "http://www.example.org/a?b=1";
    QTest::newRow("desktop refuses") << "https://example.org/"
                                     << "Open"
                                     << "" << false << "https://example.org/";
    // What the desktop cannot do fails without reaching it.
    QTest::newRow("missing file") << "{dir}/gone.html"
                                  << "Open"
                                  << "" << true << "";
    QTest::newRow("print verb") << "{dir}/my page #1.html"
                                << "print"
                                << "" << true << "";
    QTest::newRow("blank target") << "  "
                                  << "Open"
                                  << "" << true << "";
}

void TestLinks::openLink() {
    QFETCH(QString, target);
    QFETCH(QString, verb);
    QFETCH(QString, parameters);
    QFETCH(bool, desktopAccepts);
    QFETCH(QString, expectedUrl);

    TempFolder folder;
    folder.write("my page #1.html", "<html></html>");
    QVERIFY(QDir(folder.path()).mkdir("sub"));
    target.replace("{dir}", folder.path());
    expectedUrl.replace("{dir}", folder.path());
    m_desktopAccepts = desktopAccepts;

    const bool opened = OpenLink(target, verb, parameters, folder.path(), kShowHidden);
    QCOMPARE(opened, desktopAccepts && !expectedUrl.isEmpty());
    QCOMPARE(m_opened.size(), expectedUrl.isEmpty() ? 0 : 1);
    if (!m_opened.isEmpty()) {
        QCOMPARE(m_opened.first().url.toString(QUrl::FullyEncoded), expectedUrl);
        QCOMPARE(m_opened.first().showMode, kShowHidden);
    }
}

// The logo and the hidden link captions of the six pages open the help page beside the
// program, in a window the user can see; the main window stays as it was.
void TestLinks::logoAndPageLinksOpenTheProductPage() {
    TempFolder folder;
    folder.write("index.html", "<html></html>");
    frmMain form(folder.path());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.SSTab1->setCurrentIndex(2);
    ScriptedBoxes boxes;

    QTest::mouseClick(form.Image1, Qt::LeftButton);
    for (ClickLabel* link :
         {form.Label9, form.Label21, form.Label20, form.Label22, form.Label23, form.Label24})
        Q_EMIT link->clicked();
    QCOMPARE(m_opened.size(), 7);
    for (const LinkRequest& request : m_opened) {
        QCOMPARE(request.url, QUrl::fromLocalFile(folder.file("index.html")));
        QCOMPARE(request.showMode, kShowNormal);
    }
    QVERIFY(form.isVisible());
    QCOMPARE(form.SSTab1->currentIndex(), 2);
    QVERIFY(boxes.shown().isEmpty());
}

// Before the first spam is archived the folder does not exist: nothing is opened and nothing
// is said (a folder of the name in other letter case, or a file of the name, does not count).
void TestLinks::archiveLinkOpensTheSpamFolderOnlyWhenItExists() {
    TempFolder folder;
    QVERIFY(QDir(folder.path()).mkdir("spamdeleted"));
    folder.write("SpamDeleted", "a file, not the folder");
    auto form = std::make_unique<frmMain>(folder.path());
    ScriptedBoxes boxes;
    form->Label25_Click();
    QVERIFY(m_opened.isEmpty());
    QVERIFY(boxes.shown().isEmpty());

    TempFolder withArchive;
    QVERIFY(QDir(withArchive.path()).mkdir("SpamDeleted"));
    form = std::make_unique<frmMain>(withArchive.path());
    form->show();
    QVERIFY(QTest::qWaitForWindowExposed(form.get()));
    QTest::mouseClick(form->Label25, Qt::LeftButton);
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_opened.first().url, QUrl::fromLocalFile(withArchive.path() + "/SpamDeleted/"));
    QCOMPARE(m_opened.first().showMode, kShowNormal);
}

QTEST_MAIN(TestLinks)
#include "tst_links.moc"
