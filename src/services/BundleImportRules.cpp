#include "BundleImportRules.h"

#include <QFileInfo>
#include <QHash>
#include <QJsonObject>
#include <QMap>
#include <QSet>

#include "BundleFormat.h"

namespace BundleImportRules {

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
    return BundleFormat::tabFolderName(tabName, position);
}

QList<QString> tabFolders(const QList<QString>& tabNames)
{
    QList<QString> out;
    QSet<QString> taken;
    QHash<QString, int> lastCount;   // per base: the last n tried
    for (int i = 0; i < tabNames.size(); ++i) {
        const QString base = tabFolderComponent(tabNames.at(i), i + 1);
        QString candidate = base;
        for (int& n = lastCount[base]; taken.contains(candidate);)
            candidate = QStringLiteral("%1 (%2)").arg(base).arg(++n);
        taken.insert(candidate);
        out << candidate;
    }
    return out;
}

namespace {

// The exported position of each "tabSettings" entry that says it, when
// every entry says a distinct one and the list matches tabNames.
QHash<int, int> statedPositions(const QList<QString>& tabNames, const QJsonArray& tabSettings)
{
    QHash<int, int> position;
    if (tabSettings.size() != tabNames.size())
        return {};
    int last = -1;
    for (int k = 0; k < tabSettings.size(); ++k) {
        const QJsonObject o = tabSettings.at(k).toObject();
        const int index = o.value(QStringLiteral("tabIndex")).toInt(-1);
        if (index <= last || o.value(QStringLiteral("name")).toString() != tabNames.at(k))
            return {};
        position.insert(index, k);
        last = index;
    }
    return position;
}

} // namespace

QList<int> itemTabPositions(const QJsonArray& items, const QList<QString>& tabNames, const QJsonArray& tabSettings)
{
    auto fits = [&](int k, int index, const QString& name) {
        // An item without a name says nothing against any tab.
        const QString& n = tabNames.at(k);
        if (name.isEmpty())
            return true;
        return n.isEmpty() ? name == QStringLiteral("Tab %1").arg(index + 1) : n == name;
    };
    // The exported tabs the items name, in order, each with its item's name.
    QMap<int, QString> named;
    for (const QJsonValue& v : items) {
        const QJsonObject o = v.toObject();
        const int index = o.value(QStringLiteral("tabIndex")).toInt(-1);
        if (index >= 0 && !named.contains(index))
            named.insert(index, o.value(QStringLiteral("tabName")).toString());
    }
    // The tabs with audio are those exported tabs in the same order, so each
    // named tab takes the next one that fits, never one ahead of its index.
    QHash<int, int> position = statedPositions(tabNames, tabSettings);
    const bool stated = !position.isEmpty();
    int next = 0;
    for (auto it = named.cbegin(); !stated && it != named.cend(); ++it) {
        for (int k = next; k < tabNames.size() && k <= it.key(); ++k)
            if (fits(k, it.key(), it.value())) {
                position.insert(it.key(), k);
                next = k + 1;
                break;
            }
    }
    QList<int> out;
    for (const QJsonValue& v : items) {
        const QJsonObject o = v.toObject();
        const int index = o.value(QStringLiteral("tabIndex")).toInt(-1);
        const QString name = o.value(QStringLiteral("tabName")).toString();
        int k = position.value(index, -1);
        for (int i = 0; k < 0 && !name.isEmpty() && i < tabNames.size(); ++i)
            if (tabNames.at(i) == name)
                k = i;
        out << k;
    }
    return out;
}

QString cleanProjectName(const QString& name)
{
    return BundleFormat::cleanName(name, QStringLiteral("Session"));
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

QString treeText(const QString& destination, const QString& projectName, const QList<QString>& folders)
{
    QString out = destination + QStringLiteral("/\n");
    if (!projectName.isEmpty())
        out += QStringLiteral("  ├─ ") + projectName + QStringLiteral(".vx\n");
    out += QStringLiteral("  └─ Audio/\n");
    for (int i = 0; i < folders.size(); ++i)
        out += QStringLiteral("       %1─ %2/\n")
                   .arg(i == folders.size() - 1 ? QStringLiteral("└") : QStringLiteral("├"), folders.at(i));
    return out;
}

} // namespace BundleImportRules
