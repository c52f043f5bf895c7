#include "StyleSheetTemplate.h"

#include "ThemeManager.h"

namespace StyleSheetTemplate {

const char kTemplate[] = R"QSS(
QWidget { font-family: %FONT%; font-size: %1px; color: %2; }
)QSS";

QString rgba(const QColor& c, int alpha)
{
    return QStringLiteral("rgba(%1,%2,%3,%4)")
        .arg(QString::number(c.red()), QString::number(c.green()), QString::number(c.blue()),
             QString::number(alpha / 255.0, 'f', 2));
}

QString svgUrl(const QString& svg)
{
    return QStringLiteral("url(\"data:image/svg+xml;base64,") + QString::fromLatin1(svg.toUtf8().toBase64())
        + QStringLiteral("\")");
}

QString fillText(const QString& tmpl, const ThemeColors& c, const QString& fontFamily, int fontPx)
{
    Q_UNUSED(c);
    Q_UNUSED(fontFamily);
    Q_UNUSED(fontPx);
    return tmpl;
}

QString fill(const ThemeColors& c, const QString& fontFamily, int fontPx)
{
    return fillText(QString::fromUtf8(kTemplate), c, fontFamily, fontPx);
}

QString toggleSwitch(const ThemeColors& c)
{
    Q_UNUSED(c);
    return QString();
}

} // namespace StyleSheetTemplate
