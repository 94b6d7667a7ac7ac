// Message parsing as the filter reads it: the From and Subject fields, the body text and any
// header field, then the judgement of the message by both classifiers, which must agree.
//
// Input: byte 0 sets the four check boxes (two bits each: 0 clear, 1 ticked, 2 greyed), byte 1
// picks a charset for a direct charset conversion of the message bytes; then one line of rules
// separated by commas, each starting with its list ('w' whitelist, 'b' blacklist, anything else
// keyword) followed by the entry; the rest is the message as retrieved.

#include "fuzzsupport.h"
#include "scan/fastclassifier.h"
#include "scan/pop3/parsedmessage.h"
#include "support/headerreference.h"
#include "support/referenceclassifier.h"

#include <iterator>

namespace {

// Charsets that take the conversion through its different paths: the ones read directly, the
// ones guessed, stateful and multi-byte ones, and names that no converter knows.
const char* const kCharsets[] = {"utf-8",      "us-ascii",    "",        "windows-1252",
                                 "iso-8859-1", "iso-2022-jp", "utf-7",   "utf-16",
                                 "utf-32",     "shift_jis",   "gb18030", "x-no-such-charset",
                                 "UTF8 ",      "euc-kr",      "koi8-r",  "big5"};

CheckSwitches switchesFrom(quint8 byte) {
    const auto value = [&](int shift) { return ((byte >> shift) & 3) % 3; };
    return {value(0), value(2), value(4), value(6)};
}

RuleLists rulesFrom(const QByteArray& line) {
    RuleLists lists;
    for (const QByteArray& rule : line.split(',')) {
        if (rule.isEmpty())
            continue;
        const QString entry = QString::fromUtf8(rule.mid(1));
        if (rule[0] == 'w')
            lists.whitelist.append(entry);
        else if (rule[0] == 'b')
            lists.blacklist.append(entry);
        else
            lists.keywords.append(entry);
    }
    return lists;
}

// The seed of a whole message: all four checks ticked, the UTF-8 conversion, the rules of the
// demo mailbox, then the message.
QByteArray seedFor(const QByteArray& message) {
    return QByteArray("\x55\x00", 2) +
           "wfamily.example,bbulk-offers.example,klottery,kmiracle cure,kunclaimed funds\n" +
           message;
}

} // namespace

FUZZ_SEEDS_FROM_MESSAGES(seedFor)

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const CheckSwitches switches = switchesFrom(input.takeByte());
    const char* charset = kCharsets[input.takeByte() % std::size(kCharsets)];
    QByteArray rest = input.takeRest();
    const qsizetype lineEnd = rest.indexOf('\n');
    const RuleLists lists = rulesFrom(lineEnd < 0 ? QByteArray() : rest.left(lineEnd));
    const QByteArray raw = lineEnd < 0 ? rest : rest.mid(lineEnd + 1);

    // Stateful and multi-byte charsets must neither loop nor read past the bytes.
    decodeCharset(raw, QByteArray(charset));

    const ParsedMessage message = parseMessage(raw);
    // Nothing of a message escapes the filter: what it holds is read as header fields or as
    // body text. (Lines "From ..." among the header lines are mailbox separators, which the
    // parser passes over, as mail programs do.)
    QByteArray content;
    for (const QByteArray& line : raw.split('\n')) {
        if (!line.startsWith("From "))
            content += line;
    }
    FUZZ_CHECK(content.trimmed().isEmpty() || !message.headers.isEmpty() ||
               !message.body.isEmpty());

    // Header values are decoded when read, exactly as the parser would have decoded them.
    QStringList values;
    for (const MessageHeader& header : message.headers)
        values.append(header.value());
    FUZZ_CHECK(values == headerValuesAsTheParserDecodesThem(raw));

    MessageFields fields;
    fields.sender = message.sender;
    fields.subject = message.subject;
    fields.body = message.body;
    fields.received = message.header(u"Received:");

    const Classification byRows = classifyMessage(fields, switches, lists);
    const FastClassifier fast(lists);
    FUZZ_CHECK(fast.classify(fields, switches) == byRows);
    return 0;
}
