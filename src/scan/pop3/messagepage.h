#pragma once

#include <QByteArray>

class QIODevice;
struct ParsedMessage;

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

// Writes the page; false when the device refused a write.
bool writeMessagePage(QIODevice& device, const ParsedMessage& message, const QByteArray& raw);

// Markup-escapes text: & < > " ' become &amp; &lt; &gt; &quot; &#39;.
QByteArray escapeHtml(QByteArrayView text);
