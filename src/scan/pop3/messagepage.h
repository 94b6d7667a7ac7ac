#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

class QIODevice;
struct ParsedMessage;

// Why a message was removed, for the block the page shows above it. A note without a check is
// left off the page, and so is each empty part of one.
struct RemovalNote {
    QString check;   // the check that removed it, as a noun: "blacklist entry", "keyword"
    QString entry;   // the entry that matched, exactly as it stands in its list
    QString place;   // where the entry was found: "the sender", "the subject", "the body"
    QString account; // the mailbox the message came from: "alice on pop.example.org"
    QDateTime time;  // when it was removed

    bool isEmpty() const { return check.isEmpty(); }
    bool operator==(const RemovalNote&) const = default;
};

// The page an archived message is saved as: a self-contained HTML file (UTF-8) that shows the
// main header fields and the complete raw message. Every character of the message that could be
// markup is escaped, so opening the page runs none of the message's HTML or scripts.
//
// The raw message is the content of the element <pre id="message-source">. To get the original
// bytes back from the page file: take the text between that start tag and the next "</pre>"
// (the message itself cannot contain "<" unescaped), replace each of &lt; &gt; &quot; &#39;
// &amp; by < > " ' & in one pass, then look at the page's
// <meta name="message-source-encoding" content="...">:
// - "utf-8": the message was valid UTF-8 and the text's UTF-8 bytes are the message;
// - "iso-8859-1": every character (U+0000 to U+00FF) stands for the byte of the same value.
// Line ends are kept as they were (CRLF), so the page file is to be read as bytes, not through a
// tool that rewrites line ends.
//
// The same bytes are also the target of the page's download link, <a id="message-download">, so
// that a browser saves them as an .eml file a mail program opens: its href is
// "data:message/rfc822;base64," followed by the whole raw message in base64 (RFC 4648, with
// padding, no line breaks), and its download attribute names the file after the subject. A data
// link needs no script and loads nothing, so the page's Content-Security-Policy stays as strict.
//
// Above the message, a page may say why the message was removed (see RemovalNote), in the
// element <div id="removal">; every text in it is escaped like the rest of the page, and control
// characters in the matched entry are shown as \xNN so that the user sees them.

// Writes the page; false when the device refused a write. An empty note leaves the reason off.
bool writeMessagePage(QIODevice& device, const ParsedMessage& message, const QByteArray& raw,
                      const RemovalNote& note = {});

// The text a user reads for the reason a message was removed, in one line: "blacklist entry
// `@spam.example` found in the sender". The entry is quoted exactly; empty for an empty note.
QString removalReasonText(const RemovalNote& note);

// The text with each control character (U+0000 to U+001F, U+007F to U+009F, the line and
// paragraph separators) written as \xNN or \uNNNN, so that it shows and cannot break a line.
QString withVisibleControls(const QString& text);

// Markup-escapes text: & < > " ' become &amp; &lt; &gt; &quot; &#39;.
QByteArray escapeHtml(QByteArrayView text);
