#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>

// Helpers shared by the fuzz targets.

// Ends the run with a report on standard error; libFuzzer keeps the input as a crash.
[[noreturn]] void fuzzFailure(const char* check, const char* file, int line);

// Checks a property that must hold for every input.
#define FUZZ_CHECK(condition)                                                                      \
    ((condition) ? static_cast<void>(0) : fuzzFailure(#condition, __FILE__, __LINE__))

// Reads a fuzz input from the front: a few bytes that steer the run, then the rest as the data
// under test. Past the end, bytes read as 0, so every input is usable.
class FuzzInput {
public:
    FuzzInput(const uint8_t* data, size_t size);

    uint8_t takeByte();
    // The unread bytes, copied into an array of their own as the program's buffers are.
    QByteArray takeRest();
    bool atEnd() const { return m_pos >= m_size; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
};

// A bound picked by one byte: small values one by one (where off-by-one faults live), larger
// ones in powers of two up to a few megabytes.
qsizetype fuzzLimit(uint8_t byte);

// Text from fuzz bytes: as UTF-8 (what mail and files mostly hold), or, when asUtf16 is true,
// as raw UTF-16 code units, so that lone surrogates and every other code unit can occur.
QString fuzzText(const QByteArray& bytes, bool asUtf16);
