// The scan pass against a real mail server: a Dovecot of its own on 127.0.0.1 (the test fixture's
// script), a mailbox seeded with the mail corpus's folders spam-1 and easy-ham-1 (3,000 messages),
// and lists of 10,000 keywords, 10,000 blacklist entries and 2,000 whitelist entries made from a
// fixed seed, every check box on. The server keeps its files in memory (/dev/shm) where it can, as
// if it were the other machine it is in real use; --server-on-disk keeps them on the disk. Started
// again right after a benchmark, it first waits until that one's clean-up no longer weighs on the
// disk (see kSettleSeconds).
//
// Every run is a child process, so that its peak memory is its own, with a mailbox of its own
// seeded before anything is timed, so that every run sees the same messages. In one child, one
// after the other:
//   - the baseline: a minimal loop that sends RETR for every message and reads each reply to its
//     end, nothing else (no parsing, no classification);
//   - for information, the same downloads with up to 16 RETR commands in flight (what the wire
//     gives when the client never waits);
//   - the scan pass of the main window, shown offscreen, with every check box on and every notice
//     box answered at once, while a 10 ms timer records the longest gap between its ticks.
// Then the same pass over a mailbox that holds a single 25 MiB message (one with a large
// attachment, one with a large text body), for its peak memory and its longest stall.
//
// Then the passes that remember what they judged (judged.dat), each step in two mailboxes seeded
// alike: one scanned by a program folder that keeps its memory, the other by one whose memory is
// removed before every pass, so that every pass there is a full one, the baseline of the same
// step. The steps: the first pass; the mailbox unchanged; 10 new messages (5 from spam-2, 5 from
// easy-ham-2); one keyword added. Both must end every step alike, and the remembering one must
// retrieve nothing, then the 10 new messages, then everything. Last, a mailbox of 30,000 messages
// (the corpus delivered ten times) scanned twice and then unchanged again, for the time of a pass
// that retrieves nothing and the memory the remembered ids take.
//
// The runs must end alike: the outcome line (counters, a digest of the notices, what was left on
// the server) is printed once and marked when a run differed.
//
// Usage: bench_scan [--runs N] [--big-runs N] [--incremental-runs N] [--incremental-only]
//                   [--server-on-disk] [--wrap "command"]
//        (scripts/bench builds it in a Release folder and runs it; --wrap runs every child under
//        a command, such as a profiler; BENCH_SHOW_STDERR=1 shows what the children printed there)
#include "app/frmMain.h"
#include "app/msgbox.h"
#include "config/textfile.h"
#include "scan/judgedmemory.h"
#include "scan/pop3/FreePOP.h"
#include "scan/pop3/parsedmessage.h"
#include "support/corpus.h"
#include "support/countingtransport.h"
#include "support/dovecot.h"
#include "support/pop3probe.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <linux/fs.h>
#include <linux/magic.h>
#include <malloc.h>
#include <map>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

#ifndef CORVANTA_FIXTURE_SCRIPT
#define CORVANTA_FIXTURE_SCRIPT ""
#endif

namespace {

constexpr int kKeywords = 10000;
constexpr int kBlacklist = 10000;
constexpr int kWhitelist = 2000;
constexpr quint32 kSeed = 20240611;
constexpr qsizetype kBigMessage = 25 * 1024 * 1024;

void say(const char* format, const QString& text = QString()) {
    std::printf(format, qPrintable(text));
    std::fflush(stdout);
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// Peak resident memory of this process so far, in kB.
// Processor time in milliseconds (user and system) of the calling thread and of the whole process.
double threadCpuMs(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

// Processor time in milliseconds that the whole machine has spent busy so far (all cores): less
// the benchmark's own, it is what the mail server (and anything else running) took.
double machineCpuMs() {
    QFile stat(QStringLiteral("/proc/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    // "cpu  user nice system idle iowait irq softirq steal ..." in clock ticks.
    const QList<QByteArray> fields = stat.readLine().simplified().split(' ');
    double busy = 0;
    for (const int field : {1, 2, 3, 6, 7, 8})
        busy += fields.value(field).toDouble();
    return busy * 1e3 / double(sysconf(_SC_CLK_TCK));
}

// Bytes the heap holds for the program right now.
double heapInUseKb() {
    const struct mallinfo2 info = mallinfo2();
    return double(info.uordblks + info.hblkhd) / 1024;
}

long peakResidentKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    // A file of /proc has no size; it is read to its end in one go.
    const QList<QByteArray> lines = status.readAll().split('\n');
    for (const QByteArray& line : lines) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

struct ServerCell {
    QString host;
    quint16 port = 0;
};

ServerCell splitServer(const QString& server) {
    const qsizetype colon = server.lastIndexOf(QLatin1Char(':'));
    return {server.left(colon), server.mid(colon + 1).toUShort()};
}

// ---------------------------------------------------------------------------------------------
// The child: one run of the baseline and the pass, results on standard output.

// The options of one child's pass.
struct PassOptions {
    bool baseline = false; // the bare RETR loops first
    bool count = false;    // count what goes over the wire, and the heap the pass takes
    bool forget = false;   // remove judged.dat first: a full pass
};

int runPass(const QString& folder, const QString& server, const QString& user,
            const QString& password, const PassOptions& options) {
    const bool baseline = options.baseline;
    const ServerCell cell = splitServer(server);
    std::map<QByteArray, QByteArray> results;
    const auto put = [&results](const char* key, const auto& value) {
        if constexpr (std::is_same_v<std::decay_t<decltype(value)>, QByteArray>)
            results[key] = value;
        else
            results[key] = QByteArray::number(value);
    };

    if (baseline) {
        for (const int window : {1, 16}) {
            Pop3Probe client;
            if (!client.connect(cell.host, cell.port) || !client.login(user, password)) {
                std::fprintf(stderr, "the baseline could not log in\n");
                return 1;
            }
            const int count = client.stat();
            QElapsedTimer clock;
            clock.start();
            const qint64 bytes = client.retrieveAll(count, window);
            const double ms = clock.nsecsElapsed() / 1e6;
            client.quit();
            if (bytes < 0) {
                std::fprintf(stderr, "the baseline download failed\n");
                return 1;
            }
            put(window == 1 ? "baseline_ms" : "pipelined_ms", ms);
            put("baseline_messages", count);
            put("baseline_bytes", bytes);
        }
    }

    const QString memoryFile = folder + QStringLiteral("/judged.dat");
    if (options.forget)
        QFile::remove(memoryFile);
    frmMain form(folder);
    form.Form_Load();
    form.show();
    auto counts = std::make_shared<TransportCounts>();
    if (options.count)
        form.FreePOP1->setTransportFactory(CountingTransport::factory(counts));
    for (int i = 0; i < 10; ++i)
        QCoreApplication::processEvents();
    put("idle_peak_kb", peakResidentKb());
    const double heapBefore = options.count ? heapInUseKb() : 0;
    double heapPeak = heapBefore;

    // The notice boxes are answered at once; what time they take is left out of the stalls.
    QCryptographicHash notices(QCryptographicHash::Sha1);
    int noticeCount = 0;
    QElapsedTimer clock;
    qint64 inBoxesNs = 0;
    setMsgBoxHandler([&](const MsgBoxRequest& request) {
        const qint64 start = clock.nsecsElapsed();
        notices.addData((request.text + QChar(0x1f) + form.Label17->text() + QChar(0x1e)).toUtf8());
        ++noticeCount;
        inBoxesNs += clock.nsecsElapsed() - start;
        return MsgBoxAnswer::Ok;
    });

    QTimer ticker;
    ticker.setTimerType(Qt::PreciseTimer);
    ticker.setInterval(10);
    qint64 lastTick = 0;
    qint64 boxesAtLastTick = 0;
    qint64 longestGapNs = 0;
    QObject::connect(&ticker, &QTimer::timeout, [&] {
        if (options.count)
            heapPeak = std::max(heapPeak, heapInUseKb());
        const qint64 now = clock.nsecsElapsed();
        longestGapNs = std::max(longestGapNs, now - lastTick - (inBoxesNs - boxesAtLastTick));
        lastTick = now;
        boxesAtLastTick = inBoxesNs;
    });

    const double windowCpuBefore = threadCpuMs(RUSAGE_THREAD);
    const double processCpuBefore = threadCpuMs(RUSAGE_SELF);
    const double machineCpuBefore = machineCpuMs();
    clock.start();
    ticker.start();
    form.cmdscannow_Click();
    const double ms = clock.nsecsElapsed() / 1e6;
    const double windowCpu = threadCpuMs(RUSAGE_THREAD) - windowCpuBefore;
    put("cpu_window_ms", windowCpu);
    const double processCpu = threadCpuMs(RUSAGE_SELF) - processCpuBefore;
    put("cpu_others_ms", processCpu - windowCpu);
    put("cpu_server_ms", machineCpuMs() - machineCpuBefore - processCpu);
    // The gap from the last tick to the pass's end counts as well.
    longestGapNs =
        std::max(longestGapNs, clock.nsecsElapsed() - lastTick - (inBoxesNs - boxesAtLastTick));
    ticker.stop();
    setMsgBoxHandler({});

    put("pass_ms", ms);
    put("longest_stall_ms", longestGapNs / 1e6);
    put("peak_kb", peakResidentKb());
    put("scanned", form.txttotalemailsever->text().toUtf8());
    put("blocked", form.txtEmailsBlockedCount->text().toUtf8());
    put("keyword_checks", form.Text2->text().toUtf8());
    put("notices", noticeCount);
    put("notices_sha1", notices.result().toHex().left(12));
    put("archived", QDir(folder + QStringLiteral("/SpamDeleted")).entryList(QDir::Files).size());
    if (options.count) {
        put("retrievals", counts->retrievals());
        put("received_bytes", counts->received);
        put("heap_growth_kb", std::max(heapPeak, heapInUseKb()) - heapBefore);
        // What the remembered ids take when read, as every pass reads them.
        const double before = heapInUseKb();
        JudgedMemory memory(memoryFile);
        memory.load();
        qsizetype ids = 0;
        for (const auto& [account, judged] : memory.accounts())
            ids += judged.kept.size();
        put("memory_kb", heapInUseKb() - before);
        put("remembered", ids);
        put("memory_file_bytes", QFileInfo(memoryFile).size());
    }
    for (const auto& [key, value] : results)
        std::printf("result %s %s\n", key.constData(), value.constData());
    return 0;
}

// ---------------------------------------------------------------------------------------------
// The parent: the server, the mailbox, the lists, the runs.

// Runs dovecot-fixture.sh in a folder of its own and stops it again.
// What to do when interrupted, ready for a signal handler, which may do no more than replace the
// benchmark by a command: stop the mail server, then remove the benchmark's folders.
char gStopScript[4096];
char gStopFolder[4096];
char gTemporaryFolders[2][4096];
char gCleanupStamp[4096];

extern "C" void stopServerAndExit(int) {
    if (gStopScript[0] != 0)
        ::execl("/bin/bash", "bash", "-c",
                "\"$0\" stop \"$1\"; rm -rf -- \"$2\" \"$3\"; touch -- \"$4\"; exit 130",
                gStopScript, gStopFolder, gTemporaryFolders[0], gTemporaryFolders[1], gCleanupStamp,
                static_cast<char*>(nullptr));
    ::_exit(130);
}

// The file whose time tells when the last benchmark removed its folders.
QString cleanupStamp() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/.bench-cleanup");
}

// How long the benchmark's own clean-up weighs on creating files. It removes thousands of archive
// pages when it ends; ext4 without a journal (the build machine's) does not reuse the inodes of
// files deleted in about the last minute (longer while their inode table is not yet written back)
// and passes over every one of them for each new file in their block group. A benchmark run again
// at once would measure the file system working around the previous one's clean-up, so it waits
// until that is over.
constexpr int kSettleSeconds = 120;

void waitForTheDiskToSettle() {
    const QFileInfo stamp(cleanupStamp());
    if (!stamp.exists())
        return;
    const qint64 age = stamp.lastModified().secsTo(QDateTime::currentDateTime());
    if (age < 0 || age >= kSettleSeconds)
        return;
    say("waiting %s s for the disk to settle after the previous benchmark's clean-up...\n",
        QString::number(kSettleSeconds - age));
    QThread::sleep(static_cast<unsigned long>(kSettleSeconds - age));
}

void stampCleanup() {
    QFile stamp(cleanupStamp());
    if (stamp.open(QIODevice::WriteOnly | QIODevice::Truncate))
        stamp.write("the last benchmark removed its folders at this file's time\n");
}

// Copies text into a buffer for the signal handler; false when it does not fit.
bool keepForSignal(char (&buffer)[4096], const QString& text) {
    const QByteArray bytes = QFile::encodeName(text);
    if (bytes.isEmpty() || bytes.size() >= qsizetype(sizeof buffer))
        return false;
    std::memcpy(buffer, bytes.constData(), size_t(bytes.size()) + 1);
    return true;
}

class Server {
public:
    explicit Server(const QString& folder)
        : m_folder(folder) {}
    ~Server() {
        if (m_started)
            fixture(QStringLiteral("stop"));
    }
    // Interrupted (Ctrl-C) or terminated, the benchmark then stops its mail server and removes
    // the given folders on the way out.
    bool start(const QString& temporary, const QString& programs) {
        if (keepForSignal(gStopScript, QStringLiteral(CORVANTA_FIXTURE_SCRIPT)) &&
            keepForSignal(gStopFolder, m_folder) &&
            keepForSignal(gTemporaryFolders[0], temporary) &&
            keepForSignal(gTemporaryFolders[1], programs) &&
            keepForSignal(gCleanupStamp, cleanupStamp())) {
            std::signal(SIGINT, stopServerAndExit);
            std::signal(SIGTERM, stopServerAndExit);
        }
        m_started = fixture(QStringLiteral("start"));
        return m_started;
    }

private:
    bool fixture(const QString& command) {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(QStringLiteral("bash"),
                {QStringLiteral(CORVANTA_FIXTURE_SCRIPT), command, m_folder});
        return p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit &&
               p.exitCode() == 0;
    }
    QString m_folder;
    bool m_started = false;
};

QString pieceOfWords(QRandomGenerator& rng, const QString& text, int words) {
    const QStringList all = text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (all.size() < words)
        return QString();
    const auto start = rng.bounded(static_cast<int>(all.size() - words + 1));
    return all.mid(start, words).join(QLatin1Char(' '));
}

// A word no message holds: lower-case letters after a rare pair.
QString madeUpWord(QRandomGenerator& rng) {
    QString word = QStringLiteral("qz");
    for (auto n = 4 + rng.bounded(9); n > 0; --n)
        word += QChar(u'a' + rng.bounded(26));
    return word;
}

QString madeUpAddress(QRandomGenerator& rng) {
    return madeUpWord(rng) + QLatin1Char('@') + madeUpWord(rng) + QStringLiteral(".example");
}

// The address inside a From field ("Name <a@b>" or "a@b").
QString addressOf(const QString& from) {
    const qsizetype open = from.lastIndexOf(QLatin1Char('<'));
    const qsizetype close = from.lastIndexOf(QLatin1Char('>'));
    if (open >= 0 && close > open)
        return from.mid(open + 1, close - open - 1).trimmed();
    return from.trimmed();
}

struct Lists {
    QStringList whitelist;
    QStringList blacklist;
    QStringList keywords;
};

// Lists of made-up entries with a few real ones at random rows: pieces of the corpus's own
// senders, subjects and bodies, so that some messages are decided by an early row, some by a late
// one, and most by none.
Lists makeLists(const QList<ParsedMessage>& spam, const QList<ParsedMessage>& ham) {
    QRandomGenerator rng(kSeed);
    Lists lists;
    for (int i = 0; i < kWhitelist; ++i)
        lists.whitelist.append(madeUpAddress(rng));
    for (int i = 0; i < kBlacklist; ++i)
        lists.blacklist.append(madeUpAddress(rng));
    for (int i = 0; i < kKeywords; ++i)
        lists.keywords.append(madeUpWord(rng) + (rng.bounded(3) == 0
                                                     ? QStringLiteral(" ") + madeUpWord(rng)
                                                     : QString()));
    const auto place = [&rng](QStringList& list, const QString& entry) {
        if (!entry.trimmed().isEmpty())
            list[rng.bounded(static_cast<int>(list.size()))] = entry;
    };
    // Ordinary senders' domains on the whitelist, spam senders on the blacklist.
    for (int i = 0; i < 12; ++i) {
        const QString address = addressOf(ham.at(rng.bounded(int(ham.size()))).sender);
        place(lists.whitelist, address.mid(address.indexOf(QLatin1Char('@'))));
    }
    for (int i = 0; i < 40; ++i)
        place(lists.blacklist, addressOf(spam.at(rng.bounded(int(spam.size()))).sender));
    // Phrases of spam subjects and bodies among the keywords.
    for (int i = 0; i < 40; ++i)
        place(lists.keywords, pieceOfWords(rng, spam.at(rng.bounded(int(spam.size()))).subject, 2));
    for (int i = 0; i < 40; ++i)
        place(lists.keywords, pieceOfWords(rng, spam.at(rng.bounded(int(spam.size()))).body, 3));
    // Rows the checks must skip.
    lists.keywords[17] = QString();
    lists.blacklist[kBlacklist - 3] = QString();
    return lists;
}

// The program folder of the runs: the lists, the account, every check box on.
bool writeProgramFolder(const QString& folder, const Lists& lists, const QString& server,
                        const QString& user, const QString& password) {
    QDir().mkpath(folder + QStringLiteral("/SpamDeleted"));
    const QStringList stats{QString::number(1),
                            QString::number(lists.whitelist.size()),
                            QString::number(lists.blacklist.size()),
                            QString::number(lists.keywords.size()),
                            QStringLiteral("0"),
                            QStringLiteral("0"),
                            QStringLiteral("0"),
                            QStringLiteral("5"),
                            QStringLiteral("1"),
                            QStringLiteral("1"),
                            QStringLiteral("1"),
                            QStringLiteral("1")};
    return writeTextLines(folder + QStringLiteral("/accounts.dat"),
                          {server + QLatin1Char(',') + user + QLatin1Char(',') + password}) &&
           writeTextLines(folder + QStringLiteral("/whitelist.dat"), lists.whitelist) &&
           writeTextLines(folder + QStringLiteral("/blacklist.dat"), lists.blacklist) &&
           writeTextLines(folder + QStringLiteral("/keywords.dat"), lists.keywords) &&
           writeTextLines(folder + QStringLiteral("/stats.dat"), stats);
}

// A 25 MiB message: a short text with a large attachment, or a large text body. Both end up as
// spam (a keyword in the subject, or one near the end of the body), so the archive page is
// written too.
QByteArray bigMessage(bool textBody, const QString& keyword) {
    QRandomGenerator rng(kSeed);
    QByteArray raw = "From: Archive Robot <robot@big.example>\r\nTo: me@home.example\r\n"
                     "Date: Mon, 3 Jun 2024 10:00:00 +0000\r\nMIME-Version: 1.0\r\n";
    raw.reserve(kBigMessage + 4096);
    if (!textBody) {
        raw += "Subject: The archive you asked for: " + keyword.toUtf8() +
               "\r\nContent-Type: multipart/mixed; boundary=\"b1\"\r\n\r\n"
               "--b1\r\nContent-Type: text/plain; charset=utf-8\r\n\r\n"
               "Please find the archive attached.\r\n"
               "--b1\r\nContent-Type: application/octet-stream; name=\"archive.bin\"\r\n"
               "Content-Transfer-Encoding: base64\r\n\r\n";
        static const char alphabet[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        while (raw.size() < kBigMessage - 64) {
            char line[78];
            for (int i = 0; i < 76; ++i)
                line[i] = alphabet[rng.bounded(64)];
            line[76] = '\r';
            line[77] = '\n';
            raw.append(line, 78);
        }
        raw += "--b1--\r\n";
    } else {
        raw += "Subject: Minutes of every meeting\r\n"
               "Content-Type: text/plain; charset=utf-8\r\n\r\n";
        static const char* const words[] = {"meeting", "budget", "review", "the", "of",
                                            "project", "plan",   "team",   "and", "résumé"};
        const qsizetype keywordAt = kBigMessage - 4096;
        bool placed = false;
        while (raw.size() < kBigMessage - 2) {
            QByteArray line;
            while (line.size() < 70) {
                line += words[rng.bounded(10)];
                line += ' ';
            }
            if (!placed && raw.size() > keywordAt) {
                line += keyword.toUtf8();
                placed = true;
            }
            raw += line + "\r\n";
        }
    }
    return raw;
}

// Asks the file system to place each new folder in folder where it would place a top-level one
// (ext2/3/4's "top of directory hierarchy" flag); elsewhere nothing changes.
void spreadSubfolders(const QString& folder) {
    const int fd =
        ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    int flags = 0;
    if (::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags |= FS_TOPDIR_FL;
        ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    }
    ::close(fd);
}

// Microseconds it takes to create, write and close one small file in folder, the median of a few
// hundred: what each archive page costs the file system before any of the program's own work.
double fileCreationMicroseconds(const QString& folder) {
    QDir(folder).mkpath(QStringLiteral("probe"));
    const QString probe = QDir(folder).filePath(QStringLiteral("probe"));
    std::vector<double> times;
    for (int i = 0; i < 300; ++i) {
        QElapsedTimer timer;
        timer.start();
        QFile file(probe + QStringLiteral("/%1.html").arg(i));
        if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly) || file.write("probe") != 5)
            return -1;
        file.close();
        times.push_back(double(timer.nsecsElapsed()) / 1000);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// True when folder lies in a file system held in memory.
bool inMemory(const QString& folder) {
    struct statfs info {};
    return ::statfs(QFile::encodeName(folder).constData(), &info) == 0 &&
           info.f_type == TMPFS_MAGIC;
}

using Results = std::map<QByteArray, QByteArray>;

// A command that every child runs under (a profiler, for instance), from --wrap.
QStringList& childWrapper() {
    static QStringList wrapper;
    return wrapper;
}

bool runChild(const QStringList& arguments, Results& results) {
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    child.setProcessEnvironment(environment);
    QStringList command = childWrapper();
    command << QCoreApplication::applicationFilePath() << arguments;
    child.start(command.takeFirst(), command);
    if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit ||
        child.exitCode() != 0) {
        // The window's chatter on standard error is shown only when something went wrong.
        std::fputs(child.readAllStandardError().constData(), stderr);
        return false;
    }
    if (qEnvironmentVariableIsSet("BENCH_SHOW_STDERR"))
        std::fputs(child.readAllStandardError().constData(), stderr);
    results.clear();
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> words = line.split(' ');
        if (words.size() == 3 && words[0] == "result")
            results[words[1]] = words[2];
    }
    return true;
}

// A log-in and log-out, so that the server has read the freshly seeded mailbox before anything
// is timed.
bool warmUp(const ServerCell& cell, const DovecotMailbox& box) {
    Pop3Probe client;
    if (!client.connect(cell.host, cell.port) || !client.login(box))
        return false;
    const bool ok = client.stat() >= 0;
    client.quit();
    return ok;
}

QByteArray leftOnServer(const DovecotMailbox& box) {
    QCryptographicHash hash(QCryptographicHash::Sha1);
    const QList<QByteArray> left = box.messages();
    for (const QByteArray& raw : left)
        hash.addData(QCryptographicHash::hash(raw, QCryptographicHash::Sha1));
    return QByteArray::number(left.size()) + " messages, sha1 " + hash.result().toHex().left(12);
}

double num(const Results& r, const char* key) {
    const auto it = r.find(key);
    return it == r.end() ? 0 : it->second.toDouble();
}

// What a pass left behind, as every run of the same step must leave it.
QByteArray outcomeOf(Results& r, const DovecotMailbox& box) {
    return "scanned " + r["scanned"] + ", blocked " + r["blocked"] + ", keyword checks " +
           r["keyword_checks"] + ", notices " + r["notices"] + " (sha1 " + r["notices_sha1"] +
           "), archived " + r["archived"] + "; left on the server " + leftOnServer(box);
}

// The messages of a corpus folder, as a mail server is given them.
QList<QByteArray> corpusMessages(const QString& folder, qsizetype count) {
    QList<QByteArray> messages;
    for (const QString& file : corpus::messageFiles(folder).mid(0, count))
        messages.append(corpus::readMessage(file));
    return messages;
}

// The figures of the passes that remember what they judged.
struct IncrementalFigures {
    std::vector<double> firstMs, fullFirstMs, unchangedMs, fullUnchangedMs, unchangedRatio;
    std::vector<double> newMs, ruleMs, fullRuleMs, unchangedReceivedKb;
    std::vector<double> bigFirstMs, bigUnchangedMs, bigFullMs, bigMemoryKb, bigHeapKb;
    std::vector<double> bigFileKb, bigRemembered, bigPeakMb, bigFullPeakMb;
    bool alike = true;
    bool retrievalsAsExpected = true;
};

// One step: a pass in each program folder, the remembering one first. False when a child failed.
bool twinStep(const char* name, const QString& rememberingFolder, const QString& fullFolder,
              const DovecotMailbox& rememberingBox, const DovecotMailbox& fullBox,
              int expectedRetrievals, Results& remembering, Results& full,
              IncrementalFigures& figures) {
    if (!runChild({QStringLiteral("--pass"), rememberingFolder, rememberingBox.server(),
                   rememberingBox.userName(), rememberingBox.password(), QStringLiteral("--count")},
                  remembering) ||
        !runChild({QStringLiteral("--pass"), fullFolder, fullBox.server(), fullBox.userName(),
                   fullBox.password(), QStringLiteral("--count"), QStringLiteral("--forget")},
                  full))
        return false;
    const QByteArray a = outcomeOf(remembering, rememberingBox);
    const QByteArray b = outcomeOf(full, fullBox);
    const int retrieved = int(num(remembering, "retrievals"));
    const bool expected = expectedRetrievals < 0 || retrieved == expectedRetrievals;
    std::printf(
        "  %-16s %7.1f ms, %5d RETR, %7.1f KB received | full pass %7.1f ms, %5d RETR%s%s\n", name,
        num(remembering, "pass_ms"), retrieved, num(remembering, "received_bytes") / 1024,
        num(full, "pass_ms"), int(num(full, "retrievals")), a == b ? "" : "  (OUTCOMES DIFFER)",
        expected ? "" : "  (UNEXPECTED RETRIEVALS)");
    if (a != b)
        std::printf("    remembering: %s\n    full:        %s\n", a.constData(), b.constData());
    std::fflush(stdout);
    figures.alike = figures.alike && a == b;
    figures.retrievalsAsExpected = figures.retrievalsAsExpected && expected;
    return true;
}

// The passes that remember what they judged: the twin steps over the corpus, then the large
// mailbox.
int runIncremental(int runs, const QList<QByteArray>& messages, const Lists& lists,
                   const QString& addedKeyword, const ServerCell& cell, DovecotMailbox& boxA,
                   DovecotMailbox& boxB, DovecotMailbox& bigBox,
                   const std::function<QString(const DovecotMailbox&)>& freshFolder) {
    const QList<QByteArray> newMail = corpusMessages(QStringLiteral("spam-2"), 5) +
                                      corpusMessages(QStringLiteral("easy-ham-2"), 5);
    const qsizetype n = messages.size();
    std::printf("== passes that remember what they judged: %lld corpus messages, each step also "
                "in a twin mailbox scanned in full\n",
                n);
    IncrementalFigures f;
    for (int run = 1; run <= runs; ++run) {
        std::printf("run %d:\n", run);
        const QString folderA = freshFolder(boxA);
        const QString folderB = freshFolder(boxB);
        if (folderA.isEmpty() || folderB.isEmpty())
            return 1;
        for (DovecotMailbox* box : {&boxA, &boxB}) {
            if (!box->clear() || !box->seed(messages) || !warmUp(cell, *box)) {
                say("the mailbox could not be seeded\n");
                return 1;
            }
        }
        Results a;
        Results b;
        if (!twinStep("first pass", folderA, folderB, boxA, boxB, int(n), a, b, f))
            return 1;
        f.firstMs.push_back(num(a, "pass_ms"));
        f.fullFirstMs.push_back(num(b, "pass_ms"));
        const int left = int(boxA.messages().size());
        if (!twinStep("unchanged", folderA, folderB, boxA, boxB, 0, a, b, f))
            return 1;
        f.unchangedMs.push_back(num(a, "pass_ms"));
        f.fullUnchangedMs.push_back(num(b, "pass_ms"));
        f.unchangedRatio.push_back(num(a, "pass_ms") / num(b, "pass_ms"));
        f.unchangedReceivedKb.push_back(num(a, "received_bytes") / 1024);
        for (DovecotMailbox* box : {&boxA, &boxB}) {
            if (!box->seed(newMail) || !warmUp(cell, *box))
                return 1;
        }
        if (!twinStep("10 new messages", folderA, folderB, boxA, boxB, int(newMail.size()), a, b,
                      f))
            return 1;
        f.newMs.push_back(num(a, "pass_ms"));
        const int leftNow = int(boxA.messages().size());
        for (const QString& folder : {folderA, folderB}) {
            if (!writeTextLines(folder + QStringLiteral("/keywords.dat"),
                                lists.keywords + QStringList{addedKeyword}))
                return 1;
        }
        if (!twinStep("keyword added", folderA, folderB, boxA, boxB, leftNow, a, b, f))
            return 1;
        f.ruleMs.push_back(num(a, "pass_ms"));
        f.fullRuleMs.push_back(num(b, "pass_ms"));
        if (!twinStep("unchanged again", folderA, folderB, boxA, boxB, 0, a, b, f))
            return 1;
        std::printf("  messages on the server: %d after the first pass, %d after the rule change "
                    "(keyword \"%s\")\n",
                    left, int(boxA.messages().size()), qPrintable(addedKeyword));
        std::fflush(stdout);
    }
    std::printf("median of %d runs:\n", runs);
    std::printf("  first pass:      %7.1f ms (full pass of the twin %7.1f ms)\n", median(f.firstMs),
                median(f.fullFirstMs));
    std::printf("  unchanged:       %7.1f ms (full pass %7.1f ms): %.3f of the full pass (runs "
                "%.3f-%.3f), 0 RETR, %.0f KB received (log-in, sizes, ids)\n",
                median(f.unchangedMs), median(f.fullUnchangedMs), median(f.unchangedRatio),
                *std::min_element(f.unchangedRatio.begin(), f.unchangedRatio.end()),
                *std::max_element(f.unchangedRatio.begin(), f.unchangedRatio.end()),
                median(f.unchangedReceivedKb));
    std::printf("  10 new messages: %7.1f ms, 10 RETR\n", median(f.newMs));
    std::printf("  keyword added:   %7.1f ms (full pass %7.1f ms), every message retrieved\n",
                median(f.ruleMs), median(f.fullRuleMs));
    std::printf("  every step ended as the full pass did: %s; retrievals as expected: %s\n\n",
                f.alike ? "yes" : "NO", f.retrievalsAsExpected ? "yes" : "NO");
    std::fflush(stdout);

    // The corpus ten times over.
    QList<QByteArray> many;
    for (int i = 0; i < 10; ++i)
        many += messages;
    std::printf("== %lld messages (the corpus ten times)\n", many.size());
    for (int run = 1; run <= runs; ++run) {
        const QString folder = freshFolder(bigBox);
        if (folder.isEmpty() || !bigBox.clear() || !bigBox.seed(many) || !warmUp(cell, bigBox)) {
            say("the large mailbox could not be seeded\n");
            return 1;
        }
        const QStringList pass{QStringLiteral("--pass"), folder,
                               bigBox.server(),          bigBox.userName(),
                               bigBox.password(),        QStringLiteral("--count")};
        // The counters go on from pass to pass; the rest of what a pass leaves must stay the same.
        const auto outcome = [&bigBox](Results& r) -> QByteArray {
            return "blocked " + r["blocked"] + ", keyword checks " + r["keyword_checks"] +
                   ", notices " + r["notices"] + ", archived " + r["archived"] +
                   "; left on the server " + leftOnServer(bigBox);
        };
        Results r;
        if (!runChild(pass, r))
            return 1;
        f.bigFirstMs.push_back(num(r, "pass_ms"));
        const int left = int(bigBox.messages().size());
        double scanned = num(r, "scanned");
        std::vector<double> unchanged;
        QByteArray unchangedOutcome;
        bool alike = true;
        int retrievals = 0;
        double receivedKb = 0;
        for (int again = 0; again < 3; ++again) {
            if (!runChild(pass, r))
                return 1;
            unchanged.push_back(num(r, "pass_ms"));
            retrievals += int(num(r, "retrievals"));
            receivedKb = num(r, "received_bytes") / 1024;
            alike = alike && num(r, "scanned") == scanned + left;
            scanned = num(r, "scanned");
            if (unchangedOutcome.isEmpty())
                unchangedOutcome = outcome(r);
            alike = alike && outcome(r) == unchangedOutcome;
        }
        f.retrievalsAsExpected = f.retrievalsAsExpected && retrievals == 0;
        f.bigUnchangedMs.push_back(median(unchanged));
        f.bigMemoryKb.push_back(num(r, "memory_kb"));
        f.bigHeapKb.push_back(num(r, "heap_growth_kb"));
        f.bigFileKb.push_back(num(r, "memory_file_bytes") / 1024);
        f.bigRemembered.push_back(num(r, "remembered"));
        f.bigPeakMb.push_back(num(r, "peak_kb") / 1024);
        // The same mailbox in full, as the baseline of the same run.
        if (!runChild(pass + QStringList{QStringLiteral("--forget")}, r))
            return 1;
        f.bigFullMs.push_back(num(r, "pass_ms"));
        f.bigFullPeakMb.push_back(num(r, "peak_kb") / 1024);
        alike = alike && outcome(r) == unchangedOutcome && num(r, "scanned") == scanned + left;
        f.alike = f.alike && alike;
        std::printf("run %d: first pass %.0f ms, %d messages left; unchanged %.1f ms (median of 3; "
                    "%d RETR, %.0f KB received), full pass %.0f ms (%d RETR); %.0f ids remembered, "
                    "judged.dat %.0f KB, %.0f KB held in memory; the pass's heap grew by at most "
                    "%.0f KB; peak %.1f MB (full pass %.1f MB)%s\n",
                    run, f.bigFirstMs.back(), left, f.bigUnchangedMs.back(), retrievals, receivedKb,
                    f.bigFullMs.back(), int(num(r, "retrievals")), f.bigRemembered.back(),
                    f.bigFileKb.back(), f.bigMemoryKb.back(), f.bigHeapKb.back(),
                    f.bigPeakMb.back(), f.bigFullPeakMb.back(), alike ? "" : "  (OUTCOMES DIFFER)");
        std::fflush(stdout);
    }
    std::printf("median of %d runs: unchanged %.1f ms (full pass %.0f ms, %.3f of it), %.0f KB "
                "of remembered ids in memory, heap growth of the pass at most %.0f KB; "
                "retrievals as expected: %s; ended as the full pass: %s\n",
                runs, median(f.bigUnchangedMs), median(f.bigFullMs),
                median(f.bigUnchangedMs) / median(f.bigFullMs), median(f.bigMemoryKb),
                median(f.bigHeapKb), f.retrievalsAsExpected ? "yes" : "NO", f.alike ? "yes" : "NO");
    std::fflush(stdout);
    return f.alike && f.retrievalsAsExpected ? 0 : 1;
}

int runBenchmark(int runs, int bigRuns, int incrementalRuns, bool incrementalOnly,
                 bool serverOnDisk) {
    const QStringList files = corpus::messageFiles(QStringLiteral("spam-1")) +
                              corpus::messageFiles(QStringLiteral("easy-ham-1"));
    if (files.isEmpty()) {
        say("%s\n", QString::fromLatin1(corpus::kMissing));
        return 1;
    }
    // The mail server keeps its files in memory where it can. On a real network the server is
    // another machine; here it shares the two cores and the disk with the program, and its disk
    // work (expunging a thousand files at every log-out, on a file system without a journal) would
    // be counted against the pass and would slow down the program's own file creation nearby.
    // --server-on-disk keeps them on the disk, beside the other temporary files.
    const QString memory = QStringLiteral("/dev/shm");
    const bool serverInMemory = !serverOnDisk && inMemory(memory);
    QTemporaryDir temp((serverInMemory ? memory : QDir::tempPath()) +
                       QStringLiteral("/corvanta-bench-XXXXXX"));
    // The server's users must be able to reach the folder.
    QFile::setPermissions(temp.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                           QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                           QFileDevice::ExeOther);
    // The program folders live apart from the mail server's files and from the folders of earlier
    // benchmarks, as a user's program folder lives apart from both. ext4 without a journal (the
    // build machine's) does not reuse the inodes of files deleted in the last minutes and searches
    // past them for every new file, in the block group of the new file's folder: next to the mail
    // server's deletions, or to the previous benchmark's clean-up, creating each archive page
    // would cost ten to fifty times what it costs on a quiet disk, and the benchmark would measure
    // its own housekeeping. Marked as the top of a folder hierarchy, their parent has ext4 spread
    // each new program folder over the disk instead of keeping it in the parent's group.
    QTemporaryDir programs(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/bench-programs-XXXXXX"));
    if (!temp.isValid() || !programs.isValid()) {
        say("no temporary folder\n");
        return 1;
    }
    spreadSubfolders(programs.path());
    Server server(temp.filePath(QStringLiteral("dovecot")));
    say("starting the mail server...\n");
    if (!server.start(temp.path(), programs.path())) {
        say("the mail server did not start\n");
        return 1;
    }
    // One mailbox per run (the server has eight users), all seeded before anything is timed, and
    // one for the large messages. Clearing and re-seeding a mailbox between runs would leave
    // thousands of freshly deleted files behind, and some file systems then take much longer to
    // create the next files (the archive pages among them) than they do in everyday use.
    std::vector<std::unique_ptr<DovecotMailbox>> boxes;
    for (int i = 0; i < std::clamp(runs, 2, 7) + 1; ++i) {
        boxes.push_back(std::make_unique<DovecotMailbox>(temp.filePath(QStringLiteral("dovecot"))));
        if (!boxes.back()->available()) {
            say("no mailbox: %s\n", QString::fromUtf8(boxes.back()->skipReason()));
            return 1;
        }
    }
    const std::unique_ptr<DovecotMailbox> bigOwner = std::move(boxes.back());
    boxes.pop_back();
    DovecotMailbox& bigBox = *bigOwner;
    const ServerCell cell{bigBox.host(), bigBox.port()};

    QList<QByteArray> messages;
    QList<ParsedMessage> spam;
    QList<ParsedMessage> ham;
    const qsizetype spamFiles = corpus::messageFiles(QStringLiteral("spam-1")).size();
    qint64 corpusBytes = 0;
    for (const QString& file : files) {
        messages.append(corpus::readMessage(file));
        corpusBytes += messages.last().size();
        (messages.size() <= spamFiles ? spam : ham).append(parseMessage(messages.last()));
    }
    const Lists lists = makeLists(spam, ham);
    // The keyword the rule change adds: the longest word of a kept message's subject.
    QString addedKeyword;
    for (const QString& word : ham.at(100).subject.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (word.size() > addedKeyword.size())
            addedKeyword = word;
    }
    spam.clear();
    ham.clear();

    // Every run gets a program folder of its own, as a user's archive only ever grows.
    int folders = 0;
    const auto freshFolder = [&](const DovecotMailbox& box) {
        const QString folder = programs.filePath(QStringLiteral("program-%1").arg(++folders));
        return writeProgramFolder(folder, lists, box.server(), box.userName(), box.password())
                   ? folder
                   : QString();
    };
    say("seeding the mailboxes...\n");
    for (const auto& box : boxes) {
        if (!box->seed(messages) || !warmUp(cell, *box)) {
            say("the mailbox could not be seeded\n");
            return 1;
        }
    }
    std::printf("%lld messages (%.1f MB), lists of %d keywords, %d blacklist and %d whitelist "
                "entries, every check on\n",
                qsizetype(messages.size()), corpusBytes / 1e6, kKeywords, kBlacklist, kWhitelist);
    std::printf("the mail server's files are %s\n",
                serverInMemory ? "in memory (--server-on-disk puts them on the disk)"
                               : "on the disk");
    std::printf("creating a small file takes %.0f us in the program folders (%.0f us beside the "
                "mail server's files)\n\n",
                fileCreationMicroseconds(programs.filePath(QStringLiteral("probe"))),
                fileCreationMicroseconds(temp.filePath(QStringLiteral("probe"))));

    std::vector<double> baseline, pipelined, pass, ratio, stall, peak;
    QByteArray firstOutcome;
    bool outcomesAgree = true;
    const int corpusRuns = incrementalOnly ? 0 : runs;
    for (int run = 1; run <= corpusRuns; ++run) {
        DovecotMailbox& box = *boxes.at(static_cast<size_t>(run - 1) % boxes.size());
        // Beyond seven runs a mailbox is used again.
        if (run > int(boxes.size()) &&
            (!box.clear() || !box.seed(messages) || !warmUp(cell, box))) {
            say("the mailbox could not be seeded\n");
            return 1;
        }
        const QString folder = freshFolder(box);
        Results r;
        if (folder.isEmpty() ||
            !runChild({QStringLiteral("--pass"), folder, box.server(), box.userName(),
                       box.password(), QStringLiteral("--baseline")},
                      r)) {
            say("run failed\n");
            return 1;
        }
        const double n = messages.size();
        baseline.push_back(n * 1000 / num(r, "baseline_ms"));
        pipelined.push_back(n * 1000 / num(r, "pipelined_ms"));
        pass.push_back(n * 1000 / num(r, "pass_ms"));
        ratio.push_back(pass.back() / baseline.back());
        stall.push_back(num(r, "longest_stall_ms"));
        peak.push_back(num(r, "peak_kb") / 1024);
        const QByteArray outcome = outcomeOf(r, box);
        if (firstOutcome.isEmpty())
            firstOutcome = outcome;
        outcomesAgree = outcomesAgree && outcome == firstOutcome;
        std::printf("run %d: RETR loop %6.0f msg/s, pipelined %6.0f msg/s, scan pass %6.0f msg/s "
                    "(%.2f of the loop), longest stall %5.1f ms, peak %5.1f MB\n",
                    run, baseline.back(), pipelined.back(), pass.back(), ratio.back(), stall.back(),
                    peak.back());
        std::printf(
            "       pass %.0f ms; processor time: window thread %.0f ms, other threads %.0f "
            "ms, the rest of the machine (the mail server) %.0f ms\n",
            num(r, "pass_ms"), num(r, "cpu_window_ms"), num(r, "cpu_others_ms"),
            num(r, "cpu_server_ms"));
        std::fflush(stdout);
    }
    if (corpusRuns > 0) {
        std::printf("\noutcome: %s%s\n", firstOutcome.constData(),
                    outcomesAgree ? "" : "  (DIFFERED BETWEEN RUNS)");
        std::printf("median of %d runs:\n", runs);
        std::printf("  baseline RETR loop:      %7.0f messages/s\n", median(baseline));
        std::printf("  pipelined RETR (info):   %7.0f messages/s\n", median(pipelined));
        std::printf("  scan pass:               %7.0f messages/s\n", median(pass));
        std::printf("  scan pass / RETR loop:   %7.2f\n", median(ratio));
        std::printf("  longest stall of the window: %.1f ms (worst run %.1f ms)\n", median(stall),
                    *std::max_element(stall.begin(), stall.end()));
        std::printf("  peak resident memory:    %7.1f MB\n\n", median(peak));
        std::fflush(stdout);
    }

    // The keyword the big messages carry: a real phrase from a late row.
    QString keyword;
    for (qsizetype i = lists.keywords.size() - 1; i >= 0 && keyword.isEmpty(); --i) {
        if (!lists.keywords.at(i).startsWith(QLatin1String("qz")) &&
            !lists.keywords.at(i).isEmpty())
            keyword = lists.keywords.at(i);
    }
    for (const bool textBody : {false, true}) {
        if (incrementalOnly)
            break;
        const QByteArray big = bigMessage(textBody, keyword);
        std::vector<double> bigPeak, bigStall, bigMs, bigIdle;
        Results r;
        for (int run = 1; run <= (incrementalOnly ? 0 : bigRuns); ++run) {
            const QString folder = freshFolder(bigBox);
            if (folder.isEmpty() || !bigBox.clear() || !bigBox.seed({big}) ||
                !warmUp(cell, bigBox) ||
                !runChild({QStringLiteral("--pass"), folder, bigBox.server(), bigBox.userName(),
                           bigBox.password()},
                          r)) {
                say("big-message run failed\n");
                return 1;
            }
            bigPeak.push_back(num(r, "peak_kb") / 1024);
            bigIdle.push_back(num(r, "idle_peak_kb") / 1024);
            bigStall.push_back(num(r, "longest_stall_ms"));
            bigMs.push_back(num(r, "pass_ms"));
        }
        const double mb = big.size() / (1024.0 * 1024.0);
        std::printf("one %.0f MiB message (%s), median of %d runs: pass %.0f ms, peak %.1f MB "
                    "(window alone %.1f MB; limit 3 x message + 60 MB = %.0f MB), longest stall "
                    "%.1f ms; blocked %s, archived %s\n",
                    mb, textBody ? "text body" : "attachment", bigRuns, median(bigMs),
                    median(bigPeak), median(bigIdle), 3 * mb + 60, median(bigStall),
                    r["blocked"].constData(), r["archived"].constData());
        std::fflush(stdout);
    }
    if (incrementalRuns > 0) {
        const int status = runIncremental(incrementalRuns, messages, lists, addedKeyword, cell,
                                          *boxes.at(0), *boxes.at(1), bigBox, freshFolder);
        if (status != 0)
            return status;
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    const QStringList args = [&] {
        QStringList a;
        for (int i = 1; i < argc; ++i)
            a.append(QString::fromLocal8Bit(argv[i]));
        return a;
    }();
    if (args.value(0) == QLatin1String("--pass") && args.size() >= 5) {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        PassOptions options;
        options.baseline = args.contains(QLatin1String("--baseline"));
        options.count = args.contains(QLatin1String("--count"));
        options.forget = args.contains(QLatin1String("--forget"));
        return runPass(args.at(1), args.at(2), args.at(3), args.at(4), options);
    }
    QCoreApplication app(argc, argv);
    int runs = 5;
    int bigRuns = 3;
    int incrementalRuns = 3;
    const bool incrementalOnly = args.contains(QLatin1String("--incremental-only"));
    const bool serverOnDisk = args.contains(QLatin1String("--server-on-disk"));
    for (int i = 0; i + 1 < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--runs"))
            runs = std::max(1, args.at(i + 1).toInt());
        else if (args.at(i) == QLatin1String("--big-runs"))
            bigRuns = std::max(0, args.at(i + 1).toInt());
        else if (args.at(i) == QLatin1String("--incremental-runs"))
            incrementalRuns = std::max(0, args.at(i + 1).toInt());
        else if (args.at(i) == QLatin1String("--wrap"))
            childWrapper() = args.at(i + 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }
    waitForTheDiskToSettle();
    const int status = runBenchmark(runs, bigRuns, incrementalRuns, incrementalOnly, serverOnDisk);
    stampCleanup();
    return status;
}
