#pragma once

class QComboBox;
class QRect;
class QScrollArea;
class QSize;
class QWidget;
struct QMargins;

// Keeps windows on their screen: a dialog whose content can grow with the
// data (long logs, many tabs) scrolls that part instead of growing past the
// screen's bottom edge.
namespace ScreenFit {

// The available height (without task bars) of the screen the widget is on,
// or would open on: its own, its window's parent's, else the primary screen.
int availableHeight(const QWidget* w);

// A vertical scroll area holding content (which it takes over), parented to
// parent, without frame and horizontal bar, never taller than maxHeight.
QScrollArea* scrolling(QWidget* content, int maxHeight, QWidget* parent);

// Caps the dialog's height at the available height of its screen, less the
// room the window frame takes.
void capHeight(QWidget* dialog);

// The window rectangle r (without its frame) within area, the frame's
// margins around it included: shrunk to the room there is, never below
// minimum, and moved inside (its left top edge first when even the minimum
// does not fit).
QRect fitInto(const QRect& r, const QRect& area, const QMargins& frame, const QSize& minimum);

// Bounds a top-level window's size and place to the available area (without
// task bars) of its screen; a maximised or full-screen window is left alone.
void fitWindow(QWidget* window);

// Lets the combo box's popup list every entry it holds now, as far as its
// screen has room (the popup stays on the screen and scrolls only there):
// no cap on the rows below their count, and the popup grown, when shown,
// to rows that the style sheet's margins would leave behind a scroll arrow.
void showAllEntries(QComboBox* combo);

} // namespace ScreenFit
