#pragma once

class QCheckBox;

// A check box's value as the program stores it: 0 cleared, 1 ticked, 2 greyed.
int checkValue(const QCheckBox* box);
void setCheckValue(QCheckBox* box, int value);
