#include "VXIcons.h"

#include "ThemeManager.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QSvgRenderer>

#include <cmath>

namespace VXIcons {

QString strokeSvg(const QString& paths, double strokeWidth)
{
    return QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 24 24' fill='none' "
                          "stroke='currentColor' stroke-width='%1' stroke-linecap='round' "
                          "stroke-linejoin='round'>%2</svg>")
        .arg(QString::number(strokeWidth, 'g'), paths);
}

QString ic_play()
{
    return QStringLiteral("<svg xmlns='http://www.w3.org/2000/svg' viewBox='0 0 24 24' fill='currentColor' "
                          "stroke='none'><path d='M7 4.8c0-1.2 1.3-1.9 2.3-1.3l11 6.7c1 .6 1 2 0 2.6l-11 "
                          "6.7c-1 .6-2.3-.1-2.3-1.3V4.8z'/></svg>");
}

static QPixmap render(const QString& svg, int w, int h)
{
    QPixmap pm(qMax(w, 0), qMax(h, 0));
    pm.fill(Qt::transparent);
    if (pm.isNull())
        return pm;
    QSvgRenderer renderer(svg.toUtf8());
    if (renderer.isValid()) {
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing, true);
        renderer.render(&p, QRectF(0, 0, w, h));
    }
    return pm;
}

static QString tinted(QString svg, const QColor& c)
{
    // name() drops the alpha: icons always tint fully opaque.
    return svg.replace(QLatin1String("currentColor"), c.name(QColor::HexRgb));
}

QPixmap modernPixmap(const QString& svg, const QColor& c, int size)
{
    return render(tinted(svg, c), size, size);
}

QIcon svgIconRawColored(QString svg, const QColor& c, int w, int h)
{
    return QIcon(render(tinted(std::move(svg), c), w, h));
}

QIcon modern(const QString& svg, const QColor& c, int size)
{
    return svgIconRawColored(svg, c, size, size);
}

static QString fromBase64(const char* base64Svg)
{
    if (!base64Svg)
        return QString();
    return QString::fromUtf8(QByteArray::fromBase64(QByteArray(base64Svg)));
}

QIcon svgIconColored(const char* base64Svg, const QColor& c, int w, int h)
{
    return svgIconRawColored(fromBase64(base64Svg), c, w, h);
}

QIcon svgIcon(const char* base64Svg, int w, int h)
{
    return QIcon(render(fromBase64(base64Svg), w, h));
}

QPixmap roundedCorners(const QPixmap& source, double radius)
{
    if (source.isNull())
        return source;
    QPixmap out(source.size());
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0, 0, source.width(), source.height()), radius, radius);
    p.setClipPath(clip);
    p.drawPixmap(0, 0, source);
    p.end();
    return out;
}

} // namespace VXIcons

int scForDpi(int px, double logicalDpi)
{
    const double f = logicalDpi / 96.0;
    double scaled;
    if (f > 2.0)
        scaled = px * 2.0;
    else if (f > 0.75)
        scaled = px * f;
    else
        scaled = px * 0.75;
    return int(std::lround(scaled));
}

int sc(int px)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return px;
    return scForDpi(px, screen->logicalDotsPerInch());
}

QString vxMenuSS()
{
    const ThemeColors& c = ThemeManager::instance()->colors();
    QString ss = QStringLiteral(
        "QMenu{background:%1;border:1px solid %2;border-radius:6px;padding:3px;}"
        "QMenu::item{padding:6px 20px;color:%3;font-size:11px;}"
        "QMenu::item:selected{background:%4;color:%5;}"
        "QMenu::item:pressed{background:%2;}"
        "QMenu::separator{background:%2;height:1px;margin:3px 8px;}"
        "QMenu::item:disabled{color:%6;}");
    const QColor roles[] = {c.surface, c.border, c.textSecondary, c.surfaceAlt, c.text, c.textMuted};
    for (int i = 0; i < 6; ++i)
        ss.replace(QLatin1Char('%') + QString::number(i + 1), roles[i].name());
    return ss;
}
