#pragma once

#include "scan/accountfailures.h"
#include "scan/scanlog.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>

class frmMain;
class ubGrid;
struct RemovalNote;

// What the window tells of the scan passes beyond the counters, without a box in the way of an
// automatic pass:
//   - the accounts that could not be checked: after the closing text of the status line (with
//     every account and its reason in the line's tooltip) until the next pass; as a mark and a
//     tooltip on their rows of the Accounts grid; and as a tray notification when an account
//     starts failing and when it works again, not at every pass in between;
//   - the scan history in scan.log beside the program (see ScanLog).
// One per main window, made at its first pass and kept with it.
class ScanReport : public QObject {
    Q_OBJECT
public:
    static ScanReport& of(frmMain& form);
    ~ScanReport() override;

    void beginPass(int accounts);
    void accountFailed(const QString& server, const QString& login, int errorCode,
                       const QString& errorString);
    // The account was logged into; its messages are gone through now.
    void accountChecked(const QString& server, const QString& login);
    // The account being gone through, as the user reads it (see accountName).
    QString currentAccount() const { return m_currentAccount; }
    // One more message number gone through, whatever became of it.
    void messageGoneThrough() { ++m_pass.messages; }
    // page: the archive page's file.
    void messageRemoved(const RemovalNote& note, const QString& sender, const QString& subject,
                        const QString& page);
    void messageKept(const RemovalNote& note, const QString& sender, const QString& subject,
                     const QString& why);
    // Ends the pass: the status line shows the closing text, then the notice of stats.dat not
    // saved (empty when it was), then the accounts not checked.
    void endPass(const QString& closingText, const QString& statsNotice);

    const AccountWatch& accounts() const { return m_watch; }

private:
    explicit ScanReport(frmMain& form);
    void logged(bool written);
    QVariant gridDecoration(int row, int col, int role) const;

    frmMain& m_form;
    // The window's Accounts grid; it may go before this when the window is destroyed.
    QPointer<ubGrid> m_grid;
    AccountWatch m_watch;
    ScanLog m_log;
    ScanLog::PassSummary m_pass;
    QElapsedTimer m_passTime;
    QString m_logError; // why scan.log could not be written in this pass
    QString m_currentAccount;
};
