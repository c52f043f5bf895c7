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
QString mutedSS(const ThemeColors& c);
QString noteSS(const ThemeColors& c);
QString comboSS(const ThemeColors& c);
// The page's vertical layout: contents margins 16 on every side.
QVBoxLayout* pageLayout(QWidget* page, int spacing);
// A word-wrapped label with its style sheet.
QLabel* wrappedLabel(const QString& text, const QString& styleSheet);

} // namespace SettingsPageKit
