#include "scan/pop3/messagepage.h"

#include "scan/archivename.h"
#include "scan/pop3/parsedmessage.h"

#include <QIODevice>

#include <algorithm>
#include <array>

namespace {

// The raw message is escaped and written in pieces of this size, so a large message never needs
// a second full-size copy in memory.
constexpr qsizetype kChunk = 64 * 1024;

// The raw message goes into the download link in pieces of this size: a multiple of three bytes,
// so that the base64 of the pieces strung together is the base64 of the whole.
constexpr qsizetype kLinkChunk = 48 * 1024;

// The entity each markup character is written as; null for every other byte.
constexpr std::array<const char*, 256> kEntities = [] {
    std::array<const char*, 256> entities{};
    entities['&'] = "&amp;";
    entities['<'] = "&lt;";
    entities['>'] = "&gt;";
    entities['"'] = "&quot;";
    entities['\''] = "&#39;";
    return entities;
}();

// Appends text with the markup characters escaped. With bytesAsLatin1, every byte from 0x80 up is
// written as the UTF-8 of the ISO-8859-1 character of that value. Runs of bytes that stay as they
// are go in one copy.
void appendEscaped(QByteArray& out, QByteArrayView text, bool bytesAsLatin1) {
    const char* data = text.data();
    qsizetype run = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(data[i]);
        const char* entity = kEntities[byte];
        if (!entity && (byte < 0x80 || !bytesAsLatin1))
            continue;
        out.append(data + run, i - run);
        run = i + 1;
        if (entity) {
            out.append(entity);
        } else {
            out.append(static_cast<char>(0xC0 | (byte >> 6)));
            out.append(static_cast<char>(0x80 | (byte & 0x3F)));
        }
    }
    out.append(data + run, text.size() - run);
}

QByteArray escapeText(const QString& text) {
    return escapeHtml(text.toUtf8());
}

// Writes the raw message escaped, as UTF-8 when it is valid UTF-8 and otherwise byte by byte as
// ISO-8859-1 characters. Markup characters are ASCII and never part of a multi-byte sequence, so
// escaping works on bytes in both cases.
bool writeSource(QIODevice& device, const QByteArray& raw, bool utf8) {
    QByteArray piece;
    piece.reserve(std::min(raw.size(), kChunk) * 2 + 16);
    for (qsizetype at = 0; at < raw.size(); at += kChunk) {
        piece.clear();
        appendEscaped(piece, QByteArrayView(raw).sliced(at, std::min(kChunk, raw.size() - at)),
                      !utf8);
        if (device.write(piece) != piece.size())
            return false;
    }
    return true;
}

// The link that saves the raw message as an .eml file, named after the subject like the page.
bool writeDownloadLink(QIODevice& device, const ParsedMessage& message, const QByteArray& raw) {
    QString name = archiveFileName(message.subject);
    name.chop(5); // ".html"
    QByteArray start = "<p><a id=\"message-download\" download=\"" +
                       escapeText(name + QStringLiteral(".eml")) +
                       "\" href=\"data:message/rfc822;base64,";
    if (device.write(start) != start.size())
        return false;
    for (qsizetype at = 0; at < raw.size(); at += kLinkChunk) {
        const QByteArray encoded =
            QByteArray::fromRawData(raw.constData() + at, std::min(kLinkChunk, raw.size() - at))
                .toBase64();
        if (device.write(encoded) != encoded.size())
            return false;
    }
    const QByteArray end = "\">Save the original message</a> as an .eml file, which your mail "
                           "program opens.</p>\n";
    return device.write(end) == end.size();
}

// When the note has a time: "2024-05-01 10:15:03 +02:00".
QString readableTime(const QDateTime& time) {
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")) +
           QLatin1Char(offset < 0 ? '-' : '+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QByteArray removalBlock(const RemovalNote& note) {
    if (note.isEmpty())
        return QByteArray();
    QByteArray block = "<div id=\"removal\">\n<p id=\"removal-reason\">Removed as spam: " +
                       escapeText(note.check) + " <code class=\"entry\">" +
                       escapeText(withVisibleControls(note.entry)) + "</code>";
    if (!note.place.isEmpty())
        block += " found in " + escapeText(note.place);
    block += "</p>\n";
    if (!note.account.isEmpty())
        block +=
            "<p id=\"removal-account\">From the mailbox " + escapeText(note.account) + "</p>\n";
    if (note.time.isValid())
        block +=
            "<p id=\"removal-time\">Removed on " + escapeText(readableTime(note.time)) + "</p>\n";
    block += "</div>\n";
    return block;
}

} // namespace

QString removalReasonText(const RemovalNote& note) {
    if (note.isEmpty())
        return QString();
    QString text = note.check + QStringLiteral(" `") + note.entry + QLatin1Char('`');
    if (!note.place.isEmpty())
        text += QStringLiteral(" found in ") + note.place;
    return text;
}

QString withVisibleControls(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || (u >= 0x7f && u < 0xa0))
            out += QStringLiteral("\\x") +
                   QString::number(u, 16).rightJustified(2, QLatin1Char('0')).toUpper();
        else if (u == 0x2028 || u == 0x2029)
            out += QStringLiteral("\\u") + QString::number(u, 16);
        else
            out += c;
    }
    return out;
}

QByteArray escapeHtml(QByteArrayView text) {
    QByteArray out;
    out.reserve(text.size() + text.size() / 8);
    appendEscaped(out, text, false);
    return out;
}

bool writeMessagePage(QIODevice& device, const ParsedMessage& message, const QByteArray& raw,
                      const RemovalNote& note) {
    const bool utf8 = QByteArrayView(raw).isValidUtf8();
    const QString title =
        message.subject.isEmpty() ? QStringLiteral("(no subject)") : message.subject;

    QByteArray head;
    head += "<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\">\n"
            // Nothing on the page may load or run, whatever a browser makes of it.
            "<meta http-equiv=\"Content-Security-Policy\" "
            "content=\"default-src 'none'; style-src 'unsafe-inline'\">\n"
            "<meta name=\"message-source-encoding\" content=\"";
    head += utf8 ? "utf-8" : "iso-8859-1";
    head += "\">\n<title>" + escapeText(title) +
            "</title>\n"
            "<style>th{text-align:left;padding-right:1em}"
            "pre{white-space:pre-wrap;word-wrap:break-word}"
            // An entry's spaces count: none may be folded away.
            "#removal{background:#fff4e5;border:1px solid #e0a040;padding:0 .6em}"
            "code.entry{white-space:pre;background:#fde2b8}</style>\n"
            "</head>\n<body>\n";
    head += removalBlock(note);
    if (device.write(head) != head.size() || !writeDownloadLink(device, message, raw))
        return false;
    head = "<table>\n";
    const struct {
        const char* label;
        const char* field;
    } rows[] = {{"From", "From"}, {"To", "To"}, {"Date", "Date"}, {"Subject", "Subject"}};
    for (const auto& row : rows) {
        head += "<tr><th>";
        head += row.label;
        head += "</th><td>" + escapeText(message.header(QString::fromLatin1(row.field))) +
                "</td></tr>\n";
    }
    head += "</table>\n<hr>\n<pre id=\"message-source\">";

    if (device.write(head) != head.size())
        return false;
    if (!writeSource(device, raw, utf8))
        return false;
    const QByteArray tail = "</pre>\n</body>\n</html>\n";
    return device.write(tail) == tail.size();
}
