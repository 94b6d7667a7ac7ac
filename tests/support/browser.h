#pragma once

#include <QDeadlineTimer>
#include <QJsonObject>
#include <QList>
#include <QProcess>
#include <QString>

#include <functional>

class QUrl;

// A headless Chromium (Debian's) driven through its DevTools protocol over a pipe
// (--remote-debugging-pipe: JSON messages ended by a NUL byte, on file descriptors 3 and 4 of the
// browser), so no network port and no websocket client are needed. Tests that need it skip when
// chromiumPath() finds none.
class Browser {
public:
    // The browser's program, or empty when none is installed.
    static QString chromiumPath();

    // profile: an empty folder for the browser's own files.
    Browser(const QString& program, const QString& profile);
    ~Browser();
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    bool started();

    // Sends a command and waits for its reply; the events that come in meanwhile are kept.
    QJsonObject call(const QString& method, const QJsonObject& params,
                     const QString& session = QString());
    // The first event of that name, among those kept or still to come; empty after the time.
    QJsonObject event(const QString& method, const std::function<bool(const QJsonObject&)>& fits);

    // Opens a new tab, attaches to it and returns the session to address it by; empty on failure.
    QString openTab();
    // Loads a page into the tab and waits until it has loaded; false when it did not.
    bool load(const QString& session, const QUrl& url);
    // The value of a JavaScript expression (a promise is awaited), as text.
    QString evaluate(const QString& session, const QString& expression);

private:
    int send(const QString& method, const QJsonObject& params, const QString& session = {});
    // The next message from the browser; empty when none came in time.
    QJsonObject next();

    QProcess m_process;
    int m_toBrowser[2] = {-1, -1};
    int m_fromBrowser[2] = {-1, -1};
    int m_lastId = 0;
    QByteArray m_buffer;
    QList<QJsonObject> m_events;
    // The whole session must be over in this time.
    QDeadlineTimer m_deadline{30000};
};
