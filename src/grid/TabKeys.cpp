#include "TabKeys.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>

#include "ButtonKey.h"

namespace TabKeys {

QKeySequence sequenceOf(const QString& text)
{
    QKeySequence seq(text, QKeySequence::NativeText);
    if (seq.isEmpty() || seq[0].key() == Qt::Key_unknown) {
        static const QRegularExpression pageUp(QStringLiteral("\\bPage\\s*Up\\b"),
                                               QRegularExpression::CaseInsensitiveOption);
        static const QRegularExpression pageDown(QStringLiteral("\\bPage\\s*Down\\b"),
                                                 QRegularExpression::CaseInsensitiveOption);
        QString named = text;
        named.replace(pageUp, QStringLiteral("PgUp")).replace(pageDown, QStringLiteral("PgDown"));
        seq = named == text ? QKeySequence() : QKeySequence(named, QKeySequence::NativeText);
    }
    if (seq.isEmpty() || seq[0].key() == Qt::Key_unknown)
        return {};
    return seq;
}

QString buttonKeyOf(const QKeySequence& seq)
{
    if (seq.count() != 1 || (seq[0].keyboardModifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return {};
    return ButtonKey::stored(QKeySequence(seq[0].key()).toString(QKeySequence::PortableText));
}

const QString& keyOf(const TabData& t, Kind kind)
{
    switch (kind) {
    case Kind::Stop:
        return t.stopKey;
    case Kind::VolumeUp:
        return t.volUpKey;
    case Kind::VolumeDown:
        break;
    }
    return t.volDnKey;
}

namespace {

bool nameShared(const QList<TabData>& tabs, int index)
{
    const QString& name = tabs[index].name;
    for (int i = 0; i < tabs.size(); ++i)
        if (i != index && tabs[i].name == name)
            return true;
    return false;
}

QString placedName(const QList<TabData>& tabs, int index)
{
    return QStringLiteral("%1 '%2'").arg(QString::number(index + 1), tabs[index].name);
}

QString quotedName(const QList<TabData>& tabs, int index)
{
    return QStringLiteral("'%1'").arg(tabs[index].name);
}

} // namespace

QString tabLabel(const QList<TabData>& tabs, int index)
{
    if (index < 0 || index >= tabs.size())
        return {};
    return QStringLiteral("tab ")
           + (nameShared(tabs, index) ? placedName(tabs, index) : quotedName(tabs, index));
}

QString tabsLabel(const QList<TabData>& tabs, const QList<int>& indices)
{
    QList<int> valid;
    for (const int i : indices)
        if (i >= 0 && i < tabs.size())
            valid.append(i);
    if (valid.size() == 1)
        return tabLabel(tabs, valid.first());
    const bool placed = std::any_of(valid.cbegin(), valid.cend(), [&tabs](int i) { return nameShared(tabs, i); });
    QStringList names;
    for (const int i : valid)
        names << (placed ? placedName(tabs, i) : quotedName(tabs, i));
    return QStringLiteral("tabs ") + names.join(QStringLiteral(", "));
}

QString holderName(Kind kind, const QString& tabLabel)
{
    switch (kind) {
    case Kind::Stop:
        return QStringLiteral("the Stop Tab key of %1").arg(tabLabel);
    case Kind::VolumeUp:
        return QStringLiteral("the volume up key of %1").arg(tabLabel);
    case Kind::VolumeDown:
        break;
    }
    return QStringLiteral("the volume down key of %1").arg(tabLabel);
}

QString buttonHolderName(const ButtonData& b, const QString& tabLabel)
{
    const QString name = b.name.isEmpty() ? QFileInfo(b.audioPath).completeBaseName() : b.name;
    return QStringLiteral("button \"%1\" on %2").arg(name, tabLabel);
}

QString holderOfButtonKey(const QList<TabData>& tabs, const QString& key)
{
    if (key.isEmpty())
        return {};
    for (int i = 0; i < tabs.size(); ++i)
        for (const Kind kind : kAllKinds)
            if (buttonKeyOf(sequenceOf(keyOf(tabs[i], kind))) == key)
                return holderName(kind, tabLabel(tabs, i));
    return {};
}

QString refusalOfButtonText(const QList<TabData>& tabs, const QString& text)
{
    if (QString why = ButtonKey::refusalOfText(text); !why.isEmpty())
        return why;
    const QString key = ButtonKey::stored(text);
    const QString holder = holderOfButtonKey(tabs, key);
    return holder.isEmpty() ? QString() : refusalText(key, holder);
}

namespace {

// The keys a tab uses, each as one press gives it: a pad's stored key, a
// tab key of one key alone as that button key, any other tab key as text.
QStringList keysOfTab(const TabData& t, int shownPerTab)
{
    QStringList out;
    const auto add = [&out](const QString& key) {
        if (!key.isEmpty() && !out.contains(key))
            out.append(key);
    };
    for (qsizetype i = 0; i < std::min<qsizetype>(shownPerTab, t.buttons.size()); ++i) {
        const ButtonData& b = t.buttons[i];
        if (!b.audioPath.isEmpty())
            add(b.key);
    }
    for (const Kind kind : kAllKinds) {
        const QKeySequence seq = sequenceOf(keyOf(t, kind));
        if (seq.isEmpty())
            continue;
        const QString own = buttonKeyOf(seq);
        add(own.isEmpty() ? seq.toString(QKeySequence::NativeText) : own);
    }
    return out;
}

} // namespace

Shared sharedKeys(const QList<TabData>& present, const QList<TabData>& added, int shownPerTab)
{
    QList<QStringList> presentKeys;
    for (const TabData& t : present)
        presentKeys.append(keysOfTab(t, shownPerTab));
    Shared out;
    for (const TabData& t : added) {
        for (const QString& key : keysOfTab(t, shownPerTab)) {
            if (out.keys.contains(key))
                continue;
            for (const QStringList& used : std::as_const(presentKeys)) {
                if (used.contains(key)) {
                    out.keys.append(key);
                    break;
                }
            }
        }
    }
    for (int i = 0; i < present.size(); ++i) {
        const bool holds = std::any_of(presentKeys[i].cbegin(), presentKeys[i].cend(),
                                       [&out](const QString& k) { return out.keys.contains(k); });
        if (holds)
            out.tabs.append(i);
    }
    return out;
}

QString takenText(const QString& key, const QString& holder)
{
    return QStringLiteral("Key \"%1\" is already assigned to %2.").arg(key, holder);
}

QString refusalText(const QString& key, const QString& holder)
{
    return takenText(key, holder) + QStringLiteral("\n\nChoose another key.");
}

} // namespace TabKeys
