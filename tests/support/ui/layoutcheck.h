#pragma once

#include <QStringList>

class QWidget;

// What a user sees wrong in a window laid out at fixed places, found from the geometry rather
// than from pixels: a caption, label, button, check box, group title or tab text that does not
// fit its control (so part of it is cut off or drawn over the control's frame), a control that
// reaches out of the area that shows it, and visible sibling controls that overlap. Only what
// is on show counts: the window must be visible, and of a tab control only the current page.
struct LayoutReport {
    QStringList faults;
    // How many texts were measured, so that a check that found nothing to measure shows.
    int texts = 0;
};

LayoutReport checkLayout(QWidget* window);
