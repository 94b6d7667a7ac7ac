#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>

// One header field of a message: its name as written and its value as received. A message has
// dozens of fields and the filter reads a few, so a value is decoded only when asked for.
struct MessageHeader {
    QString name;
    QByteArray rawValue; // folded, encoded words and all

    // The value unfolded, with encoded words decoded and charsets undone.
    QString value() const;
};

// What the filter reads from a retrieved message. A plain value: it holds no reference to the raw
// bytes or to the parser, so it can be made on any thread and handed on.
struct ParsedMessage {
    // The From field as received, decoded ("Display Name" <address>); empty when absent.
    QString sender;
    // The Subject field, decoded; empty when absent.
    QString subject;
    // The text of every text/plain and text/html part in message order (parts of attached
    // messages included), transfer encodings and charsets undone, line ends as "\n", parts joined
    // by a line break. HTML parts keep their markup.
    QString body;
    // Every header field in the order received.
    QList<MessageHeader> headers;

    // The first (topmost) field of that name, compared without regard to case; a trailing colon
    // on the name is ignored ("Received:" and "received" are the same). Empty when absent.
    QString header(QStringView name) const;
};

// Parses a message as retrieved (header, blank line, body; CRLF or LF line ends). Never fails: a
// message the MIME parser cannot make sense of yields no header fields and its whole text as the
// body, so that nothing in it escapes the filter. Text in an unknown or missing charset is read
// as UTF-8 when it is valid UTF-8, and as Windows-1252 otherwise.
ParsedMessage parseMessage(const QByteArray& raw);

// How many bytes of mailbox separator lines ("From ...", as mbox files put before each message)
// the message begins with; the MIME parser is given the message after them. It would pass over
// them itself, but one longer than its buffer makes it lose the header line after it.
qsizetype mailboxSeparatorsLength(QByteArrayView raw);

// The MIME parser's options that parseMessage uses; the library is set up on the first call.
typedef struct _GMimeParserOptions GMimeParserOptions;
GMimeParserOptions* messageParserOptions();

// Turns text in the named charset into a string, by the rules parseMessage uses. Invalid bytes
// become U+FFFD.
QString decodeCharset(QByteArrayView bytes, const QByteArray& charset);
