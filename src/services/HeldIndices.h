#pragma once
#include <QList>
#include <QRegularExpression>
#include <QSettings>
#include <QStringList>

#include <algorithm>

// Numbered settings entries ("0_note", "cat3_path", ...): the indices below
// count that the group's keys really name, in ascending order. Readers walk
// these instead of 0 .. count - 1, so a damaged count cannot make them visit
// billions of indices. The pattern's first capture is the index.
inline QList<int> heldIndices(const QStringList& keys, const QRegularExpression& pattern, int count)
{
    QList<int> out;
    for (const QString& k : keys) {
        const QRegularExpressionMatch m = pattern.match(k);
        if (!m.hasMatch())
            continue;
        bool ok = false;
        const int i = m.captured(1).toInt(&ok);
        if (ok && i >= 0 && i < count)
            out << i;
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

// An int entry; a value that is not a number reads as the default.
inline int settingInt(const QSettings& s, const QString& key, int def)
{
    const QVariant v = s.value(key);
    if (!v.isValid())
        return def;
    bool ok = false;
    const int i = v.toInt(&ok);
    return ok ? i : def;
}

// A bool entry; anything but a clear yes or no reads as the default.
inline bool settingBool(const QSettings& s, const QString& key, bool def)
{
    const QVariant v = s.value(key);
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    const QString t = v.toString().trimmed().toLower();
    if (t == QLatin1String("true") || t == QLatin1String("1"))
        return true;
    if (t == QLatin1String("false") || t == QLatin1String("0"))
        return false;
    return def;
}
