#pragma once

#include <QByteArray>
#include <QStringList>

// Every header field's value of a message as the MIME library's own header objects decode it,
// for the message parsed with the options and from the point parseMessage uses, in the order
// parseMessage lists the fields: what ParsedMessage's lazily decoded values must equal.
QStringList headerValuesAsTheParserDecodesThem(const QByteArray& raw);
