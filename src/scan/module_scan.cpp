#include "scan/module_scan.h"

#include "app/doevents.h"
#include "app/frmMain.h"
#include "app/msgbox.h"
#include "config/checkvalue.h"
#include "config/statsio.h"
#include "config/ubGrid.h"
#include "scan/archivename.h"
#include "scan/counters.h"
#include "scan/fastclassifier.h"
#include "scan/pop3/FreePOP.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

namespace {

QString spamDetectedStatus() {
    return QStringLiteral("SPAM DETECTED");
}

QString spamKeptStatus() {
    return QStringLiteral("SPAM DETECTED - kept on the server: the archive file could not be "
                          "written");
}

QString closingStatus() {
    return QStringLiteral("Corvanta - your closest ally in Fighting SPAM.");
}

// Marks the window as scanning for the lifetime of one pass.
class ScanningFlag {
public:
    explicit ScanningFlag(bool& flag)
        : m_flag(flag) {
        m_flag = true;
    }
    ~ScanningFlag() { m_flag = false; }
    ScanningFlag(const ScanningFlag&) = delete;
    ScanningFlag& operator=(const ScanningFlag&) = delete;

private:
    bool& m_flag;
};

QStringList firstColumn(const ubGrid& grid) {
    QStringList entries;
    const int rows = grid.rows();
    entries.reserve(rows);
    for (int row = 1; row <= rows; ++row)
        entries.append(grid.celltext(row, 1));
    return entries;
}

// The classifier of one pass, kept in step with the three list grids. A grid is read again only
// when it changed since it was last read, so a long list costs once per pass rather than once
// per message, while an edit made during one of the pass's yields is seen by the next message.
class ListWatch {
public:
    explicit ListWatch(const frmMain& form)
        : m_grids{form.gridwhitelist, form.gridblacklist, form.gridkeywords} {}

    const FastClassifier& classifier() {
        bool changed = false;
        QStringList* lists[] = {&m_lists.whitelist, &m_lists.blacklist, &m_lists.keywords};
        for (int i = 0; i < 3; ++i) {
            const quint64 revision = m_grids[i]->revision();
            if (m_read[i] && revision == m_revisions[i])
                continue;
            *lists[i] = firstColumn(*m_grids[i]);
            m_revisions[i] = revision;
            m_read[i] = true;
            changed = true;
        }
        if (changed)
            m_classifier.setLists(m_lists);
        return m_classifier;
    }

private:
    const ubGrid* m_grids[3];
    quint64 m_revisions[3] = {0, 0, 0};
    bool m_read[3] = {false, false, false};
    RuleLists m_lists;
    FastClassifier m_classifier;
};

CheckSwitches readSwitches(const frmMain& form) {
    CheckSwitches switches;
    switches.checkwhitelist = checkValue(form.checkwhitelist);
    switches.checkblacklist = checkValue(form.checkblacklist);
    switches.checkspamcop = checkValue(form.checkspamcop);
    switches.checkkeywords = checkValue(form.checkkeywords);
    return switches;
}

// Archives the current message in SpamDeleted under a name of its own, creating the folder
// when it is missing. False when no archive file was written.
bool archiveCurrentMessage(const frmMain& form, FreePOP& pop) {
    const QString folder = spamArchiveFolder(form.programFolder());
    if (!ensureArchiveFolder(folder))
        return false;
    const QString path = archiveFilePath(folder, pop.Subject());
    if (path.isEmpty())
        return false;
    pop.SaveMessage(path);
    return pop.ErrorCode() == 0;
}

// The spam removal for the current message: archive, notice, deletion mark, spam counter. A
// message that could not be archived stays on the server and is not counted as blocked: deleting
// it would lose it for good if it was not spam after all.
void removeSpam(frmMain& form, FreePOP& pop) {
    form.Label17->setText(spamDetectedStatus());
    const QString sender = pop.Sender();
    if (!archiveCurrentMessage(form, pop)) {
        form.Label17->setText(spamKeptStatus());
        // Told in the box as well: the status line is overwritten by the next message.
        MsgBox(QStringLiteral("Spam from") + sender + QLatin1String(kCrLf) +
                   QStringLiteral("It was kept on the server because its archive file could "
                                  "not be written."),
               MsgBoxButtons::Ok, appTitle());
        return;
    }
    // The pass waits here; window events still run, and a scan request then is ignored.
    MsgBox(QStringLiteral("Spam from") + sender, MsgBoxButtons::Ok, appTitle());
    pop.DeleteMessage();
    form.txtEmailsBlockedCount->setText(countedOn(form.txtEmailsBlockedCount->text()));
}

// Judges the current message and removes it when it is spam. The status line and the
// keyword-check counter end as the checks would leave them walking the lists row by row.
void classifyCurrentMessage(frmMain& form, FreePOP& pop, ListWatch& lists) {
    const CheckSwitches switches = readSwitches(form);
    MessageFields message;
    message.sender = pop.Sender();
    message.subject = pop.Subject();
    message.body = pop.Body();
    if (switches.checkspamcop == 1)
        message.received = pop.HeaderValue(QStringLiteral("Received:"));

    const Classification result = lists.classifier().classify(message, switches);
    if (result.status)
        form.Label17->setText(*result.status);
    if (result.keywordChecks > 0)
        form.Text2->setText(
            countedOn(form.Text2->text(), static_cast<double>(result.keywordChecks)));
    DoEventsIfDue();

    if (result.verdict == Verdict::Spam)
        removeSpam(form, pop);
}

void scanAccount(frmMain& form, FreePOP& pop, ListWatch& lists, int row) {
    pop.setPophostname(form.gridAccounts->celltext(row, 1));
    pop.setPopusername(form.gridAccounts->celltext(row, 2));
    pop.setPoppassword(form.gridAccounts->celltext(row, 3));
    pop.Connect();
    // A failed log-in skips the account silently, without a log-out.
    if (pop.ErrorCode() != 0)
        return;

    const int count = pop.MessageCount();
    for (int number = 1; number <= count; ++number) {
        DoEvents();
        pop.FetchMessage(number);
        if (pop.ErrorCode() == 0) {
            pop.CompleteFetch();
            DoEvents();
            if (pop.ErrorCode() == 0)
                classifyCurrentMessage(form, pop, lists);
        }
        // Every message number counts, failed fetches included.
        form.txttotalemailsever->setText(countedOn(form.txttotalemailsever->text()));
    }
    // Numbers stay fixed until here; the messages marked for deletion leave the server now.
    pop.Disconnect();
}

} // namespace

void module_scan(frmMain& form) {
    if (form.isScanRunning())
        return;
    const int accounts = form.gridAccounts->rows();
    if (accounts == 0)
        return;

    const ScanningFlag scanning(form.m_scanRunning);
    FreePOP& pop = *form.FreePOP1;
    ListWatch lists(form);
    for (int row = 1; row <= accounts; ++row)
        scanAccount(form, pop, lists, row);

    form.Label17->setText(closingStatus());
    // A file that cannot be written leaves the counts in the window; nothing is reported.
    writeStatsFile(form);
}
