#pragma once

#include <QByteArray>
#include <QList>

// The unique ids a server gives its messages (UIDL): "<number> <id>" a line, an id being 1 to 70
// characters from "!" to "~". An id stays with its message from session to session, so a client
// can tell the messages it has seen before.
//
// Reads a UIDL listing for a mailbox of count messages: the id of message n at index n - 1. Where
// there is any doubt, the message gets no id (an empty one), so it is treated as never seen: a
// line that is not "<number> <id>", a number out of range or listed twice, an id that is empty,
// too long or holds other characters, and an id that two messages share (both lose it).
QList<QByteArray> parseUniqueIds(const QByteArray& listing, int count);

// Whether the text is a well-formed unique id.
bool isValidUniqueId(QByteArrayView id);
