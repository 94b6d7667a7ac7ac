// An archive page in a real browser (Debian's headless Chromium): under the page's
// Content-Security-Policy nothing loads, the reason reads as text, and a click on the page's
// download link saves the original message byte for byte. Skipped where Chromium is missing.
//
// The browser is driven through its DevTools protocol over a pipe (--remote-debugging-pipe: JSON
// messages ended by a NUL byte, on file descriptors 3 and 4 of the browser), so no network port
// and no websocket client are needed. The click is a real mouse press and release at the link.
#include "scan/archivepagefile.h"
#include "scan/pop3/messagepage.h"
#include "scan/pop3/parsedmessage.h"
#include "support/tempfolder.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {

QString chromiumPath() {
    for (const char* name : {"chromium", "chromium-browser"}) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty())
            return path;
    }
    return QString();
}

// A headless Chromium and its end of the DevTools pipe.
class Browser {
public:
    Browser(const QString& program, const QString& profile) {
        if (::pipe2(m_toBrowser, O_CLOEXEC) != 0 || ::pipe2(m_fromBrowser, O_CLOEXEC) != 0)
            return;
        const int readEnd = m_toBrowser[0];
        const int writeEnd = m_fromBrowser[1];
        m_process.setChildProcessModifier([readEnd, writeEnd] {
            // The browser reads commands on 3 and writes replies on 4. Moved up first, so that
            // neither lands on the other's number; dup2 leaves the copies open across exec.
            const int in = ::fcntl(readEnd, F_DUPFD, 10);
            const int out = ::fcntl(writeEnd, F_DUPFD, 10);
            ::dup2(in, 3);
            ::dup2(out, 4);
        });
        m_process.setStandardOutputFile(QProcess::nullDevice());
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(program,
                        {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                         "--no-first-run", "--disable-background-networking",
                         "--disable-component-update", "--disable-sync",
                         "--user-data-dir=" + profile, "--remote-debugging-pipe", "about:blank"});
        ::close(m_toBrowser[0]);
        ::close(m_fromBrowser[1]);
        m_toBrowser[0] = m_fromBrowser[1] = -1;
    }

    ~Browser() {
        if (m_process.state() != QProcess::NotRunning) {
            send("Browser.close", {});
            if (!m_process.waitForFinished(5000)) {
                m_process.kill();
                m_process.waitForFinished(5000);
            }
        }
        for (int fd : {m_toBrowser[0], m_toBrowser[1], m_fromBrowser[0], m_fromBrowser[1]}) {
            if (fd >= 0)
                ::close(fd);
        }
    }
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    bool started() { return m_process.waitForStarted(10000); }

    // Sends a command and waits for its reply; the events that come in meanwhile are kept.
    QJsonObject call(const QString& method, const QJsonObject& params,
                     const QString& session = QString()) {
        const int id = send(method, params, session);
        for (;;) {
            const QJsonObject message = next();
            if (message.isEmpty() || message.value("id").toInt() == id)
                return message;
            m_events.append(message);
        }
    }

    // The first event of that name, among those kept or still to come; empty after the time.
    QJsonObject event(const QString& method, const std::function<bool(const QJsonObject&)>& fits) {
        for (qsizetype i = 0; i < m_events.size(); ++i) {
            if (m_events.at(i).value("method").toString() == method &&
                fits(m_events.at(i).value("params").toObject()))
                return m_events.takeAt(i).value("params").toObject();
        }
        for (;;) {
            const QJsonObject message = next();
            if (message.isEmpty())
                return message;
            if (message.value("method").toString() == method &&
                fits(message.value("params").toObject()))
                return message.value("params").toObject();
            m_events.append(message);
        }
    }

private:
    int send(const QString& method, const QJsonObject& params, const QString& session = {}) {
        QJsonObject message{{"id", ++m_lastId}, {"method", method}, {"params", params}};
        if (!session.isEmpty())
            message.insert("sessionId", session);
        const QByteArray bytes = QJsonDocument(message).toJson(QJsonDocument::Compact) + '\0';
        qsizetype written = 0;
        while (written < bytes.size()) {
            const ssize_t n = ::write(m_toBrowser[1], bytes.constData() + written,
                                      size_t(bytes.size() - written));
            if (n <= 0)
                break;
            written += n;
        }
        return m_lastId;
    }

    // The next message from the browser; empty when none came in time.
    QJsonObject next() {
        for (;;) {
            const qsizetype end = m_buffer.indexOf('\0');
            if (end >= 0) {
                const QByteArray text = m_buffer.left(end);
                m_buffer.remove(0, end + 1);
                return QJsonDocument::fromJson(text).object();
            }
            pollfd fd{m_fromBrowser[0], POLLIN, 0};
            const int left = int(m_deadline.remainingTime());
            if (left <= 0 || ::poll(&fd, 1, left) <= 0)
                return {};
            char chunk[65536];
            const ssize_t n = ::read(m_fromBrowser[0], chunk, sizeof chunk);
            if (n <= 0)
                return {};
            m_buffer.append(chunk, n);
        }
    }

    QProcess m_process;
    int m_toBrowser[2] = {-1, -1};
    int m_fromBrowser[2] = {-1, -1};
    int m_lastId = 0;
    QByteArray m_buffer;
    QList<QJsonObject> m_events;
    // The whole session must be over in this time.
    QDeadlineTimer m_deadline{30000};
};

QString evaluated(Browser& browser, const QString& session, const QString& expression) {
    const QJsonObject reply = browser.call(
        "Runtime.evaluate", {{"expression", expression}, {"awaitPromise", true}}, session);
    return reply.value("result")
        .toObject()
        .value("result")
        .toObject()
        .value("value")
        .toVariant()
        .toString();
}

} // namespace

class TestArchiveBrowser : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void downloadLinkSavesTheOriginalUnderThePagePolicy();
};

void TestArchiveBrowser::downloadLinkSavesTheOriginalUnderThePagePolicy() {
    const QString program = chromiumPath();
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
    const QString target = browser.call("Target.createTarget", {{"url", "about:blank"}})
                               .value("result")
                               .toObject()
                               .value("targetId")
                               .toString();
    QVERIFY(!target.isEmpty());
    const QString session =
        browser.call("Target.attachToTarget", {{"targetId", target}, {"flatten", true}})
            .value("result")
            .toObject()
            .value("sessionId")
            .toString();
    QVERIFY(!session.isEmpty());
    browser.call("Page.enable", {}, session);
    browser.call("Page.navigate", {{"url", QUrl::fromLocalFile(page.path).toString()}}, session);
    QVERIFY(
        !browser.event("Page.loadEventFired", [](const QJsonObject&) { return true; }).isEmpty());

    // The page's policy is in force: not even an image from the page itself loads.
    QCOMPARE(evaluated(browser, session,
                       "new Promise(r => { const i = new Image(); i.onload = () => r('loaded'); "
                       "i.onerror = () => r('blocked'); i.src = 'data:image/gif;base64,"
                       "R0lGODlhAQABAIAAAP///wAAACwAAAAAAQABAAACAkQBADs='; })"),
             "blocked");
    // The reason reads as the text it is, markup characters and all.
    QCOMPARE(evaluated(browser, session, "document.getElementById('removal-reason').textContent"),
             "Removed as spam: keyword <b>&amp;\\x01 found in the subject");
    QCOMPARE(evaluated(browser, session, "document.querySelectorAll('script, img').length"), "0");

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
