#include "scan/pop3/pop3texts.h"

#include <QCoreApplication>

namespace {

// Server texts quoted in error strings are cut to this length.
constexpr qsizetype kMaxQuotedText = 200;

QString tr(const char* text) {
    return QCoreApplication::translate("FreePOP", text);
}

} // namespace

namespace pop3text {

QString quitting() {
    return tr("The program is quitting.");
}

QString quittingReason() {
    return tr("the program is quitting");
}

QString noCurrentMessage() {
    return tr("No message has been fetched.");
}

QString connectionLost(const QString& server, const QString& reason) {
    return tr("The connection to %1 was lost: %2").arg(server, reason);
}

QString unaskedData(const QString& server) {
    return tr("%1 sent data that was not asked for.").arg(server);
}

QString unaskedDataReason() {
    return tr("the server sent data that was not asked for");
}

QString notPop3(const QString& server) {
    return tr("%1 sent an answer that is not POP3.").arg(server);
}

QString notPop3Reason() {
    return tr("the server's answer was not POP3");
}

QString noAnswer(const QString& server, int seconds) {
    return tr("%1 did not answer within %2 seconds.").arg(server, QString::number(seconds));
}

QString noAnswerReason() {
    return tr("the server did not answer in time");
}

QString serverWords(const QByteArray& statusText) {
    QString text = QString::fromUtf8(statusText.left(kMaxQuotedText));
    for (QChar& c : text) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    text = text.trimmed();
    return text.isEmpty() ? tr("(no text)") : text;
}

} // namespace pop3text
