#include "scan/accountfailures.h"

#include "scan/pop3/FreePOP.h"
#include "scan/removalreason.h"

#include <algorithm>

namespace {

QString headline(int errorCode) {
    switch (errorCode) {
    case FreePOP::ConnectionFailed:
        return QStringLiteral("the server could not be reached");
    case FreePOP::LoginRefused:
        return QStringLiteral("the server refused the login name or the password");
    case FreePOP::CommandRefused:
        return QStringLiteral("the server refused to count the messages");
    case FreePOP::ProtocolError:
        return QStringLiteral("the server's answers were not understood");
    case FreePOP::TimedOut:
        return QStringLiteral("the server did not answer in time");
    case FreePOP::ConnectionLost:
        return QStringLiteral("the connection to the server broke off");
    case FreePOP::BadArgument:
        return QStringLiteral("the login name or the password contains a line break");
    case FreePOP::TlsHandshakeFailed:
        return QStringLiteral("no encrypted connection to the server came about");
    case FreePOP::CertificateUntrusted:
        return QStringLiteral("the server's certificate is not trusted");
    case FreePOP::HostNameMismatch:
        return QStringLiteral("the server's certificate is made out to another server");
    case FreePOP::StlsRefused:
        return QStringLiteral("the server refused to start encryption");
    case FreePOP::EncryptionMissing:
        return QStringLiteral("the server offered no encryption, which this account needs");
    case FreePOP::SignInNeeded:
        return QStringLiteral("the OAuth 2.0 sign-in has to be done again");
    default:
        break;
    }
    return QStringLiteral("the log-in failed");
}

bool sameAccount(const AccountFailure& a, const QString& server, const QString& login) {
    return a.server == server && a.login == login;
}

const AccountFailure* find(const QList<AccountFailure>& list, const QString& server,
                           const QString& login) {
    const auto it = std::find_if(list.cbegin(), list.cend(), [&](const AccountFailure& a) {
        return sameAccount(a, server, login);
    });
    return it == list.cend() ? nullptr : &*it;
}

QString names(const QList<AccountFailure>& accounts, const QString& separator) {
    QStringList list;
    for (const AccountFailure& a : accounts)
        list.append(accountName(a.server, a.login));
    return list.join(separator);
}

} // namespace

QString loginFailureSummary(int errorCode) {
    return headline(errorCode);
}

QString loginFailureReason(int errorCode, const QString& errorString) {
    const QString text = headline(errorCode);
    return errorString.isEmpty() ? text : text + QStringLiteral(": ") + errorString;
}

bool isAccountFailure(int errorCode) {
    return errorCode != FreePOP::NoError && errorCode != FreePOP::Interrupted;
}

void AccountWatch::beginPass() {
    m_failedNow.clear();
    m_checkedNow.clear();
}

void AccountWatch::failed(const AccountFailure& failure) {
    if (!find(m_failedNow, failure.server, failure.login))
        m_failedNow.append(failure);
}

void AccountWatch::checked(const QString& server, const QString& login) {
    m_checkedNow.insert({server, login});
}

AccountWatch::Changes AccountWatch::endPass() {
    Changes changes;
    for (const AccountFailure& now : m_failedNow) {
        if (!find(m_failing, now.server, now.login))
            changes.startedFailing.append(now);
    }
    for (const AccountFailure& before : m_failing) {
        if (m_checkedNow.contains({before.server, before.login}) &&
            !find(m_failedNow, before.server, before.login))
            changes.workingAgain.append(before);
    }
    m_failing = std::exchange(m_failedNow, {});
    m_checkedNow.clear();
    return changes;
}

const AccountFailure* AccountWatch::failureOf(const QString& server, const QString& login) const {
    return find(m_failing, server, login);
}

QString accountsNotCheckedNotice(const QList<AccountFailure>& failing) {
    // By login name only: with the closing text before it, the line has room for little more.
    QStringList logins;
    for (const AccountFailure& a : failing)
        logins.append(a.login.isEmpty() ? a.server : a.login);
    if (logins.isEmpty())
        return QString();
    if (logins.size() == 1)
        return QStringLiteral(" - not checked: ") + logins.first();
    return QStringLiteral(" - %1 accounts not checked: ").arg(logins.size()) +
           logins.join(QStringLiteral(", "));
}

QString accountsNotCheckedDetails(const QList<AccountFailure>& failing) {
    QStringList lines;
    lines.append(failing.size() == 1 ? QStringLiteral("This account could not be checked:")
                                     : QStringLiteral("These accounts could not be checked:"));
    for (const AccountFailure& a : failing)
        lines.append(accountName(a.server, a.login) + QStringLiteral(": ") + a.reason);
    return lines.join(QLatin1Char('\n'));
}

QString startedFailingTitle(const QList<AccountFailure>& accounts) {
    return accounts.size() == 1
               ? QStringLiteral("A mail account could not be checked")
               : QStringLiteral("%1 mail accounts could not be checked").arg(accounts.size());
}

QString startedFailingText(const QList<AccountFailure>& accounts) {
    QStringList lines;
    for (const AccountFailure& a : accounts)
        lines.append(accountName(a.server, a.login) + QStringLiteral(": ") + a.summary);
    return lines.join(QLatin1Char('\n'));
}

QString workingAgainTitle(const QList<AccountFailure>& accounts) {
    return accounts.size() == 1
               ? QStringLiteral("A mail account is checked again")
               : QStringLiteral("%1 mail accounts are checked again").arg(accounts.size());
}

QString workingAgainText(const QList<AccountFailure>& accounts) {
    return names(accounts, QStringLiteral("\n"));
}
