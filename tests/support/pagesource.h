#pragma once

#include <QByteArray>

#include <optional>

// Gets a message back from its archive page the way the page's format describes, independently
// of the page writer: the text of the source element, unescaped in one pass, as UTF-8 or as one
// byte a character. Nothing when the page does not keep to the format (no source element or two,
// no encoding, a character that is not one byte in a one-byte page).
std::optional<QByteArray> recoverPageSource(const QByteArray& page);

// The message the page's download link saves, as the format describes it: the base64 after the
// data: prefix of the link's href. Nothing when there is no such link or its data is not base64.
std::optional<QByteArray> recoverLinkedMessage(const QByteArray& page);
