#include "scan/scanreport.h"

#include "app/SysTrayModule.h"
#include "app/frmMain.h"
#include "app/ubGrid.h"
#include "scan/pop3/messagepage.h"
#include "scan/removalreason.h"

#include <QApplication>
#include <QBrush>
#include <QColor>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QStyle>

namespace {

// The longest line of a tooltip, in characters: a reason may run to a few hundred.
constexpr qsizetype kTipLineLength = 90;

// A tooltip that shows the text as it is, however much of a server's words in it look like
// markup (a tooltip that does is shown as rich text), broken into lines of a readable length.
QString tooltipFor(const QString& text) {
    QStringList lines;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        QStringView rest(line);
        while (rest.size() > kTipLineLength) {
            qsizetype cut = rest.left(kTipLineLength + 1).lastIndexOf(QLatin1Char(' '));
            if (cut <= 0)
                cut = kTipLineLength;
            lines.append(rest.left(cut).toString());
            rest = rest.mid(cut);
            while (rest.startsWith(QLatin1Char(' ')))
                rest = rest.mid(1);
        }
        lines.append(rest.toString());
    }
    return QStringLiteral("<p style=\"white-space:pre\">") +
           lines.join(QLatin1Char('\n'))
               .toHtmlEscaped()
               .replace(QLatin1Char('\n'), QStringLiteral("<br>")) +
           QStringLiteral("</p>");
}

} // namespace

ScanReport& ScanReport::of(frmMain& form) {
    if (auto* report = form.findChild<ScanReport*>(QString(), Qt::FindDirectChildrenOnly))
        return *report;
    return *new ScanReport(form);
}

ScanReport::ScanReport(frmMain& form)
    : QObject(&form)
    , m_form(form)
    , m_grid(form.gridAccounts)
    , m_log(form.pathInFolder(QStringLiteral("scan.log"))) {
    m_grid->setDecoration(
        [this](int row, int col, int role) { return gridDecoration(row, col, role); });
}

ScanReport::~ScanReport() {
    if (m_grid)
        m_grid->setDecoration({});
}

void ScanReport::beginPass(int accounts) {
    m_watch.beginPass();
    m_pass = {};
    m_pass.accounts = accounts;
    m_passTime.start();
    m_logError.clear();
}

void ScanReport::accountFailed(const QString& server, const QString& login, int errorCode,
                               const QString& errorString) {
    if (!isAccountFailure(errorCode))
        return;
    const AccountFailure failure{server, login, loginFailureReason(errorCode, errorString),
                                 loginFailureSummary(errorCode)};
    m_watch.failed(failure);
    ++m_pass.notChecked;
    logged(m_log.accountNotChecked(QDateTime::currentDateTime(), accountName(server, login),
                                   failure.reason));
}

void ScanReport::accountChecked(const QString& server, const QString& login) {
    m_watch.checked(server, login);
    m_currentAccount = accountName(server, login);
}

void ScanReport::messageRemoved(const RemovalNote& note, const QString& sender,
                                const QString& subject, const QString& page) {
    ++m_pass.removed;
    const QString relative = QDir(m_form.programFolder()).relativeFilePath(page);
    logged(m_log.messageRemoved(note.time.isValid() ? note.time : QDateTime::currentDateTime(),
                                note.account, sender, subject, removalReasonText(note), relative));
}

void ScanReport::messageKept(const RemovalNote& note, const QString& sender, const QString& subject,
                             const QString& why) {
    logged(m_log.messageKept(note.time.isValid() ? note.time : QDateTime::currentDateTime(),
                             note.account, sender, subject, removalReasonText(note), why));
}

void ScanReport::endPass(const QString& closingText, const QString& statsNotice) {
    const AccountWatch::Changes changes = m_watch.endPass();
    m_pass.durationMs = m_passTime.elapsed();
    logged(m_log.passEnded(QDateTime::currentDateTime(), m_pass));

    // The status line holds one line: the notices follow the closing text in short, and the
    // tooltip holds them in full.
    const QList<AccountFailure>& failing = m_watch.failing();
    QLabel* status = m_form.Label17;
    const QString firstLine = closingText + statsNotice;
    status->setText(firstLine + accountsNotCheckedNotice(failing));
    QStringList tip;
    if (!statsNotice.isEmpty() || !failing.isEmpty() || !m_logError.isEmpty())
        tip.append(firstLine);
    if (!failing.isEmpty())
        tip.append(accountsNotCheckedDetails(failing));
    if (!m_logError.isEmpty())
        tip.append(QStringLiteral("The scan history scan.log could not be written: ") + m_logError);
    // What a server said is shown as the text it is.
    const QString tipText = tip.join(QLatin1Char('\n'));
    status->setToolTip(failing.isEmpty() ? tipText : tooltipFor(tipText));

    if (m_grid)
        m_grid->refreshDecoration();

    if (!changes.startedFailing.isEmpty())
        SysTrayModule::showMessage(startedFailingTitle(changes.startedFailing),
                                   startedFailingText(changes.startedFailing),
                                   SysTrayModule::MessageKind::Warning);
    if (!changes.workingAgain.isEmpty())
        SysTrayModule::showMessage(workingAgainTitle(changes.workingAgain),
                                   workingAgainText(changes.workingAgain),
                                   SysTrayModule::MessageKind::Information);
}

void ScanReport::logged(bool written) {
    if (!written && m_logError.isEmpty())
        m_logError = m_log.lastError();
}

QVariant ScanReport::gridDecoration(int row, int col, int role) const {
    if (!m_grid)
        return QVariant();
    const ubGrid& grid = *m_grid;
    if (role != Qt::ToolTipRole && role != Qt::BackgroundRole &&
        !(role == Qt::DecorationRole && col == 1))
        return QVariant();
    const AccountFailure* failure = m_watch.failureOf(grid.celltext(row, 1), grid.celltext(row, 2));
    if (!failure)
        return QVariant();
    switch (role) {
    case Qt::ToolTipRole:
        return tooltipFor(QStringLiteral("Not checked in the last scan: ") + failure->reason);
    case Qt::BackgroundRole:
        return QBrush(QColor(0xfd, 0xe2, 0xdd));
    default:
        return QApplication::style()->standardIcon(QStyle::SP_MessageBoxWarning);
    }
}
