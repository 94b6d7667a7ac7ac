#pragma once

#include <QString>

// The texts of failures that several steps of the POP3 client report, each written once. The
// "...Text" functions are full sentences for errorString(); the "...Reason" ones say why a
// connection was given up, to fill in connectionLost().
namespace pop3text {

QString quitting();
QString quittingReason();
QString noCurrentMessage();
// "The connection to <server> was lost: <reason>"
QString connectionLost(const QString& server, const QString& reason);
QString unaskedData(const QString& server);
QString unaskedDataReason();
QString notPop3(const QString& server);
QString notPop3Reason();
QString noAnswer(const QString& server, int seconds);
QString noAnswerReason();
// The server's own words from a status line, cut short and with control characters blanked.
QString serverWords(const QByteArray& statusText);

} // namespace pop3text
