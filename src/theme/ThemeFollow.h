#pragma once
#include <QObject>
#include <functional>

#include "ThemeManager.h"

// Runs restyle with the current theme colours now and again after every later
// change of preset, accent or font, for as long as owner lives. Widgets that
// build colours into their own style sheets, palettes or icons use it, so
// that a change reaches them at once, as a fresh start would.
void followTheme(QObject* owner, std::function<void(const ThemeColors&)> restyle);
