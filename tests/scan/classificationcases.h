#pragma once

#include "scan/classification.h"

#include <QList>

// Messages with their rule lists and switches, and the outcome each must have. Shared by the
// tests of the row-by-row classification and of the fast one, which must agree on all of them.
struct ClassificationCase {
    const char* name;
    MessageFields message;
    CheckSwitches switches;
    RuleLists lists;
    Classification expected;
};

QList<ClassificationCase> classificationCases();

// For QCOMPARE failures.
char* toString(const Classification& c);
