#include "support/pagesource.h"

#include <QString>

namespace {

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

} // namespace

std::optional<QByteArray> recoverPageSource(const QByteArray& page) {
    const QByteArray start = "<pre id=\"message-source\">";
    const qsizetype from = page.indexOf(start);
    if (from < 0 || page.indexOf(start, from + 1) >= 0)
        return std::nullopt;
    const qsizetype textStart = from + start.size();
    const qsizetype to = page.indexOf("</pre>", textStart);
    if (to < 0)
        return std::nullopt;
    const QByteArray text = unescape(QByteArrayView(page).sliced(textStart, to - textStart));

    const QByteArray meta = "<meta name=\"message-source-encoding\" content=\"";
    const qsizetype metaAt = page.indexOf(meta);
    if (metaAt < 0)
        return std::nullopt;
    const QByteArrayView encoding = QByteArrayView(page).sliced(metaAt + meta.size());
    if (encoding.startsWith("utf-8\""))
        return text;
    if (!encoding.startsWith("iso-8859-1\""))
        return std::nullopt;
    const QString characters = QString::fromUtf8(text);
    for (QChar c : characters) {
        if (c.unicode() > 0xFF)
            return std::nullopt;
    }
    return characters.toLatin1();
}

std::optional<QByteArray> recoverLinkedMessage(const QByteArray& page) {
    const QByteArray start = "<a id=\"message-download\" download=\"";
    const qsizetype at = page.indexOf(start);
    const QByteArray href = " href=\"data:message/rfc822;base64,";
    const qsizetype from = at < 0 ? -1 : page.indexOf(href, at + start.size());
    if (from < 0)
        return std::nullopt;
    const qsizetype dataStart = from + href.size();
    const qsizetype dataEnd = page.indexOf('"', dataStart);
    if (dataEnd < 0)
        return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(page.mid(dataStart, dataEnd - dataStart),
                                                        QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return std::nullopt;
    return *decoded;
}
