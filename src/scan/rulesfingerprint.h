#pragma once

#include "scan/classification.h"

#include <QByteArray>

// What every verdict depends on, in a short text (64 hexadecimal digits): a message judged under
// one fingerprint gets the same verdict and the same keyword-check count again under the same one.
// Made of the three lists (every entry as the grid holds it, in row order, empty ones included),
// which checks are on, and kJudgingVersion. A check box's greyed value counts as off, as it does
// for the checks.
//
// Digesting long lists takes a while and the switches may change from one message to the next, so
// listsDigest() is worked out once per change of the lists and rulesFingerprint() per message.
QByteArray listsDigest(const RuleLists& lists);
QByteArray rulesFingerprint(const QByteArray& listsDigest, const CheckSwitches& switches);
