// The data files as read from disk: the list files, accounts.dat, stats.dat and judged.dat. Any
// file splits into lines that survive being written and read again unchanged; an account line
// that is accepted is written back as the same line; a box state read from stats.dat is one the box
// takes, and the stats lines made from what was read read back the same. A judged.dat that is
// accepted holds only well-formed ids and reads back the same once written; the same bytes read as
// a UIDL listing give only well-formed ids, no two alike.
//
// Input: the file's bytes.

#include "config/accountline.h"
#include "config/statsfile.h"
#include "config/textfile.h"
#include "fuzzsupport.h"
#include "scan/judgedmemory.h"
#include "scan/pop3/pop3uniqueids.h"

#include <QSet>

namespace {

void checkAccountLine(const QString& line) {
    AccountLine account;
    switch (parseAccountLine(line, &account)) {
    case AccountLineStatus::Accepted:
        FUZZ_CHECK(account.server.size() >= 4);
        FUZZ_CHECK(!account.server.contains(QLatin1Char(',')));
        FUZZ_CHECK(!account.login.contains(QLatin1Char(',')));
        FUZZ_CHECK(formatAccountLine(account.server, account.login, account.password) == line);
        break;
    case AccountLineStatus::ServerTooShort:
        FUZZ_CHECK(line.indexOf(QLatin1Char(',')) < 4);
        FUZZ_CHECK(line.count(QLatin1Char(',')) >= 2);
        break;
    case AccountLineStatus::Malformed:
        FUZZ_CHECK(line.count(QLatin1Char(',')) < 2);
        break;
    }
}

std::optional<int> checkBoxLine(const QString& line) {
    const std::optional<int> state = parseCheckLine(line);
    if (state) {
        FUZZ_CHECK(*state >= 0 && *state <= 2);
        FUZZ_CHECK(parseCheckLine(formatCheckLine(*state)) == state);
    }
    return state;
}

// stats.dat read as the window reads it, up to its first bad line, and written back.
void checkStats(const QStringList& lines) {
    StatsValues values;
    QString* texts[] = {&values.accountsCount, &values.whitelistCount, &values.blacklistCount,
                        &values.keywordsCount, &values.blockedCount,   &values.totalScanned};
    qsizetype at = 0;
    for (QString* text : texts) {
        if (at < lines.size())
            *text = lines.at(at++);
    }
    int* boxes[] = {&values.whitelistOn, &values.blacklistOn, &values.spamcopOn,
                    &values.keywordsOn};
    if (at < lines.size()) {
        values.autoscan = checkBoxLine(lines.at(at++)).value_or(0);
        if (at < lines.size())
            values.minutes = lines.at(at++);
        for (int* box : boxes) {
            if (at < lines.size())
                *box = checkBoxLine(lines.at(at++)).value_or(0);
        }
    }
    const QStringList written = statsLines(values);
    FUZZ_CHECK(written.size() == kStatsLineCount);
    FUZZ_CHECK(splitTextLines(joinTextLines(written)) == written);
}

void checkJudgedMemory(const QByteArray& file) {
    const std::optional<JudgedAccounts> accounts = JudgedMemory::parse(file);
    if (accounts) {
        for (const auto& [key, account] : *accounts) {
            FUZZ_CHECK(!account.kept.isEmpty());
            FUZZ_CHECK(account.fingerprint.size() == 64);
            for (auto it = account.kept.cbegin(); it != account.kept.cend(); ++it)
                FUZZ_CHECK(isValidUniqueId(it.key()));
        }
        FUZZ_CHECK(JudgedMemory::parse(JudgedMemory::format(*accounts)) == accounts);
    }
    const QList<QByteArray> ids = parseUniqueIds(file, 40);
    FUZZ_CHECK(ids.size() == 40);
    QSet<QByteArray> seen;
    for (const QByteArray& id : ids) {
        if (id.isEmpty())
            continue;
        FUZZ_CHECK(isValidUniqueId(id));
        FUZZ_CHECK(!seen.contains(id));
        seen.insert(id);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const QByteArray file = input.takeRest();

    const QStringList lines = splitTextLines(file);
    for (const QString& line : lines) {
        FUZZ_CHECK(!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')));
        checkAccountLine(line);
        checkBoxLine(line);
    }
    // A list saved and loaded again is the same list.
    const QByteArray saved = joinTextLines(lines);
    FUZZ_CHECK(splitTextLines(saved) == lines);
    FUZZ_CHECK(saved.isEmpty() == lines.isEmpty());
    checkStats(lines);
    checkJudgedMemory(file);
    return 0;
}
