// The memory of judged messages: its file (read back as written, anything else taken for no
// memory at all), which messages a session passes over, and what it leaves to remember.
#include "scan/judgedmemory.h"
#include "scan/judgedsession.h"
#include "scan/rulesfingerprint.h"
#include "support/tempfolder.h"

#include <QCryptographicHash>
#include <QFile>
#include <QTest>

namespace {

const QByteArray kRulesA = rulesFingerprint(listsDigest({{}, {}, {"offer"}}), {0, 0, 0, 1});
const QByteArray kRulesB = rulesFingerprint(listsDigest({{}, {}, {"offer", "win"}}), {0, 0, 0, 1});

JudgedAccount account(const QByteArray& rules, const QHash<QByteArray, quint32>& kept) {
    return {rules, kept};
}

Classification verdict(Verdict v, qsizetype keywordChecks = 0) {
    Classification c;
    c.verdict = v;
    c.keywordChecks = keywordChecks;
    return c;
}

} // namespace

class TestJudgedMemory : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void theFileReadsBackAsWritten();
    void anyDamageMeansNoMemory();
    void theRulesAreAllInTheFingerprint();
    void onlyKeptMessagesUnderTheSameRulesArePassedOver();
    void whatASessionLeavesToRemember();
};

void TestJudgedMemory::theFileReadsBackAsWritten() {
    TempFolder folder;
    const QString path = folder.file("judged.dat");
    JudgedMemory memory(path);
    QCOMPARE(memory.load(), JudgedMemory::Loaded::Missing);
    // Nothing to remember and no file: none is made.
    QVERIFY(memory.save());
    QVERIFY(!folder.exists("judged.dat"));

    // Servers and logins with blanks, commas, other scripts, a lone "-" and nothing; an id that
    // reads like the word that starts an account line; the same ids under two logins.
    memory.remember("pop.example.org", "", account(kRulesA, {{"uid-1", 1}, {"account", 0}}));
    memory.remember("pop.example.org", "-", account(kRulesA, {{"uid-1", 2}}));
    memory.remember("[::1]:1100", "Jürgen Weiß, sales", account(kRulesB, {{"~!%20", 7}}));
    memory.remember("nothing.example", "me", account(kRulesA, {}));
    QVERIFY(memory.save());
    QCOMPARE(QFile(path).permissions() & ~(QFile::ReadUser | QFile::WriteUser),
             QFile::ReadOwner | QFile::WriteOwner);

    JudgedMemory again(path);
    QCOMPARE(again.load(), JudgedMemory::Loaded::Read);
    QCOMPARE(again.accounts(), memory.accounts());
    QCOMPARE(again.accounts().size(), 3u);
    QVERIFY(!again.find("nothing.example", "me"));
    QCOMPARE(again.find("pop.example.org", "-")->kept.value("uid-1"), 2u);

    // Unchanged, the file is not written again; dropping an account is a change.
    const QByteArray before = folder.read("judged.dat");
    QVERIFY(QFile::remove(path));
    QVERIFY(again.save());
    QVERIFY(!folder.exists("judged.dat"));
    folder.write("judged.dat", before);
    again.keepOnly({{"pop.example.org", ""}, {"gone.example", "me"}});
    QVERIFY(again.save());
    JudgedMemory third(path);
    QCOMPARE(third.load(), JudgedMemory::Loaded::Read);
    QCOMPARE(third.accounts().size(), 1u);
    QVERIFY(third.find("pop.example.org", ""));
}

void TestJudgedMemory::anyDamageMeansNoMemory() {
    JudgedAccounts accounts;
    accounts[{"pop.example.org", "me"}] = account(kRulesA, {{"uid-1", 3}, {"uid-2", 0}});
    accounts[{"pop.example.org", "you"}] = account(kRulesA, {{"uid-9", 3}});
    const QByteArray good = JudgedMemory::format(accounts);
    QCOMPARE(JudgedMemory::parse(good), accounts);

    // The file with a line changed and its check line made to fit again: then only what the lines
    // say can tell it from a file this program wrote.
    const auto resealed = [](QByteArray bytes) -> QByteArray {
        bytes.truncate(bytes.lastIndexOf("check "));
        return bytes + "check " +
               QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex() + "\r\n";
    };
    QVERIFY(JudgedMemory::parse(resealed(good)) == accounts);

    QList<QByteArray> damaged;
    damaged << QByteArray() << good.left(good.size() - 1) << good.left(good.size() / 2)
            << QByteArray(good).replace("uid-1 3", "uid-1 4") // the check no longer fits
            << QByteArray(good).replace("\r\n", "\n");
    // Sealed properly, yet not what this program writes.
    damaged << resealed(QByteArray(good).replace("uid-1 3", "uid-1 -3"))
            << resealed(QByteArray(good).replace("uid-1 3", "uid-1 03"))
            << resealed(QByteArray(good).replace("uid-1 3", "uid 1 3"))
            << resealed(QByteArray(good).replace("uid-2 0", "uid-1 0"))
            << resealed(QByteArray(good).replace("uid-1 3", QByteArray(QByteArray(71, 'x') + " 3")))
            << resealed(QByteArray(good).replace("corvanta judged messages 1",
                                                 "corvanta judged messages 2"))
            << resealed(QByteArray(good).replace("account pop.example.org you", "account x"))
            << resealed(QByteArray(good).replace("you", "me"))
            << resealed(QByteArray(good).replace("pop.example.org", "pop%2Eexample.org"))
            << resealed(QByteArray(good).replace(kRulesA, kRulesA.left(63)))
            << resealed(QByteArray(good).replace("uid-9 3\r\n", ""));
    for (const QByteArray& bytes : std::as_const(damaged)) {
        QVERIFY2(!JudgedMemory::parse(bytes), bytes.constData());
        TempFolder folder;
        folder.write("judged.dat", bytes);
        JudgedMemory memory(folder.file("judged.dat"));
        QCOMPARE(memory.load(), JudgedMemory::Loaded::Damaged);
        QVERIFY(memory.accounts().empty());
    }
}

void TestJudgedMemory::theRulesAreAllInTheFingerprint() {
    const RuleLists lists{{"friend.example"}, {"bulk.example"}, {"offer", ""}};
    const CheckSwitches on{1, 1, 1, 1};
    const QByteArray base = rulesFingerprint(listsDigest(lists), on);
    QCOMPARE(base.size(), 64);
    QCOMPARE(rulesFingerprint(listsDigest(RuleLists(lists)), on), base);
    // Every entry, its list, its place and empty rows count; so does every switch.
    const QList<RuleLists> others{{{"friend.example"}, {"bulk.example"}, {"offer"}},
                                  {{"friend.example"}, {"bulk.example"}, {"", "offer"}},
                                  {{"friend.example"}, {"bulk.example", "offer"}, {""}},
                                  {{"friend.example", "bulk.example"}, {}, {"offer", ""}},
                                  {{"FRIEND.example"}, {"bulk.example"}, {"offer", ""}},
                                  {{"friend.exampl"}, {"ebulk.example"}, {"offer", ""}}};
    for (const RuleLists& other : others)
        QVERIFY(rulesFingerprint(listsDigest(other), on) != base);
    for (int i = 0; i < 4; ++i) {
        CheckSwitches off = on;
        int* values[] = {&off.checkwhitelist, &off.checkblacklist, &off.checkspamcop,
                         &off.checkkeywords};
        *values[i] = 0;
        QVERIFY(rulesFingerprint(listsDigest(lists), off) != base);
        // Greyed is off, as it is for the checks.
        *values[i] = 2;
        const QByteArray greyed = rulesFingerprint(listsDigest(lists), off);
        *values[i] = 0;
        QCOMPARE(greyed, rulesFingerprint(listsDigest(lists), off));
    }
}

void TestJudgedMemory::onlyKeptMessagesUnderTheSameRulesArePassedOver() {
    const JudgedAccount before = account(kRulesA, {{"a", 2}, {"b", 0}, {"c", 2}});
    // Messages 1-5: a, (no id), b, d (never judged), c.
    JudgedSession session(&before, {"a", "", "b", "d", "c"}, 5);
    QCOMPARE(session.fetches(kRulesA), QList<int>({2, 4}));
    QCOMPARE(session.fetches(kRulesB), QList<int>({1, 2, 3, 4, 5}));
    QCOMPARE(session.passOver(1, kRulesA), std::optional<quint32>(2));
    QCOMPARE(session.passOver(2, kRulesA), std::nullopt);
    QCOMPARE(session.passOver(3, kRulesA), std::optional<quint32>(0));
    QCOMPARE(session.passOver(4, kRulesA), std::nullopt);
    // Under other rules nothing is passed over.
    QCOMPARE(session.passOver(5, kRulesB), std::nullopt);
    QCOMPARE(session.passOver(0, kRulesA), std::nullopt);
    QCOMPARE(session.passOver(6, kRulesA), std::nullopt);

    // Without a listing, or one that does not fit the count, every message is fetched.
    for (const QList<QByteArray>& ids : {QList<QByteArray>{}, QList<QByteArray>{"a", "b"}}) {
        JudgedSession unlisted(&before, ids, 3);
        QCOMPARE(unlisted.fetches(kRulesA), QList<int>({1, 2, 3}));
        QCOMPARE(unlisted.passOver(1, kRulesA), std::nullopt);
    }
    JudgedSession fresh(nullptr, {"a", "b"}, 2);
    QCOMPARE(fresh.fetches(kRulesA), QList<int>({1, 2}));
    QCOMPARE(fresh.passOver(1, kRulesA), std::nullopt);
}

void TestJudgedMemory::whatASessionLeavesToRemember() {
    const JudgedAccount before = account(kRulesA, {{"a", 2}, {"gone", 2}, {"e", 2}, {"s", 2}});
    {
        // Passed over, judged kept, whitelisted and spam; "e" not reached (the session broke off
        // at message 5) stays remembered, "gone" is no longer on the server.
        JudgedSession session(&before, {"a", "b", "w", "s", "e", "f"}, 6);
        QVERIFY(session.passOver(1, kRulesA));
        session.judged(2, kRulesA, verdict(Verdict::Kept, 2));
        session.judged(3, kRulesA, verdict(Verdict::Whitelisted));
        session.judged(4, kRulesA, verdict(Verdict::Spam, 1));
        const std::optional<JudgedAccount> after = session.outcome(kRulesA);
        QVERIFY(after);
        QCOMPARE(*after, account(kRulesA, {{"a", 2}, {"b", 2}, {"w", 0}, {"e", 2}}));
        // Had the rules changed by the end, only what was judged under the new ones is kept.
        QCOMPARE(*session.outcome(kRulesB), account(kRulesB, {}));
    }
    {
        // The rules changed in the middle of the session.
        JudgedSession session(&before, {"a", "b", "c"}, 3);
        QVERIFY(session.passOver(1, kRulesA));
        session.judged(2, kRulesB, verdict(Verdict::Kept, 2));
        session.judged(3, kRulesA, verdict(Verdict::Kept, 1));
        QCOMPARE(*session.outcome(kRulesB), account(kRulesB, {{"b", 2}}));
        QCOMPARE(*session.outcome(kRulesA), account(kRulesA, {{"a", 2}, {"c", 1}}));
    }
    {
        // Ids in doubt are never remembered.
        JudgedSession session(nullptr, {"", "x"}, 2);
        session.judged(1, kRulesA, verdict(Verdict::Kept));
        session.judged(2, kRulesA, verdict(Verdict::Kept));
        QCOMPARE(*session.outcome(kRulesA), account(kRulesA, {{"x", 0}}));
    }
    // An empty mailbox leaves nothing to remember.
    QCOMPARE(*JudgedSession(&before, {}, 0).outcome(kRulesA), account(kRulesA, {}));
    // Without ids the memory stays as it is, unless its rules are out of date anyway.
    QCOMPARE(JudgedSession(&before, {}, 3).outcome(kRulesA), std::nullopt);
    QCOMPARE(*JudgedSession(&before, {}, 3).outcome(kRulesB), account(kRulesB, {}));
}

QTEST_MAIN(TestJudgedMemory)
#include "tst_judgedmemory.moc"
