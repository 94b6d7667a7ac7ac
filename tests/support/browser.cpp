#include "support/browser.h"

#include <QJsonDocument>
#include <QStandardPaths>
#include <QUrl>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

QString Browser::chromiumPath() {
    for (const char* name : {"chromium", "chromium-browser"}) {
        const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
        if (!path.isEmpty())
            return path;
    }
    return QString();
}

Browser::Browser(const QString& program, const QString& profile) {
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
                    {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
                     QStringLiteral("--disable-gpu"), QStringLiteral("--disable-quic"),
                     QStringLiteral("--no-first-run"),
                     QStringLiteral("--disable-background-networking"),
                     QStringLiteral("--disable-component-update"), QStringLiteral("--disable-sync"),
                     QStringLiteral("--user-data-dir=") + profile,
                     QStringLiteral("--remote-debugging-pipe"), QStringLiteral("about:blank")});
    ::close(m_toBrowser[0]);
    ::close(m_fromBrowser[1]);
    m_toBrowser[0] = m_fromBrowser[1] = -1;
}

Browser::~Browser() {
    if (m_process.state() != QProcess::NotRunning) {
        send(QStringLiteral("Browser.close"), {});
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

bool Browser::started() {
    return m_process.waitForStarted(10000);
}

QJsonObject Browser::call(const QString& method, const QJsonObject& params,
                          const QString& session) {
    const int id = send(method, params, session);
    for (;;) {
        const QJsonObject message = next();
        if (message.isEmpty() || message.value(QLatin1String("id")).toInt() == id)
            return message;
        m_events.append(message);
    }
}

QJsonObject Browser::event(const QString& method,
                           const std::function<bool(const QJsonObject&)>& fits) {
    const auto params = [](const QJsonObject& message) {
        return message.value(QLatin1String("params")).toObject();
    };
    const auto named = [&](const QJsonObject& message) {
        return message.value(QLatin1String("method")).toString() == method;
    };
    for (qsizetype i = 0; i < m_events.size(); ++i) {
        if (named(m_events.at(i)) && fits(params(m_events.at(i))))
            return params(m_events.takeAt(i));
    }
    for (;;) {
        const QJsonObject message = next();
        if (message.isEmpty())
            return message;
        if (named(message) && fits(params(message)))
            return params(message);
        m_events.append(message);
    }
}

QString Browser::openTab() {
    const auto result = [](const QJsonObject& reply) {
        return reply.value(QLatin1String("result")).toObject();
    };
    const QString target = result(call(QStringLiteral("Target.createTarget"),
                                       {{QStringLiteral("url"), QStringLiteral("about:blank")}}))
                               .value(QLatin1String("targetId"))
                               .toString();
    if (target.isEmpty())
        return QString();
    const QString session =
        result(call(QStringLiteral("Target.attachToTarget"),
                    {{QStringLiteral("targetId"), target}, {QStringLiteral("flatten"), true}}))
            .value(QLatin1String("sessionId"))
            .toString();
    if (!session.isEmpty())
        call(QStringLiteral("Page.enable"), {}, session);
    return session;
}

bool Browser::load(const QString& session, const QUrl& url) {
    call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), url.toString()}}, session);
    return !event(QStringLiteral("Page.loadEventFired"), [](const QJsonObject&) {
                return true;
            }).isEmpty();
}

QString Browser::evaluate(const QString& session, const QString& expression) {
    const QJsonObject reply =
        call(QStringLiteral("Runtime.evaluate"),
             {{QStringLiteral("expression"), expression}, {QStringLiteral("awaitPromise"), true}},
             session);
    return reply.value(QLatin1String("result"))
        .toObject()
        .value(QLatin1String("result"))
        .toObject()
        .value(QLatin1String("value"))
        .toVariant()
        .toString();
}

int Browser::send(const QString& method, const QJsonObject& params, const QString& session) {
    QJsonObject message{{QStringLiteral("id"), ++m_lastId},
                        {QStringLiteral("method"), method},
                        {QStringLiteral("params"), params}};
    if (!session.isEmpty())
        message.insert(QStringLiteral("sessionId"), session);
    const QByteArray bytes = QJsonDocument(message).toJson(QJsonDocument::Compact) + '\0';
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n =
            ::write(m_toBrowser[1], bytes.constData() + written, size_t(bytes.size() - written));
        if (n <= 0)
            break;
        written += n;
    }
    return m_lastId;
}

QJsonObject Browser::next() {
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
