// The help page in a real browser (Debian's headless Chromium) on a high-density screen (device
// scale factor 2), in a window as narrow as the Help tab and in a wide one: nothing runs out of
// the page sideways or out of its own box, and no text is set smaller than can be read.
// Skipped where Chromium is missing.
#include "support/browser.h"
#include "support/tempfolder.h"

#include <QDir>
#include <QTest>
#include <QUrl>

namespace {
// Every element that reaches past the window's right edge or whose content overflows its own
// box (a line too long for a table cell or a preformatted block), and every text smaller than
// 10 CSS pixels, one line each; empty when all is well.
const char kFaults[] = R"js(
(() => {
  const faults = [];
  const width = document.documentElement.clientWidth;
  if (document.documentElement.scrollWidth > width)
    faults.push('page ' + document.documentElement.scrollWidth + ' px wide in ' + width);
  for (const e of document.body.querySelectorAll('*')) {
    const box = e.getBoundingClientRect();
    const name = e.tagName + ' "' + e.textContent.trim().slice(0, 40) + '"';
    if (box.right > width + 0.5)
      faults.push(name + ' ends at ' + box.right + ' of ' + width);
    if (e.clientWidth > 0 && e.scrollWidth > e.clientWidth + 1)
      faults.push(name + ' holds ' + e.scrollWidth + ' px in ' + e.clientWidth);
    const own = [...e.childNodes].some(n => n.nodeType === 3 && n.textContent.trim());
    if (own && parseFloat(getComputedStyle(e).fontSize) < 10)
      faults.push(name + ' set in ' + getComputedStyle(e).fontSize);
  }
  return faults.join('\n');
})()
)js";
} // namespace

class TestHelpBrowser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void helpPageFitsAtScale2();
};

void TestHelpBrowser::helpPageFitsAtScale2() {
    const QString program = Browser::chromiumPath();
    if (program.isEmpty())
        QSKIP("chromium is not installed (scripts/setup test installs it): the help page was not "
              "tried in a browser");
    TempFolder folder;
    QDir(folder.path()).mkdir("profile");
    Browser browser(program, folder.file("profile"));
    QVERIFY(browser.started());
    const QString session = browser.openTab();
    QVERIFY(!session.isEmpty());

    // As narrow as the Help tab, and a browser window on half of a wide screen.
    for (const int width : {487, 960}) {
        const QJsonObject reply = browser.call(
            "Emulation.setDeviceMetricsOverride",
            {{"width", width}, {"height", 700}, {"deviceScaleFactor", 2}, {"mobile", false}},
            session);
        QVERIFY2(!reply.contains("error"), qPrintable(QString::number(width)));
        QVERIFY(browser.load(session, QUrl::fromLocalFile(QStringLiteral(HELP_PAGE))));
        QCOMPARE(browser.evaluate(session, "String(window.devicePixelRatio)"), "2");
        QVERIFY(browser.evaluate(session, "String(document.body.scrollHeight)").toInt() > 700);
        const QString faults = browser.evaluate(session, kFaults);
        QVERIFY2(faults.isEmpty(),
                 qPrintable(QStringLiteral("at %1 px:\n%2").arg(width).arg(faults)));
    }
}

QTEST_GUILESS_MAIN(TestHelpBrowser)
#include "tst_helpbrowser.moc"
