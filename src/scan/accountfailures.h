#pragma once

#include <QList>
#include <QSet>
#include <QString>

#include <utility>

// Accounts that a scan pass could not check because their log-in failed: the reason in plain
// words, and which accounts started failing or work again from one pass to the next, so that the
// user is told once rather than at every automatic pass. An account is its server cell and its
// login name; the password is never part of anything here.

struct AccountFailure {
    QString server;
    QString login;
    QString reason;  // in plain words, see loginFailureReason
    QString summary; // the same without the server's own words, see loginFailureSummary

    bool operator==(const AccountFailure&) const = default;
};

// Why a log-in failed, for the user: what went wrong in plain words ("the server refused the
// login name or the password"), then the POP3 component's own account of it when it gave one.
// errorCode is a FreePOP::Error value.
QString loginFailureReason(int errorCode, const QString& errorString);
// What went wrong in plain words alone: for where the server's words, which may look like markup,
// had better not go.
QString loginFailureSummary(int errorCode);

// Whether a failed log-in says something about the account. The program quitting in the middle
// of one does not.
bool isAccountFailure(int errorCode);

// The accounts that failed in the last pass, and the changes from the pass before it.
class AccountWatch {
public:
    struct Changes {
        QList<AccountFailure> startedFailing; // failed now, not in the pass before
        QList<AccountFailure> workingAgain;   // failed in the pass before, checked now
    };

    // A new pass starts; what it records counts once it has ended.
    void beginPass();
    // The account's log-in failed in this pass. Of an account on two rows the first failure counts.
    void failed(const AccountFailure& failure);
    // The account was logged into in this pass.
    void checked(const QString& server, const QString& login);
    // The pass is over: its failures replace those of the pass before. An account that failed
    // before and was not tried in this pass (it was deleted) is dropped without a change.
    Changes endPass();

    // The accounts that failed in the last pass that ended, in the order they were tried.
    const QList<AccountFailure>& failing() const { return m_failing; }
    // The failure of an account in the last pass that ended; null when it did not fail.
    const AccountFailure* failureOf(const QString& server, const QString& login) const;

private:
    QList<AccountFailure> m_failing;
    QList<AccountFailure> m_failedNow;
    QSet<std::pair<QString, QString>> m_checkedNow; // server and login
};

// The texts that tell the user about failing accounts (see accountName for how one is named).
// After the closing text of the status line: short, as the line has little room left, so the
// accounts go by their login names.
QString accountsNotCheckedNotice(const QList<AccountFailure>& failing);
// Every failing account with its reason, one a line.
QString accountsNotCheckedDetails(const QList<AccountFailure>& failing);
// The tray notifications: a title and a text for accounts that started failing (with the
// summaries of their reasons, as a desktop may read markup in a notification), and for accounts
// that work again.
QString startedFailingTitle(const QList<AccountFailure>& accounts);
QString startedFailingText(const QList<AccountFailure>& accounts);
QString workingAgainTitle(const QList<AccountFailure>& accounts);
QString workingAgainText(const QList<AccountFailure>& accounts);
