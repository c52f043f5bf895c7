#pragma once
#include <QString>

class QAction;
class QMenu;

// Adds a heading line to the menu: its text drawn in the theme's secondary
// text colour (moved just far enough to read at 4.5 : 1 on the menus'
// grounds, and following theme changes), never selectable. A plain section would draw only as a bare
// line under a menu style sheet. The action's text is the heading's text.
QAction* vxMenuHeading(QMenu* menu, const QString& text);
