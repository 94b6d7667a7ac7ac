// The archive page of a message: whatever the message holds, the page carries no markup of its
// own making, and the message comes back from the page byte for byte by the recovery that
// messagepage.h describes, from the page's text and from its download link alike.
//
// Input: the message as retrieved.

#include "fuzzsupport.h"
#include "scan/pop3/messagepage.h"
#include "scan/pop3/parsedmessage.h"
#include "support/pagesource.h"

#include <QBuffer>

namespace {

QByteArray pageFor(const ParsedMessage& message, const QByteArray& raw) {
    QByteArray page;
    QBuffer buffer(&page);
    buffer.open(QIODevice::WriteOnly);
    FUZZ_CHECK(writeMessagePage(buffer, message, raw));
    return page;
}

// The markup the page itself is made of: its tags and nothing else. A message that adds to
// these counts put markup of its own on the page.
struct MarkupCount {
    qsizetype open = 0;
    qsizetype close = 0;
    bool operator==(const MarkupCount&) const = default;
};

MarkupCount markupIn(const QByteArray& page) {
    return {page.count('<'), page.count('>')};
}

const MarkupCount& emptyPageMarkup() {
    static const MarkupCount count = markupIn(pageFor(ParsedMessage(), QByteArray()));
    return count;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const QByteArray raw = input.takeRest();
    const QByteArray page = pageFor(parseMessage(raw), raw);

    FUZZ_CHECK(QByteArrayView(page).isValidUtf8());
    FUZZ_CHECK(markupIn(page) == emptyPageMarkup());
    FUZZ_CHECK(recoverPageSource(page) == raw);
    FUZZ_CHECK(recoverLinkedMessage(page) == raw);
    return 0;
}
