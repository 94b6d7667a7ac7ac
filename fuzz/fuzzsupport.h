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

// Seeds from whole messages, in a target's own input format. A target whose input is more than a
// message (steering bytes, rules, a POP3 session around it) calls this from its
// LLVMFuzzerInitialize with the function that wraps one message; then
//     fuzz_<name> --write-seeds=<folder> <message files...>
// writes the seed of the n-th file as <folder>/m<n> and ends the program (libFuzzer leaves options
// that start with "--" to the target). Without that option it returns at once.
using SeedFromMessage = QByteArray (*)(const QByteArray& message);
void writeSeedsIfAsked(int argc, char** argv, SeedFromMessage seedFor);

// Defines the target's LLVMFuzzerInitialize as writeSeedsIfAsked with seedFor.
#define FUZZ_SEEDS_FROM_MESSAGES(seedFor)                                                          \
    extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {                                 \
        writeSeedsIfAsked(*argc, *argv, seedFor);                                                  \
        return 0;                                                                                  \
    }

// Text from fuzz bytes: as UTF-8 (what mail and files mostly hold), or, when asUtf16 is true,
// as raw UTF-16 code units, so that lone surrogates and every other code unit can occur.
QString fuzzText(const QByteArray& bytes, bool asUtf16);
