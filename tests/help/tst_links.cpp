// The link procedure and the main window's outward links, seen through the desktop seam.
#include "app/clicklabel.h"
#include "app/frmMain.h"
#include "help/link.h"
#include "support/tempfolder.h"
#include "support/ui/scriptedboxes.h"

#include <QDir>
#include <QTabWidget>
#include <QTest>

class tst_links : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void openLink_data();
    void openLink();
    void desktopRefusalIsReported();
    void logoAndPageLinksOpenTheProductPage();
    void archiveLinkOpensTheSpamFolder();
    void archiveLinkWithoutTheFolderDoesNothing();

private:
    QList<LinkRequest> m_opened;
    bool m_desktopAccepts = true;
};

void tst_links::init() {
    m_opened.clear();
    m_desktopAccepts = true;
    setLinkOpener([this](const LinkRequest& request) {
        m_opened.append(request);
        return m_desktopAccepts;
    });
}

void tst_links::cleanup() {
    setLinkOpener({});
}

void tst_links::openLink_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("verb");
    QTest::addColumn<QString>("parameters");
    QTest::addColumn<bool>("relativeToFolder"); // the directory argument is the temporary folder
    QTest::addColumn<QString>("expectedUrl");   // "{folder}" stands for the temporary folder

    const QString page = "{folder}/page.html";
    QTest::newRow("file, Open") << page << "Open"
                                << "" << false << "file://{folder}/page.html";
    QTest::newRow("file, open, lower case") << page << "open"
                                            << "" << false << "file://{folder}/page.html";
    QTest::newRow("file, no verb") << page << ""
                                   << "" << false << "file://{folder}/page.html";
    QTest::newRow("folder, Explore") << "{folder}/sub/"
                                     << "Explore"
                                     << "" << false << "file://{folder}/sub/";
    QTest::newRow("relative file in the directory") << "page.html"
                                                    << "Open"
                                                    << "" << true << "file://{folder}/page.html";
    QTest::newRow("web address") << "https://example.org/a?b=1"
                                 << "Open"
                                 << "" << false << "https://example.org/a?b=1";
    QTest::newRow("bare host name") << "www.example.org"
                                    << "Open"
                                    << "" << false << "http://www.example.org";
    QTest::newRow("file name with blanks and a hash")
        << "{folder}/my page #1.html"
        << "Open"
        << "" << false << "file://{folder}/my%20page%20%231.html";
    // What the desktop cannot do fails without reaching it.
    QTest::newRow("missing file") << "{folder}/gone.html"
                                  << "Open"
                                  << "" << false << "";
    QTest::newRow("a file named as a folder") << "{folder}/page.html/"
                                              << "Open"
                                              << "" << false << "";
    QTest::newRow("print verb") << page << "print"
                                << "" << false << "";
    QTest::newRow("parameters") << page << "Open"
                                << "--new-window" << false << "";
    QTest::newRow("empty target") << ""
                                  << "Open"
                                  << "" << false << "";
    QTest::newRow("blank target") << "   "
                                  << "Open"
                                  << "" << false << "";
}

void tst_links::openLink() {
    QFETCH(QString, target);
    QFETCH(QString, verb);
    QFETCH(QString, parameters);
    QFETCH(bool, relativeToFolder);
    QFETCH(QString, expectedUrl);

    TempFolder folder;
    folder.write("page.html", "<html></html>");
    folder.write("my page #1.html", "<html></html>");
    QVERIFY(QDir(folder.path()).mkdir("sub"));
    target.replace("{folder}", folder.path());
    expectedUrl.replace("{folder}", folder.path());

    const bool opened = OpenLink(target, verb, parameters,
                                 relativeToFolder ? folder.path() : QString(), kShowNormal);
    if (expectedUrl.isEmpty()) {
        QVERIFY(!opened);
        QVERIFY(m_opened.isEmpty());
        return;
    }
    QVERIFY(opened);
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_opened.first().url.toString(QUrl::FullyEncoded), expectedUrl);
    QCOMPARE(m_opened.first().showMode, kShowNormal);
}

void tst_links::desktopRefusalIsReported() {
    m_desktopAccepts = false;
    QVERIFY(!OpenLink("https://example.org/", "Open", QString(), QString(), kShowHidden));
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_opened.first().showMode, kShowHidden);
}

// The logo and the hidden link captions of the six pages all open the help page beside the
// program, in a window the user can see; the main window stays as it was.
void tst_links::logoAndPageLinksOpenTheProductPage() {
    TempFolder folder;
    folder.write("index.html", "<html></html>");
    frmMain form(folder.path());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    form.SSTab1->setCurrentIndex(2);
    ScriptedBoxes boxes;

    QTest::mouseClick(form.Image1, Qt::LeftButton);
    for (ClickLabel* link :
         {form.Label9, form.Label21, form.Label20, form.Label22, form.Label23, form.Label24}) {
        QVERIFY(!link->isVisible());
        Q_EMIT link->clicked();
    }
    QCOMPARE(m_opened.size(), 7);
    const QUrl page = QUrl::fromLocalFile(folder.file("index.html"));
    for (const LinkRequest& request : m_opened) {
        QCOMPARE(request.url, page);
        QCOMPARE(request.showMode, kShowNormal);
    }
    QVERIFY(form.isVisible());
    QCOMPARE(form.SSTab1->currentIndex(), 2);
    QVERIFY(boxes.shown().isEmpty());
}

void tst_links::archiveLinkOpensTheSpamFolder() {
    TempFolder folder;
    QVERIFY(QDir(folder.path()).mkdir("SpamDeleted"));
    frmMain form(folder.path());
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));

    QTest::mouseClick(form.Label25, Qt::LeftButton);
    QCOMPARE(m_opened.size(), 1);
    QCOMPARE(m_opened.first().url, QUrl::fromLocalFile(folder.path() + "/SpamDeleted/"));
    QCOMPARE(m_opened.first().showMode, kShowNormal);
}

// Before the first spam is archived the folder does not exist: nothing is opened and nothing
// is said, also when a folder of the same name in other letter case exists.
void tst_links::archiveLinkWithoutTheFolderDoesNothing() {
    TempFolder folder;
    QVERIFY(QDir(folder.path()).mkdir("spamdeleted"));
    folder.write("SpamDeleted", "a file, not the folder");
    frmMain form(folder.path());
    ScriptedBoxes boxes;
    form.Label25_Click();
    QVERIFY(m_opened.isEmpty());
    QVERIFY(boxes.shown().isEmpty());
}

QTEST_MAIN(tst_links)
#include "tst_links.moc"
