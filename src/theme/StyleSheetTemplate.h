#pragma once
#include <QColor>
#include <QString>

struct ThemeColors;

// The global style sheet: a fixed template with numbered markers (%1 font size,
// %2..%14 and %16 colour roles) and named markers (%FONT%, %ACCA%, ...).
namespace StyleSheetTemplate {

// The raw template text (UTF-8).
extern const char kTemplate[];

// The template with every marker replaced. Markers are bound to their names and
// numbers, never to an order of arguments, so a missing one shifts nothing.
QString fill(const ThemeColors& c, const QString& fontFamily, int fontPx);
// Same for any template text (used by fill and by the tests).
QString fillText(const QString& tmpl, const ThemeColors& c, const QString& fontFamily, int fontPx);

// The toggle-switch style sheet for one QCheckBox.
QString toggleSwitch(const ThemeColors& c);

// "rgba(r,g,b,a)" with a = alpha/255 written with two decimals.
QString rgba(const QColor& c, int alpha);
// url("data:image/svg+xml;base64,...") around an SVG text.
QString svgUrl(const QString& svg);
// The file that holds this SVG text in the user's cache folder (written when
// missing, named by the text's hash); empty when it cannot be written.
QString imageFileFor(const QString& svg);
// url("<that file>") for style sheets, or svgUrl(svg) when there is no file.
QString imageUrl(const QString& svg);
// imageUrl of a small filled arrow pointing up or down in the colour c, as
// the sheet draws on spin boxes and combo boxes.
QString arrowImage(bool up, const QColor& c);

} // namespace StyleSheetTemplate
