// Passes that remember what they judged: a message judged kept or whitelisted under the rules in
// force is not fetched again, and yet every pass ends exactly as a full pass would: the same
// messages left on the servers, the same archive, counters, notices and stats.dat. Checked against
// twin windows that go through the same events, one of whose mailboxes gives no unique ids; then
// the faults: a damaged memory, ids in doubt, a session that breaks off, through the real client
// against scripted servers and the test mail server.
#include "app/frmMain.h"
#include "app/ubGrid.h"
#include "config/checkvalue.h"
#include "scan/judgedmemory.h"
#include "scan/pop3/FreePOP.h"
#include "scanhelpers.h"
#include "support/countingtransport.h"
#include "support/demomail.h"
#include "support/dovecot.h"
#include "support/scriptedpop3server.h"
#include "support/ui/scriptedboxes.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>

#include <functional>

namespace {

const QString kServer = "pop.home.example";
const QString kOther = "mail.other.example";
const QString kPassword = "secret-9";
const QString kMe = "me";
const QString kYou = "you";
const QString kClosing = "Corvanta - your closest ally in Fighting SPAM.";

// The kinds of message the lists below tell apart.
QByteArray makeMessage(int kind, int serial) {
    const QByteArray n = QByteArray::number(serial);
    switch (kind % 5) {
    case 0: // kept
        return mailMessage("Friend <f@friends.example>", "Lunch " + n, "See you at noon.\r\n");
    case 1: // whitelisted, though it holds a keyword
        return mailMessage("Boss <boss@work.example>", "Special offer for the team " + n);
    case 2: // a keyword
        return mailMessage("Deals <d@shop.example>", "Great offer " + n);
    case 3: // a blacklisted sender
        return mailMessage("Bulk <x@bulk.example>", "Hello " + n);
    default: // kept, until "lottery" is a keyword
        return mailMessage("Aunt <aunt@family.example>", "News " + n, "I won the lottery.\r\n");
    }
}

// A main window with accounts A (kServer, "me") and B (kServer, "you"), which give unique ids
// when `remembering` (both "uid-1", "uid-2"... for their own messages), and C (kOther), which never
// does.
struct World {
    explicit World(bool givesIds)
        : remembering(givesIds) {
        for (const auto& [server, user] : accounts())
            w.addAccountRow(server, user, kPassword);
        fillGrid(w.form.gridwhitelist, {"work.example"});
        fillGrid(w.form.gridblacklist, {"bulk.example"});
        fillGrid(w.form.gridkeywords, {"offer", "viagra", "winner"});
        w.switches(1, 1, 0, 1);
    }
    static QList<std::pair<QString, QString>> accounts() {
        return {{kServer, kMe}, {kServer, kYou}, {kOther, kMe}};
    }
    void fill(const QString& server, const QString& user, const QList<QByteArray>& messages) {
        w.pop->addAccount(server, user, kPassword, messages);
        if (remembering && server == kServer)
            w.pop->setUniqueIds(server, user);
    }
    // One pass; the notices it showed.
    QStringList pass() {
        NoticeRecorder notices(w.form);
        notices.whileOpen = [&] {
            if (whileNoticeOpen)
                whileNoticeOpen(int(notices.notices.size()));
        };
        w.form.cmdscannow_Click();
        whileNoticeOpen = {};
        return notices.texts();
    }
    // The messages fetched in each session of the last pass, in the order of the accounts.
    QList<int> fetchesPerSession() const {
        QList<int> sessions;
        for (const QString& call : w.pop->calls().mid(callsBefore)) {
            if (call.startsWith("Connect "))
                sessions.append(0);
            else if (call.startsWith("FetchMessage ") && !sessions.isEmpty())
                ++sessions.last();
        }
        return sessions;
    }
    void markCalls() { callsBefore = w.pop->calls().size(); }

    bool remembering;
    ScanWindow w;
    qsizetype callsBefore = 0;
    // Runs while the n-th notice (from 1) of the next pass is open, as a user's edit would.
    std::function<void(int n)> whileNoticeOpen;
};

// The records of scan.log without what differs from one run to the next: the time of each, and
// how long each pass took.
QList<QStringList> scanLogRecords(const ScanWindow& w) {
    QList<QStringList> records;
    for (const QByteArray& line : w.folder.read("scan.log").split('\n')) {
        QStringList fields = QString::fromUtf8(line).trimmed().split(QLatin1Char('\t'));
        if (fields.size() < 2)
            continue;
        fields.removeFirst();
        if (fields.first() == QLatin1String("pass"))
            fields.removeLast();
        records.append(fields);
    }
    return records;
}

// An archive page without the time of the removal, which differs from one window to the other.
QString pageWithoutTime(const ScanWindow& w, const QString& page) {
    static const QRegularExpression time(QStringLiteral("<p id=\"removal-time\">[^<]*</p>"));
    const QString text = QString::fromUtf8(w.folder.read("SpamDeleted/" + page));
    [&] { QVERIFY(text.contains(time)); }();
    return QString(text).remove(time);
}

// Everything a pass leaves behind, in both worlds.
void compareOutcome(World& remembering, World& full) {
    for (const auto& [server, user] : World::accounts())
        QCOMPARE(remembering.w.pop->messagesLeft(server, user),
                 full.w.pop->messagesLeft(server, user));
    frmMain& a = remembering.w.form;
    frmMain& b = full.w.form;
    QCOMPARE(a.txttotalemailsever->text(), b.txttotalemailsever->text());
    QCOMPARE(a.txtEmailsBlockedCount->text(), b.txtEmailsBlockedCount->text());
    QCOMPARE(a.Text2->text(), b.Text2->text());
    QCOMPARE(a.Label17->text(), b.Label17->text());
    QCOMPARE(remembering.w.folder.read("stats.dat"), full.w.folder.read("stats.dat"));
    QCOMPARE(scanLogRecords(remembering.w), scanLogRecords(full.w));
    const QDir archiveA(remembering.w.folder.file("SpamDeleted"));
    const QDir archiveB(full.w.folder.file("SpamDeleted"));
    const QStringList pages = archiveA.entryList(QDir::Files, QDir::Name);
    QCOMPARE(pages, archiveB.entryList(QDir::Files, QDir::Name));
    for (const QString& page : pages)
        QCOMPARE(pageWithoutTime(remembering.w, page), pageWithoutTime(full.w, page));
}

// Runs the same pass in both worlds; the remembering one's fetches per session.
QList<int> passBoth(World& remembering, World& full) {
    remembering.markCalls();
    full.markCalls();
    const QStringList noticesA = remembering.pass();
    const QStringList noticesB = full.pass();
    [&] {
        QCOMPARE(noticesA, noticesB);
        compareOutcome(remembering, full);
    }();
    return remembering.fetchesPerSession();
}

// The same change in both worlds.
void inBoth(World& a, World& b, const std::function<void(World&)>& change) {
    change(a);
    change(b);
}

// Makes `change` in both worlds while the n-th notice of the next pass is open: the messages
// after it are judged under the changed rules.
void changeDuringThePass(World& a, World& b, int notice,
                         const std::function<void(World&)>& change) {
    for (World* world : {&a, &b}) {
        world->whileNoticeOpen = [world, notice, change](int n) {
            if (n == notice)
                change(*world);
        };
    }
}

} // namespace

class TestIncrementalScan : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void aSecondPassFetchesNothingAndEndsAlike();
    void anySequenceOfPassesEndsAsFullPassesDo();
    void aDamagedOrUnwritableMemoryMeansFullPasses();
    void idsInDoubtAndServersWithoutThem();
    void aSessionThatBreaksOffRemembersWhatItJudged();
    void accountsAreKeptApart();
    void rulesChangedDuringAPassCountFromThere();
    void againstTheMailServer();
};

void TestIncrementalScan::aSecondPassFetchesNothingAndEndsAlike() {
    World remembering(true);
    World full(false);
    QList<QByteArray> a;
    QList<QByteArray> b;
    for (int i = 0; i < 10; ++i) {
        a.append(makeMessage(i, i));
        b.append(makeMessage(i + 2, 100 + i));
    }
    inBoth(remembering, full, [&](World& w) {
        w.fill(kServer, kMe, a);
        w.fill(kServer, kYou, b);
        w.fill(kOther, kMe, {makeMessage(0, 200), makeMessage(2, 201)});
    });

    QCOMPARE(passBoth(remembering, full), QList<int>({10, 10, 2}));
    QVERIFY(remembering.w.folder.exists("judged.dat"));
    QVERIFY(scanLogRecords(remembering.w)
                .contains(QStringList(
                    {"pass", "3 accounts", "0 not checked", "22 messages", "9 removed"})));
    // Nothing judged before is fetched again, but every message counts, its keyword checks too;
    // the account without ids is fetched whole every time. The memory is told so before the
    // first fetch.
    QCOMPARE(passBoth(remembering, full), QList<int>({0, 0, 1}));
    QCOMPARE(remembering.w.pop->plannedFetches(), QList<int>({1}));
    QCOMPARE(remembering.w.form.txttotalemailsever->text(), QString::number(22 + 6 + 6 + 1));
    // New mail: only it is fetched.
    inBoth(remembering, full, [&](World& w) {
        w.w.pop->deliver(kServer, kMe, {makeMessage(0, 300), makeMessage(2, 301)});
    });
    QCOMPARE(passBoth(remembering, full), QList<int>({2, 0, 1}));
    // A keyword added: everything is judged again, and what it matches goes.
    inBoth(remembering, full, [](World& w) { w.w.form.gridkeywords->addrow("lottery"); });
    QCOMPARE(passBoth(remembering, full), QList<int>({7, 6, 1}));
    QCOMPARE(passBoth(remembering, full), QList<int>({0, 0, 1}));
    // So does a check switched off: the boss's offers are no longer let through.
    inBoth(remembering, full, [](World& w) { setCheckValue(w.w.form.checkwhitelist, 0); });
    QCOMPARE(passBoth(remembering, full), QList<int>({5, 4, 1}));
    // The address check changes no verdict, but it is one of the rules all the same.
    inBoth(remembering, full, [](World& w) { setCheckValue(w.w.form.checkspamcop, 1); });
    QCOMPARE(passBoth(remembering, full), QList<int>({3, 2, 1}));
    // Greyed counts as off.
    inBoth(remembering, full, [](World& w) { setCheckValue(w.w.form.checkspamcop, 2); });
    QCOMPARE(passBoth(remembering, full), QList<int>({3, 2, 1}));
    inBoth(remembering, full, [](World& w) { setCheckValue(w.w.form.checkspamcop, 0); });
    QCOMPARE(passBoth(remembering, full), QList<int>({0, 0, 1}));
}

void TestIncrementalScan::anySequenceOfPassesEndsAsFullPassesDo() {
    World remembering(true);
    World full(false);
    int serial = 0;
    QRandomGenerator rng(4711);
    const auto someMessages = [&](int count) {
        QList<QByteArray> messages;
        for (int i = 0; i < count; ++i)
            messages.append(makeMessage(int(rng.bounded(5)), ++serial));
        return messages;
    };
    inBoth(
        remembering, full,
        [&, first = someMessages(12), second = someMessages(8), third = someMessages(3)](World& w) {
            w.fill(kServer, kMe, first);
            w.fill(kServer, kYou, second);
            w.fill(kOther, kMe, third);
        });

    int passes = 0;
    int fetched = 0;
    int fullyFetched = 0;
    int idlePasses = 0;
    int changedInPasses = 0;
    for (int step = 0; step < 60; ++step) {
        // Plain variables rather than a structured binding, which lambdas cannot capture in
        // every compiler the project builds with.
        const std::pair<QString, QString> account = World::accounts().at(int(rng.bounded(3)));
        const QString server = account.first;
        const QString user = account.second;
        const int left = int(remembering.w.pop->messagesLeft(server, user).size());
        switch (rng.bounded(9)) {
        case 0: {
            const QList<QByteArray> mail = someMessages(1 + int(rng.bounded(3)));
            inBoth(remembering, full,
                   [&, server, user](World& w) { w.w.pop->deliver(server, user, mail); });
            break;
        }
        case 1:
            // Another mail program removes a message.
            if (left > 0) {
                const int number = 1 + int(rng.bounded(left));
                inBoth(remembering, full,
                       [&, server, user](World& w) { w.w.pop->expunge(server, user, number); });
            }
            break;
        case 2: {
            const QStringList keywords[] = {{"offer", "viagra", "winner"},
                                            {"offer", "viagra", "winner", "lottery"},
                                            {"winner", "offer"},
                                            {"noon"}};
            const QStringList chosen = keywords[rng.bounded(4)];
            inBoth(remembering, full, [&](World& w) { fillGrid(w.w.form.gridkeywords, chosen); });
            break;
        }
        case 3: {
            const int which = int(rng.bounded(4));
            const int value = int(rng.bounded(3));
            inBoth(remembering, full, [&](World& w) {
                QCheckBox* boxes[] = {w.w.form.checkwhitelist, w.w.form.checkblacklist,
                                      w.w.form.checkspamcop, w.w.form.checkkeywords};
                setCheckValue(boxes[which], value);
            });
            break;
        }
        case 4: {
            // The lists change while the pass runs, while a notice about new spam in the first
            // account is open: the rest of the pass judges under the new ones.
            const QList<QByteArray> mail{makeMessage(2, ++serial), makeMessage(0, ++serial),
                                         makeMessage(3, ++serial)};
            const int notice = 1 + int(rng.bounded(2));
            const QString entry = rng.bounded(2) ? QString("friends") : QString("family");
            inBoth(remembering, full, [&](World& w) { w.w.pop->deliver(kServer, kMe, mail); });
            changeDuringThePass(remembering, full, notice, [entry, &changedInPasses](World& w) {
                w.w.form.gridblacklist->addrow(entry);
                ++changedInPasses;
            });
            [[fallthrough]];
        }
        default: {
            const QList<int> sessions = passBoth(remembering, full);
            if (QTest::currentTestFailed()) {
                qInfo("at step %d", step);
                return;
            }
            ++passes;
            fetched += sessions.value(0) + sessions.value(1);
            fullyFetched += full.fetchesPerSession().value(0) + full.fetchesPerSession().value(1);
            if (sessions.value(0) == 0 && sessions.value(1) == 0)
                ++idlePasses;
            break;
        }
        }
    }
    // The comparison covered passes that skipped messages, and many of them.
    QVERIFY(passes > 20);
    QVERIFY(idlePasses > 3);
    QVERIFY(changedInPasses >= 4);
    QVERIFY2(fetched < fullyFetched / 2,
             qPrintable(QString("%1 of %2").arg(fetched).arg(fullyFetched)));
}

void TestIncrementalScan::aDamagedOrUnwritableMemoryMeansFullPasses() {
    World world(true);
    world.fill(kServer, kMe, {makeMessage(0, 1), makeMessage(1, 2), makeMessage(4, 3)});
    world.fill(kServer, kYou, {makeMessage(0, 4)});
    world.fill(kOther, kMe, {});
    QCOMPARE(world.pass().size(), 0);
    const QByteArray good = world.w.folder.read("judged.dat");
    QVERIFY(good.contains("uid-3"));
    QCOMPARE(QFile::permissions(world.w.folder.file("judged.dat")).toInt() & 0x0077, 0);

    // A byte changed on the disk: the whole file counts for nothing, and is written afresh.
    QByteArray damaged = good;
    damaged.replace("uid-3", "uid-8");
    world.w.folder.write("judged.dat", damaged);
    world.markCalls();
    world.pass();
    QCOMPARE(world.fetchesPerSession(), QList<int>({3, 1, 0}));
    QCOMPARE(world.w.folder.read("judged.dat"), good);
    world.markCalls();
    world.pass();
    QCOMPARE(world.fetchesPerSession(), QList<int>({0, 0, 0}));

    // Cut short, or something else in its place: the same, and the pass goes on as ever.
    world.w.folder.write("judged.dat", good.left(good.size() - 3));
    world.markCalls();
    world.pass();
    QCOMPARE(world.fetchesPerSession(), QList<int>({3, 1, 0}));
    QVERIFY(QFile::remove(world.w.folder.file("judged.dat")));
    world.w.folder.write("judged.dat/kept", "a folder where the file belongs");
    for (int pass = 0; pass < 2; ++pass) {
        world.markCalls();
        world.pass();
        QCOMPARE(world.fetchesPerSession(), QList<int>({3, 1, 0}));
        QCOMPARE(world.w.form.Label17->text(), kClosing);
    }
    QCOMPARE(world.w.folder.read("judged.dat/kept"), "a folder where the file belongs");
    QVERIFY(world.w.folder.exists("stats.dat"));

    // An account taken off the list is forgotten at the next pass.
    QVERIFY(QDir(world.w.folder.file("judged.dat")).removeRecursively());
    world.pass();
    QVERIFY(world.w.folder.read("judged.dat").contains("account pop.home.example you "));
    world.w.form.gridAccounts->removerow(2);
    world.pass();
    QVERIFY(!world.w.folder.read("judged.dat").contains("account pop.home.example you "));
    QVERIFY(world.w.folder.read("judged.dat").contains("account pop.home.example me "));
}

void TestIncrementalScan::idsInDoubtAndServersWithoutThem() {
    const QByteArray ham = mailMessage("H <h@home.example>", "hello");
    // Ids listed twice and ids that are not ids: those messages are fetched every time, the one
    // with a good id only once. A server that refuses UIDL is fetched whole every time.
    ScriptedPop3Server doubtful;
    ScriptedPop3Server refusing;
    QVERIFY(doubtful.listen() && refusing.listen());
    const QList<QByteArray> listing{"1 twice", "2 twice", "3 good", "4 bad\x01id",
                                    "5 " + QByteArray(71, 'x')};
    for (int pass = 1; pass <= 2; ++pass) {
        doubtful.login("alice", kPassword, 5).uidl(listing);
        for (int n = 1; n <= 5; ++n) {
            if (pass == 1 || n != 3)
                doubtful.message(n, ham);
        }
        doubtful.quit();
        refusing.login("alice", kPassword, 2)
            .expectLine("UIDL")
            .reply("-ERR no such command")
            .message(1, ham)
            .message(2, ham)
            .quit();
    }

    ScanWindow w(false);
    w.addAccountRow(doubtful.address(), "alice", kPassword);
    w.addAccountRow(refusing.address(), "alice", kPassword);
    w.switches(0, 0, 0, 1);
    fillGrid(w.form.gridkeywords, {"offer"});
    ScriptedBoxes boxes;
    w.form.cmdscannow_Click();
    w.form.cmdscannow_Click();

    for (const ScriptedPop3Server* server : {&doubtful, &refusing}) {
        QVERIFY2(server->failure().isEmpty(), qPrintable(server->failure()));
        QVERIFY(server->isFinished());
    }
    QCOMPARE(w.form.txttotalemailsever->text(), "14");
    // Every keyword comparison a full pass makes: one per message.
    QCOMPARE(w.form.Text2->text(), "14");
    QVERIFY(boxes.shown().isEmpty());
}

void TestIncrementalScan::aSessionThatBreaksOffRemembersWhatItJudged() {
    const QByteArray ham = mailMessage("H <h@home.example>", "hello");
    const QByteArray spam = mailMessage("S <s@spam.example>", "offer");
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    // The first session breaks off in message 4, after message 2 was marked for deletion: no
    // QUIT, so message 2 is still there, and was not remembered as kept. Message 1 was judged
    // kept and is not fetched again; message 3 neither. Then the spam goes at last.
    server.login("alice", kPassword, 4)
        .uidl({"1 a", "2 b", "3 c", "4 d"})
        .message(1, ham)
        .message(2, spam)
        .expectLine("DELE 2")
        .reply("+OK")
        .message(3, ham)
        .expectLine("RETR 4")
        .send("+OK 500 octets\r\nFrom: H <h@home.example>\r\nSubj")
        .drop();
    server.login("alice", kPassword, 4)
        .uidl({"1 a", "2 b", "3 c", "4 d"})
        .message(2, spam)
        .expectLine("DELE 2")
        .reply("+OK")
        .message(4, ham)
        .quit();
    server.login("alice", kPassword, 3).uidl({"1 a", "2 c", "3 d"}).quit();

    ScanWindow w(false);
    w.form.FreePOP1->setPoptimeout(5);
    w.addAccountRow(server.address(), "alice", kPassword);
    w.switches(0, 0, 0, 1);
    fillGrid(w.form.gridkeywords, {"offer"});
    ScriptedBoxes boxes;
    for (int pass = 0; pass < 3; ++pass)
        w.form.cmdscannow_Click();

    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
    QVERIFY(server.isFinished());
    QCOMPARE(server.received().count("QUIT"), 2);
    // As three full passes over the same sessions would count: 4 + 4 + 3.
    QCOMPARE(w.form.txttotalemailsever->text(), "11");
    QCOMPARE(w.form.txtEmailsBlockedCount->text(), "2");
    QCOMPARE(w.form.Text2->text(), "10");
}

void TestIncrementalScan::accountsAreKeptApart() {
    const QByteArray ham = mailMessage("H <h@home.example>", "hello");
    const QByteArray spam = mailMessage("S <s@spam.example>", "offer");
    // Servers number their messages alike: alice's kept message on the first server has the same
    // id as the spam of bob on that server and of alice on another. Only her own is passed over.
    ScriptedPop3Server first;
    ScriptedPop3Server second;
    QVERIFY(first.listen() && second.listen());
    first.login("alice", kPassword, 1).uidl({"1 a"}).message(1, ham).quit();
    first.login("alice", kPassword, 1).uidl({"1 a"}).quit();
    first.login("bob", kPassword, 1)
        .uidl({"1 a"})
        .message(1, spam)
        .expectLine("DELE 1")
        .reply("+OK")
        .quit();
    second.login("alice", kPassword, 1)
        .uidl({"1 a"})
        .message(1, spam)
        .expectLine("DELE 1")
        .reply("+OK")
        .quit();

    ScanWindow w(false);
    w.addAccountRow(first.address(), "alice", kPassword);
    w.switches(0, 0, 0, 1);
    fillGrid(w.form.gridkeywords, {"offer"});
    ScriptedBoxes boxes;
    w.form.cmdscannow_Click();
    w.addAccountRow(first.address(), "bob", kPassword);
    w.addAccountRow(second.address(), "alice", kPassword);
    w.form.cmdscannow_Click();

    for (const ScriptedPop3Server* server : {&first, &second}) {
        QVERIFY2(server->failure().isEmpty(), qPrintable(server->failure()));
        QVERIFY(server->isFinished());
    }
    QCOMPARE(w.form.txttotalemailsever->text(), "4");
    QCOMPARE(w.form.txtEmailsBlockedCount->text(), "2");
}

void TestIncrementalScan::rulesChangedDuringAPassCountFromThere() {
    const QByteArray ham = mailMessage("H <h@home.example>", "hello");
    const QByteArray spam = mailMessage("S <s@spam.example>", "offer");
    ScriptedPop3Server server;
    QVERIFY(server.listen());
    server.login("alice", kPassword, 2).uidl({"1 a", "2 b"}).message(1, ham).message(2, ham).quit();
    // The server lists a new message first. While its notice is open, "hello" becomes a keyword:
    // the messages after it were judged under other rules and are fetched and judged again.
    server.login("alice", kPassword, 3).uidl({"1 new", "2 a", "3 b"});
    for (int n = 1; n <= 3; ++n)
        server.message(n, n == 1 ? spam : ham).expectLine(QString("DELE %1").arg(n)).reply("+OK");
    server.quit();

    ScanWindow w(false);
    w.addAccountRow(server.address(), "alice", kPassword);
    w.switches(0, 0, 0, 1);
    fillGrid(w.form.gridkeywords, {"offer"});
    NoticeRecorder notices(w.form);
    notices.whileOpen = [&] { w.form.gridkeywords->addrow("hello"); };
    w.form.cmdscannow_Click();
    w.form.cmdscannow_Click();

    QVERIFY2(server.failure().isEmpty(), qPrintable(server.failure()));
    QVERIFY(server.isFinished());
    QCOMPARE(notices.notices.size(), 3);
    QCOMPARE(w.form.txttotalemailsever->text(), "5");
}

void TestIncrementalScan::againstTheMailServer() {
    DovecotMailbox box;
    DovecotMailbox other;
    if (!box.available() || !other.available())
        QSKIP(box.skipReason());
    const QList<QByteArray> messages = demomail::messages();
    QVERIFY(box.seed(messages));
    QVERIFY(other.seed(messages));

    ScanWindow w(false);
    auto counts = std::make_shared<TransportCounts>();
    w.form.FreePOP1->setTransportFactory(CountingTransport::factory(counts));
    w.addAccountRow(box.server(), box.userName(), box.password());
    w.addAccountRow(other.server(), other.userName(), other.password());
    const demomail::Lists lists = demomail::lists();
    fillGrid(w.form.gridwhitelist, lists.whitelist);
    fillGrid(w.form.gridblacklist, lists.blacklist);
    fillGrid(w.form.gridkeywords, lists.keywords);
    w.switches(1, 1, 1, 1);
    ScriptedBoxes boxes;

    w.form.cmdscannow_Click();
    QCOMPARE(counts->retrievals(), 12);
    const QList<QByteArray> left = box.messages();
    QCOMPARE(left.size(), 3);

    // The second pass downloads nothing and counts as the first did for what is left.
    counts->commands.clear();
    w.form.cmdscannow_Click();
    QCOMPARE(counts->retrievals(), 0);
    QVERIFY(counts->commands.contains("UIDL"));
    QCOMPARE(w.form.txttotalemailsever->text(), "18");
    QCOMPARE(box.messages(), left);
    QCOMPARE(boxes.shown().size(), 6);

    // New mail in one account: that message alone.
    QVERIFY(other.seed({messages.at(0), messages.at(1)}));
    counts->commands.clear();
    w.form.cmdscannow_Click();
    QCOMPARE(counts->retrievals(), 2);
    QCOMPARE(other.messages().size(), 4);
    QCOMPARE(w.form.txttotalemailsever->text(), "26");
    QCOMPARE(boxes.shown().size(), 7);
}

QTEST_MAIN(TestIncrementalScan)
#include "tst_incrementalscan.moc"
