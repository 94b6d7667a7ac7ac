#pragma once

#include <QByteArrayView>
#include <QString>

// Decodes text in the Windows-1252 code page, which data files brought from a Windows machine
// are written in. Every byte maps to one character; the five bytes the code page leaves
// undefined map to the control characters of the same value, so nothing becomes U+FFFD.
QString decodeWindows1252(QByteArrayView bytes);
