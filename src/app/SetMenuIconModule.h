#pragma once

class QPixmap;
class QWidget;

// Puts a bitmap on an item of a window's menu bar: the item is found as the item at the given
// position of the submenu at the given position of the bar. The bitmap for the unchecked state
// and the one for the checked state become the item's icon in its off and on states. Failures
// change nothing.
namespace SetMenuIconModule {

// The item is addressed by its command, that is, the item itself wherever it sits; the only
// way items are addressed here.
inline constexpr unsigned kByCommand = 0;

// Returns non-zero when the bitmaps were set, 0 when the window has no menu bar, the bar no
// submenu at subMenuPosition, the submenu no command item at itemPosition (separators and
// nested submenus have no command), or flags ask for another way of addressing. Two null
// bitmaps take a custom mark away again.
int setMenuItemBitmaps(QWidget* window, int subMenuPosition, int itemPosition, unsigned flags,
                       const QPixmap& uncheckedBitmap, const QPixmap& checkedBitmap);

} // namespace SetMenuIconModule
