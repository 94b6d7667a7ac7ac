#include "scan/module_scan.h"

#include "app/doevents.h"
#include "app/frmMain.h"
#include "app/msgbox.h"
#include "app/ubGrid.h"
#include "config/checkvalue.h"
#include "config/datafilenames.h"
#include "config/savefailures.h"
#include "config/statsio.h"
#include "scan/archivename.h"
#include "scan/backgroundwork.h"
#include "scan/counters.h"
#include "scan/fastclassifier.h"
#include "scan/pop3/pop3mailbox.h"
#include "scan/removalreason.h"
#include "scan/rulesfingerprint.h"
#include "scan/scanmemory.h"
#include "scan/scanreport.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QScopedValueRollback>
#include <QThreadPool>
#include <QTimer>

#include <memory>
#include <optional>

namespace {

// Messages whose texts together are longer than this (in UTF-16 units) are judged on a worker
// thread while the window goes on handling its events: upper-casing and searching a text of
// several megabytes takes longer than a frame.
constexpr qsizetype kJudgeOnWorker = 256 * 1024;

// The least time between two repaints of the window while a pass runs. The counters and the
// status line change with every message, hundreds of times a second; painting each change would
// cost more than judging the message, and no eye follows it. Nothing is lost: every change made
// in between is painted with the next repaint.
constexpr int kRepaintIntervalMs = 16;

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

// Spaces out the repaints of one window while it lives. A repaint the window asks for too soon
// after the last is held back and asked for again when the interval is over; the widgets' texts
// are not touched, only when they reach the screen.
class RepaintThrottle : public QObject {
public:
    explicit RepaintThrottle(QWidget* window)
        : m_window(window) {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { repost(); });
        m_window->installEventFilter(this);
    }
    ~RepaintThrottle() override {
        if (m_window) {
            m_window->removeEventFilter(this);
            // What was held back is painted as usual.
            if (m_holding)
                repost();
        }
    }
    RepaintThrottle(const RepaintThrottle&) = delete;
    RepaintThrottle& operator=(const RepaintThrottle&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != m_window || event->type() != QEvent::UpdateRequest)
            return false;
        if (!m_sinceRepaint.isValid() || m_sinceRepaint.elapsed() >= kRepaintIntervalMs) {
            m_sinceRepaint.start();
            m_holding = false;
            return false;
        }
        // The window asks for no other repaint until this one was handled, so one is asked
        // for again later.
        m_holding = true;
        if (!m_timer.isActive())
            m_timer.start(kRepaintIntervalMs - int(m_sinceRepaint.elapsed()));
        return true;
    }

private:
    void repost() {
        if (m_window)
            QCoreApplication::postEvent(m_window, new QEvent(QEvent::UpdateRequest),
                                        Qt::LowEventPriority);
    }

    QPointer<QWidget> m_window;
    QTimer m_timer;
    QElapsedTimer m_sinceRepaint;
    bool m_holding = false;
};

QStringList firstColumn(const ubGrid& grid) {
    QStringList entries;
    const int rows = grid.rows();
    entries.reserve(rows);
    for (int row = 1; row <= rows; ++row)
        entries.append(grid.celltext(row, 1));
    return entries;
}

using ClassifierPtr = std::shared_ptr<const FastClassifier>;

// A classifier of the pass: ready, or being built in the background. Each new one gets a higher
// generation.
struct UpcomingClassifier {
    quint64 generation = 0;
    QFuture<ClassifierPtr> classifier;
};

// The classifier of one pass, kept in step with the three list grids. A grid is read again only
// when it changed since it was last read, so a long list costs once per pass rather than once
// per message, while an edit made during one of the pass's yields is seen by the next message.
class ListWatch {
public:
    explicit ListWatch(const frmMain& form)
        : m_grids{form.gridwhitelist, form.gridblacklist, form.gridkeywords} {}

    // Reads the grids that changed since they were last read.
    void refresh() {
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
        if (changed) {
            m_digest = listsDigest(m_lists);
            ++m_listsRead;
            m_built = false;
        }
    }

    // The classifier for the lists as they are now. A change of the lists builds a new one in the
    // background, starting from a copy of the last: one in use by a judgement on the worker is
    // never changed under it. The first build of a pass goes on while it logs in.
    UpcomingClassifier upcoming() {
        refresh();
        if (!m_built) {
            ClassifierPtr base = m_upcoming.classifier.isValid()
                                     ? m_upcoming.classifier.result()
                                     : std::make_shared<const FastClassifier>();
            m_upcoming.classifier = runInBackground(
                QThreadPool::globalInstance(), [base = std::move(base), lists = m_lists] {
                    auto next = std::make_shared<FastClassifier>(*base);
                    next->setLists(lists);
                    return ClassifierPtr(std::move(next));
                });
            ++m_upcoming.generation;
            m_built = true;
        }
        return m_upcoming;
    }

    // The fingerprint of the rules in force: the lists as last read, and the switches.
    QByteArray fingerprint(const CheckSwitches& switches) {
        if (m_fingerprint.isEmpty() || m_fingerprintOf != m_listsRead ||
            switches != m_fingerprintSwitches) {
            m_fingerprint = rulesFingerprint(m_digest, switches);
            m_fingerprintOf = m_listsRead;
            m_fingerprintSwitches = switches;
        }
        return m_fingerprint;
    }

private:
    const ubGrid* m_grids[3];
    quint64 m_revisions[3] = {0, 0, 0};
    bool m_read[3] = {false, false, false};
    RuleLists m_lists;
    UpcomingClassifier m_upcoming;
    bool m_built = false; // m_upcoming is built from the lists as last read
    QByteArray m_digest;
    quint64 m_listsRead = 0; // how many times the lists were read
    QByteArray m_fingerprint;
    quint64 m_fingerprintOf = 0;
    CheckSwitches m_fingerprintSwitches;
};

// Judges a message; a long one in the background while the window's events are handled. The
// outcome is the same either way.
Classification judge(const ClassifierPtr& classifier, const MessageFields& message,
                     const CheckSwitches& switches) {
    const qsizetype length = message.sender.size() + message.subject.size() + message.body.size() +
                             message.received.size();
    if (length <= kJudgeOnWorker)
        return classifier->classify(message, switches);

    QFuture<Classification> judged =
        runInBackground(QThreadPool::globalInstance(), [classifier, message, switches] {
            return classifier->classify(message, switches);
        });
    EventLoopWait waiter;
    // While the program quits the window's events are not handled any more; the work is waited
    // for all the same.
    if (!awaitFuture(judged, waiter))
        judged.waitForFinished();
    return judged.result();
}

// The fields of a message the checks read; the "Received:" field only when the address check is
// on, since finding and decoding it costs.
template <typename Message>
MessageFields fieldsOf(const Message& message, const CheckSwitches& switches) {
    MessageFields fields;
    fields.sender = message.Sender();
    fields.subject = message.Subject();
    fields.body = message.Body();
    if (switches.checkspamcop == 1)
        fields.received = message.HeaderValue(QStringLiteral("Received:"));
    return fields;
}

// A parsed message read through the names the mailbox uses, so one helper serves both.
struct ParsedFields {
    const ParsedMessage& parsed;
    QString Sender() const { return parsed.sender; }
    QString Subject() const { return parsed.subject; }
    QString Body() const { return parsed.body; }
    QString HeaderValue(const QString& name) const { return parsed.header(name); }
};

// A message judged on the POP3 component's worker as soon as it was parsed, with the lists and
// switches of that moment. It stands only while both are still the same when the pass reaches
// the message; otherwise the message is judged again.
struct EarlyJudgement : MessageAnalysis {
    std::shared_ptr<const FastClassifier> classifier;
    CheckSwitches switches;
    Classification result;
};

// Keeps the mailbox judging ahead with the lists and switches the pass uses now.
class JudgeAhead {
public:
    explicit JudgeAhead(Pop3Mailbox& pop)
        : m_pop(pop) {}
    ~JudgeAhead() { m_pop.setAnalyzer({}); }
    JudgeAhead(const JudgeAhead&) = delete;
    JudgeAhead& operator=(const JudgeAhead&) = delete;

    void follow(const UpcomingClassifier& upcoming, const CheckSwitches& switches) {
        if (upcoming.generation == m_generation && switches == m_switches)
            return;
        m_generation = upcoming.generation;
        m_switches = switches;
        // The worker waits for a classifier still being built.
        m_pop.setAnalyzer([future = upcoming.classifier, switches](const ParsedMessage& parsed) {
            auto judgement = std::make_shared<EarlyJudgement>();
            judgement->classifier = future.result();
            judgement->switches = switches;
            judgement->result =
                judgement->classifier->classify(fieldsOf(ParsedFields{parsed}, switches), switches);
            return judgement;
        });
    }

    // The judgement made ahead for the current message, when it still stands.
    static std::optional<Classification> current(const Pop3Mailbox& pop,
                                                 const FastClassifier* classifier,
                                                 const CheckSwitches& switches) {
        const auto* early = dynamic_cast<const EarlyJudgement*>(pop.analysis().get());
        if (early && early->classifier.get() == classifier && early->switches == switches)
            return early->result;
        return std::nullopt;
    }

private:
    Pop3Mailbox& m_pop;
    quint64 m_generation = 0;
    CheckSwitches m_switches;
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
// when it is missing, with the note of why it is removed on its page. The file written; empty
// when none was.
QString archiveCurrentMessage(const frmMain& form, Pop3Mailbox& pop, const RemovalNote& note) {
    const QString folder = spamArchiveFolder(form.programFolder());
    if (!ensureArchiveFolder(folder))
        return QString();
    const QString path = archiveFilePath(folder, pop.Subject());
    if (path.isEmpty())
        return QString();
    pop.setPageNote(note);
    pop.SaveMessage(path);
    if (pop.ErrorCode() != 0)
        return QString();
    // The component names the file it wrote when the name asked for was taken meanwhile; a
    // stand-in for it may name none.
    return pop.savedPath().isEmpty() ? path : pop.savedPath();
}

// The spam removal for the current message: archive, notice, deletion mark, spam counter, and
// the line in the scan history. A message that could not be archived stays on the server and is
// not counted as blocked: deleting it would lose it for good if it was not spam after all.
void removeSpam(frmMain& form, Pop3Mailbox& pop, const Classification& result) {
    form.Label17->setText(spamDetectedStatus());
    const QString sender = pop.Sender();
    const QString subject = pop.Subject();
    ScanReport& report = ScanReport::of(form);
    const RemovalNote note =
        removalNoteFor(result, report.currentAccount(), QDateTime::currentDateTime());
    const QString page = archiveCurrentMessage(form, pop, note);
    if (page.isEmpty()) {
        const QString why = pop.errorString();
        report.messageKept(note, sender, subject,
                           QStringLiteral("the archive file could not be written") +
                               (why.isEmpty() ? QString() : QStringLiteral(": ") + why));
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
    report.messageRemoved(note, sender, subject, page);
}

// The classifier once it is built; the window's events are handled while it is, as a pass that
// passed over every message so far has only just started building it.
ClassifierPtr builtClassifier(const UpcomingClassifier& upcoming) {
    QFuture<ClassifierPtr> classifier = upcoming.classifier;
    EventLoopWait waiter;
    // While the program quits the window's events are not handled any more; it is waited for
    // all the same.
    if (!awaitFuture(classifier, waiter))
        classifier.waitForFinished();
    return classifier.result();
}

// Judges the current message and removes it when it is spam. The status line and the
// keyword-check counter end as the checks would leave them walking the lists row by row. Returns
// the verdict and the fingerprint of the rules it was reached under.
std::pair<Classification, QByteArray> classifyCurrentMessage(frmMain& form, Pop3Mailbox& pop,
                                                             ListWatch& lists, JudgeAhead& ahead) {
    const CheckSwitches switches = readSwitches(form);
    const UpcomingClassifier upcoming = lists.upcoming();
    ahead.follow(upcoming, switches);
    const ClassifierPtr classifier = builtClassifier(upcoming);

    std::optional<Classification> early = JudgeAhead::current(pop, classifier.get(), switches);
    if (!early)
        early = judge(classifier, fieldsOf(pop, switches), switches);
    const Classification& result = *early;
    if (result.status)
        form.Label17->setText(*result.status);
    if (result.keywordChecks > 0)
        form.Text2->setText(
            countedOn(form.Text2->text(), static_cast<double>(result.keywordChecks)));
    DoEventsIfDue();

    if (result.verdict == Verdict::Spam)
        removeSpam(form, pop, result);
    return {result, lists.fingerprint(switches)};
}

// The fingerprint of the rules in force now.
QByteArray rulesInForce(const frmMain& form, ListWatch& lists) {
    lists.refresh();
    return lists.fingerprint(readSwitches(form));
}

// Messages an earlier pass judged kept or whitelisted, under the rules in force now, are passed
// over: counted as judging them again would count them, keyword checks included, without being
// fetched. Their counts reach the window in one go before it can next show them: writing the
// counters for each of thousands of such messages would cost more than the rest of the pass.
class PassOver {
public:
    PassOver(frmMain& form, ListWatch& lists, ScanMemory& memory)
        : m_form(form)
        , m_lists(lists)
        , m_memory(memory) {}

    // Whether message n is passed over; it is counted then.
    bool take(int number) {
        const std::optional<quint32> checks =
            m_memory.passOver(number, rulesInForce(m_form, m_lists));
        if (!checks)
            return false;
        ++m_messages;
        m_checks += *checks;
        return true;
    }
    // Brings the counters up to date.
    void show() {
        if (m_messages > 0)
            m_form.txttotalemailsever->setText(
                countedOn(m_form.txttotalemailsever->text(), static_cast<double>(m_messages)));
        if (m_checks > 0)
            m_form.Text2->setText(countedOn(m_form.Text2->text(), static_cast<double>(m_checks)));
        m_messages = 0;
        m_checks = 0;
    }

private:
    frmMain& m_form;
    ListWatch& m_lists;
    ScanMemory& m_memory;
    qint64 m_messages = 0;
    qint64 m_checks = 0;
};

void scanAccount(frmMain& form, Pop3Mailbox& pop, ListWatch& lists, JudgeAhead& ahead,
                 ScanMemory& memory, ScanReport& report, int row) {
    const QString server = form.gridAccounts->celltext(row, 1);
    const QString login = form.gridAccounts->celltext(row, 2);
    pop.setPophostname(server);
    pop.setPopusername(login);
    pop.setPoppassword(form.gridAccounts->celltext(row, 3));
    pop.Connect();
    // A failed log-in skips the account, without a log-out; the window tells of it once the pass
    // is over, without a box that would hold up the next accounts.
    if (pop.ErrorCode() != 0) {
        report.accountFailed(server, login, pop.ErrorCode(), pop.errorString());
        return;
    }
    report.accountChecked(server, login);
    memory.beginAccount(pop, server, login, rulesInForce(form, lists));

    const int count = pop.MessageCount();
    PassOver passOver(form, lists, memory);
    for (int number = 1; number <= count; ++number) {
        // The window's events are handled before each message and after loading it, at most
        // every few milliseconds: often enough that it answers at once, rarely enough that a
        // mailbox of small messages is not slowed down by it.
        if (isYieldDue())
            passOver.show();
        DoEventsIfDue();
        if (passOver.take(number)) {
            report.messageGoneThrough();
            continue;
        }
        passOver.show();
        pop.FetchMessage(number);
        if (pop.ErrorCode() == 0) {
            pop.CompleteFetch();
            DoEventsIfDue();
            if (pop.ErrorCode() == 0) {
                const auto [result, rules] = classifyCurrentMessage(form, pop, lists, ahead);
                memory.judged(number, rules, result);
            }
        }
        // Every message number counts, failed fetches included.
        form.txttotalemailsever->setText(countedOn(form.txttotalemailsever->text()));
        report.messageGoneThrough();
    }
    passOver.show();
    // Numbers stay fixed until here; the messages marked for deletion leave the server now.
    pop.Disconnect();
    memory.endAccount(rulesInForce(form, lists));
}

// The accounts of the grid, as the memory of judged messages knows them.
QList<JudgedAccountKey> accountKeys(const ubGrid& grid) {
    QList<JudgedAccountKey> keys;
    for (int row = 1; row <= grid.rows(); ++row)
        keys.append({grid.celltext(row, 1), grid.celltext(row, 2)});
    return keys;
}

} // namespace

void module_scan(frmMain& form) {
    if (form.isScanRunning())
        return;
    const int accounts = form.gridAccounts->rows();
    if (accounts == 0)
        return;

    const QScopedValueRollback<bool> scanning(form.m_scanRunning, true);
    const RepaintThrottle throttle(&form);
    Pop3Mailbox& pop = form.mailbox();
    ListWatch lists(form);
    JudgeAhead ahead(pop);
    const QList<JudgedAccountKey> keys = accountKeys(*form.gridAccounts);
    ScanMemory memory(form.pathInFolder(datafile::judgedMessages()), keys);
    // The classifier is built while the first account logs in, unless every account's messages
    // were judged under the rules in force: then only for the first message that is fetched.
    if (memory.expectsFetches(keys, rulesInForce(form, lists)))
        ahead.follow(lists.upcoming(), readSwitches(form));
    ScanReport& report = ScanReport::of(form);
    report.beginPass(accounts);
    for (int row = 1; row <= accounts; ++row)
        scanAccount(form, pop, lists, ahead, memory, report, row);
    memory.save();

    form.Label17->setText(closingStatus());
    // A stats.dat that cannot be written leaves the counts in the window, and the status line
    // says so until something else is written there, as it says which accounts could not be
    // checked; a box would pile up with automatic passes. The line is too narrow for the whole
    // notices, so its tooltip holds them in full.
    QString reason;
    const bool saved = writeStatsFile(form, &reason);
    report.endPass(closingStatus(), saved ? QString() : statsNotSavedNotice(reason));
}
