#include "BundleImportRules.h"

#include <QFileInfo>
#include <QRegularExpression>

#include "BundleFormat.h"

namespace BundleImportRules {

namespace {

QString cleaned(const QString& name, const QString& fallback)
{
    static const QRegularExpression bad(QStringLiteral("[<>:\"/\\\\|?*]"));
    QString out = name;
    out.replace(bad, QStringLiteral("_"));
    out = fileNamePart(out).trimmed();
    if (out.isEmpty() || out == QLatin1String(".") || out == QLatin1String(".."))
        return fallback;
    return out;
}

} // namespace

QString fileNamePart(const QString& name)
{
    const qsizetype cut = qMax(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    QString out = name.mid(cut + 1);
    for (QChar& c : out)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            c = QLatin1Char('_');
    return out;
}

QString tabFolderComponent(const QString& tabName, int position)
{
    return cleaned(tabName.isEmpty() ? QStringLiteral("Tab %1").arg(position) : tabName, QStringLiteral("Tab"));
}

QString cleanProjectName(const QString& name)
{
    return cleaned(name, QStringLiteral("Session"));
}

QString freeFolder(const QString& base, const QString& name)
{
    const QString first = base + QLatin1Char('/') + name;
    auto taken = [](const QString& p) {
        const QFileInfo fi(p);
        return fi.exists() || fi.isSymLink();
    };
    if (!taken(first))
        return first;
    for (int n = 1; n <= 9999; ++n) {
        const QString p = QStringLiteral("%1 (%2)").arg(first).arg(n);
        if (!taken(p))
            return p;
    }
    return QString();
}

QString containsLine(const QList<QString>& tabNames)
{
    QString joined = QStringList(tabNames).join(QStringLiteral(", "));
    if (joined.size() > 80)
        joined = joined.left(77) + QStringLiteral("…");
    return QStringLiteral("Contains %1 tab(s): %2").arg(tabNames.size()).arg(joined);
}

QString treeText(const QString& destination, const QString& projectName, const QList<QString>& selected)
{
    QString out = destination + QStringLiteral("/\n");
    if (!projectName.isEmpty())
        out += QStringLiteral("  ├─ ") + projectName + QStringLiteral(".vx\n");
    out += QStringLiteral("  └─ Audio/\n");
    for (int i = 0; i < selected.size(); ++i) {
        const QString name = selected.at(i).isEmpty() ? QStringLiteral("Tab %1").arg(i + 1) : selected.at(i);
        out += QStringLiteral("       %1─ %2/\n")
                   .arg(i == selected.size() - 1 ? QStringLiteral("└") : QStringLiteral("├"),
                        BundleFormat::cleanFolderName(name));
    }
    return out;
}

} // namespace BundleImportRules
