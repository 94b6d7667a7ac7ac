#pragma once

class QFont;
class QWidget;

// The font the program's windows are laid out for. The windows have a fixed size with every
// control at a fixed place, so their texts must not take the desktop's font, which may be any
// family and size: a wider one would cut captions off under the controls beside them. The font
// is given in pixels like the layout, so a desktop's font resolution cannot enlarge it either;
// high-density screens scale the whole window (and the font with it) instead.
QFont windowFont();

// Gives a window (and thereby every control in it) the window font.
void useWindowFont(QWidget* window);
