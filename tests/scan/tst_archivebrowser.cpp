// An archive page in a real browser (Debian's headless Chromium): under the page's
// Content-Security-Policy nothing loads, the reason reads as text, and a click on the page's
// download link saves the original message byte for byte. Skipped where Chromium is missing.
//
// The browser is driven through its DevTools protocol (support/browser.h). The click is a real
// mouse press and release at the link.
#include "scan/archivepagefile.h"
#include "scan/pop3/messagepage.h"
#include "scan/pop3/parsedmessage.h"
#include "support/browser.h"
#include "support/tempfolder.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QTest>
#include <QUrl>

class TestArchiveBrowser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void downloadLinkSavesTheOriginalUnderThePagePolicy();
};

void TestArchiveBrowser::downloadLinkSavesTheOriginalUnderThePagePolicy() {
    const QString program = Browser::chromiumPath();
    if (program.isEmpty())
        QSKIP("chromium is not installed (scripts/setup test installs it): the archive page's "
              "download link was not tried in a browser");

    // Bytes a careless save would change: a NUL, 8-bit bytes that are not UTF-8, a lone LF and
    // CR, a line that starts with a dot, and markup.
    const char message[] =
        "From: \"Shop\" <deals@shop.example>\r\nSubject: <b>50% off</b> & more\r\n"
        "\r\nHello\0there \xe9\xff\r\n.dot\nlone\rend </pre><script>x()</script>\r\n";
    const QByteArray raw(message, sizeof message - 1);
    TempFolder folder;
    const RemovalNote note{"keyword", "<b>&amp;\x01", "the subject", "me on pop.example.org",
                           QDateTime::currentDateTime()};
    const SavedPage page =
        writeArchivePage(folder.file("offer.html"), parseMessage(raw), raw, note);
    QVERIFY2(page.failure.isEmpty(), qPrintable(page.failure));
    QDir(folder.path()).mkdir("downloads");
    QDir(folder.path()).mkdir("profile");

    Browser browser(program, folder.file("profile"));
    QVERIFY(browser.started());
    QVERIFY(!browser
                 .call("Browser.setDownloadBehavior", {{"behavior", "allow"},
                                                       {"downloadPath", folder.file("downloads")},
                                                       {"eventsEnabled", true}})
                 .contains("error"));
    const QString session = browser.openTab();
    QVERIFY(!session.isEmpty());
    QVERIFY(browser.load(session, QUrl::fromLocalFile(page.path)));

    // The page's policy is in force: not even an image from the page itself loads.
    QCOMPARE(browser.evaluate(
                 session, "new Promise(r => { const i = new Image(); i.onload = () => r('loaded'); "
                          "i.onerror = () => r('blocked'); i.src = 'data:image/gif;base64,"
                          "R0lGODlhAQABAIAAAP///wAAACwAAAAAAQABAAACAkQBADs='; })"),
             "blocked");
    // The reason reads as the text it is, markup characters and all.
    QCOMPARE(browser.evaluate(session, "document.getElementById('removal-reason').textContent"),
             "Removed as spam: keyword <b>&amp;\\x01 found in the subject");
    QCOMPARE(browser.evaluate(session, "document.querySelectorAll('script, img').length"), "0");

    // A real click in the middle of the link.
    const int document = browser.call("DOM.getDocument", {}, session)
                             .value("result")
                             .toObject()
                             .value("root")
                             .toObject()
                             .value("nodeId")
                             .toInt();
    const int link = browser
                         .call("DOM.querySelector",
                               {{"nodeId", document}, {"selector", "#message-download"}}, session)
                         .value("result")
                         .toObject()
                         .value("nodeId")
                         .toInt();
    QVERIFY(link > 0);
    const QJsonArray quad = browser.call("DOM.getBoxModel", {{"nodeId", link}}, session)
                                .value("result")
                                .toObject()
                                .value("model")
                                .toObject()
                                .value("content")
                                .toArray();
    QCOMPARE(quad.size(), 8);
    const double x = (quad.at(0).toDouble() + quad.at(4).toDouble()) / 2;
    const double y = (quad.at(1).toDouble() + quad.at(5).toDouble()) / 2;
    for (const char* type : {"mousePressed", "mouseReleased"})
        browser.call("Input.dispatchMouseEvent",
                     {{"type", type}, {"x", x}, {"y", y}, {"button", "left"}, {"clickCount", 1}},
                     session);

    const QJsonObject begun =
        browser.event("Browser.downloadWillBegin", [](const QJsonObject&) { return true; });
    QCOMPARE(begun.value("suggestedFilename").toString(), "_b_50% off__b_ & more.eml");
    const QJsonObject done = browser.event("Browser.downloadProgress", [](const QJsonObject& p) {
        return p.value("state").toString() != "inProgress";
    });
    QCOMPARE(done.value("state").toString(), "completed");
    QFile saved(done.value("filePath").toString());
    QVERIFY2(saved.open(QIODevice::ReadOnly), qPrintable(saved.fileName()));
    QCOMPARE(saved.readAll(), raw);
}

QTEST_GUILESS_MAIN(TestArchiveBrowser)
#include "tst_archivebrowser.moc"
