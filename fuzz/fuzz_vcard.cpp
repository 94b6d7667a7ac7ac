// The contact-card reader: any file gives entries in file order, and what an entry carries can
// go into the whitelist as one row: an address without line breaks or control characters, a
// display name on one line.
//
// Input: the .vcf file's bytes.

#include "addressbook/vcardreader.h"
#include "fuzzsupport.h"

namespace {

bool hasControl(const QString& text) {
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return true;
    }
    return false;
}

bool isTrimmed(const QString& text) {
    return text == text.trimmed();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input(data, size);
    const QByteArray file = input.takeRest();

    const QList<VCardEntry> entries = vcard::parseVCards(file);
    // Every entry stands for at least one line of the file (a card, or stray lines between).
    FUZZ_CHECK(entries.size() <= file.count('\n') + file.count('\r') + 1);
    for (const VCardEntry& entry : entries) {
        if (entry.malformed) {
            FUZZ_CHECK(!entry.displayName && !entry.email);
            continue;
        }
        if (entry.email) {
            FUZZ_CHECK(!entry.email->isEmpty());
            FUZZ_CHECK(!hasControl(*entry.email));
            FUZZ_CHECK(isTrimmed(*entry.email));
        }
        if (entry.displayName) {
            FUZZ_CHECK(!hasControl(*entry.displayName));
            FUZZ_CHECK(isTrimmed(*entry.displayName));
        }
    }
    return 0;
}
