#pragma once

class QPoint;

// Where the mouse cursor is, for popping the tray menu up under it.
namespace RestrictSizing {

// The cursor's position on the screen, in pixels.
QPoint cursorPosition();

} // namespace RestrictSizing
