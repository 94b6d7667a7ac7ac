#pragma once

#include "scan/classification.h"

#include <functional>

// The reference the fast classifier (scan/fastclassifier.h) is checked against: the checks
// walked one list row at a time, exactly as the status line shows them, with every status text
// handed out. Slow on long lists, and therefore not what the scan pass runs; plain enough to be
// read against the rules.

// Called with every status text at the moment it is shown. `thenYield` is true for the texts
// shown before a comparison, after which the window lets pending events run.
using StatusCallback = std::function<void(const QString& status, bool thenYield)>;

// The checks one row at a time, in the order the user sees them in the status line: whitelist,
// blacklist, address check, keywords (each keyword in the subject, then in the body). Entries
// are compared upper-cased and found anywhere as a contiguous run of characters. Empty entries
// are skipped without a comparison or status text: an empty text is found in every text, so one
// empty row would otherwise let every message through or delete every message.
Classification classifyMessage(const MessageFields& message, const CheckSwitches& switches,
                               const RuleLists& lists, const StatusCallback& onStatus = {});
