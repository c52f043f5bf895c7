#pragma once
// Pieces every page of the settings dialog builds with: titled cards, the
// scroll wrapper and the small style sheets taken from the theme's colours.
#include <QString>

#include "ThemeManager.h"

class QGroupBox;
class QLabel;
class QVBoxLayout;
class QScrollArea;
class QWidget;

namespace SettingsPageKit {

QGroupBox* makeGroup(const QString& title);
QScrollArea* scrollPage(QWidget* page);
// A fixed or muted text colour, moved just far enough to read at 4.5 : 1 on
// every ground of the dialog (window, page and card surfaces).
QColor readableInk(const ThemeColors& c, const QColor& ink);
QString mutedSS(const ThemeColors& c);
QString noteSS(const ThemeColors& c);
QString comboSS(const ThemeColors& c);
// The focus ring rules of the dialog's controls, for its own style sheet and
// for a control whose sheet sets its own border.
QString focusRules(const ThemeColors& c);
// The page's vertical layout: contents margins 16 on every side.
QVBoxLayout* pageLayout(QWidget* page, int spacing);
// A word-wrapped label with its style sheet.
QLabel* wrappedLabel(const QString& text, const QString& styleSheet);

} // namespace SettingsPageKit
