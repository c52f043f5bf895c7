#pragma once
#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

// SVG icons tinted at run time: a drawing writes "currentColor" where its
// colour goes; each call puts a concrete colour there and renders the SVG into
// a transparent pixmap of the requested size. Nothing is cached.
namespace VXIcons {

// Wraps path elements in a 24x24 line-art svg element (stroke currentColor).
QString strokeSvg(const QString& paths, double strokeWidth);
// The filled play triangle (24x24, fill currentColor).
QString ic_play();

QPixmap modernPixmap(const QString& svg, const QColor& c, int size);
QIcon svgIconRawColored(QString svg, const QColor& c, int w, int h);
QIcon modern(const QString& svg, const QColor& c, int size);
// base64Svg: a whole SVG document in standard Base64 (UTF-8 text).
QIcon svgIconColored(const char* base64Svg, const QColor& c, int w, int h);
// Same, rendered with the drawing's own colours.
QIcon svgIcon(const char* base64Svg, int w, int h);

// The pixmap clipped to a rounded rectangle over its whole size (a null pixmap
// comes back as it is).
QPixmap roundedCorners(const QPixmap& source, double radius);

} // namespace VXIcons

// A pixel length scaled by the primary screen's logical DPI (96 = 1.0).
int sc(int px);
// The rule behind sc for a given logical DPI: factor above 2 doubles, factor
// at most 0.75 gives 0.75, otherwise the factor; rounded half away from zero.
int scForDpi(int px, double logicalDpi);

// Style sheet for context and drop-down menus in the current theme colours.
QString vxMenuSS();
