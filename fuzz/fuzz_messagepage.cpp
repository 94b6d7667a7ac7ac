// The archive page of a message: whatever the message holds, the page carries no markup of its
// own making, and the message comes back from the page byte for byte by the recovery that
// messagepage.h describes, from the page's text and from its download link alike.
//
// Input: the message as retrieved.

#include "fuzzsupport.h"
#include "scan/pop3/messagepage.h"
#include "scan/pop3/parsedmessage.h"

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

QByteArray unescape(QByteArrayView text) {
    static const struct {
        QByteArrayView entity;
        char c;
    } entities[] = {{"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&#39;", '\''}, {"&amp;", '&'}};
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto& e : entities) {
            if (text.sliced(i).startsWith(e.entity)) {
                out.append(e.c);
                i += e.entity.size();
                replaced = true;
                break;
            }
        }
        if (!replaced)
            out.append(text[i++]);
    }
    return out;
}

// The raw message as the page's reader gets it back.
QByteArray recover(const QByteArray& page) {
    const QByteArray start = "<pre id=\"message-source\">";
    const qsizetype from = page.indexOf(start);
    FUZZ_CHECK(from >= 0);
    FUZZ_CHECK(page.indexOf(start, from + 1) < 0);
    const qsizetype textStart = from + start.size();
    const qsizetype to = page.indexOf("</pre>", textStart);
    FUZZ_CHECK(to >= 0);
    const QByteArray text = unescape(QByteArrayView(page).sliced(textStart, to - textStart));

    const QByteArray meta = "<meta name=\"message-source-encoding\" content=\"";
    const qsizetype metaAt = page.indexOf(meta);
    FUZZ_CHECK(metaAt >= 0);
    const QByteArrayView encoding = QByteArrayView(page).sliced(metaAt + meta.size());
    if (encoding.startsWith("utf-8\""))
        return text;
    FUZZ_CHECK(encoding.startsWith("iso-8859-1\""));
    const QString characters = QString::fromUtf8(text);
    for (QChar c : characters)
        FUZZ_CHECK(c.unicode() <= 0xFF);
    return characters.toLatin1();
}

// The raw message as the page's download link saves it.
QByteArray fromLink(const QByteArray& page) {
    const QByteArray href = "<a id=\"message-download\" download=\"";
    const qsizetype at = page.indexOf(href);
    FUZZ_CHECK(at >= 0);
    const QByteArray data = " href=\"data:message/rfc822;base64,";
    const qsizetype from = page.indexOf(data, at + href.size());
    FUZZ_CHECK(from >= 0);
    const qsizetype start = from + data.size();
    const qsizetype end = page.indexOf('"', start);
    FUZZ_CHECK(end >= 0);
    const auto decoded = QByteArray::fromBase64Encoding(page.mid(start, end - start),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    FUZZ_CHECK(bool(decoded));
    return *decoded;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const QByteArray raw = input.takeRest();
    const QByteArray page = pageFor(parseMessage(raw), raw);

    FUZZ_CHECK(QByteArrayView(page).isValidUtf8());
    FUZZ_CHECK(markupIn(page) == emptyPageMarkup());
    FUZZ_CHECK(recover(page) == raw);
    FUZZ_CHECK(fromLink(page) == raw);
    return 0;
}
