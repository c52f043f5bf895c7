#include "TabKeys.h"

#include <QRegularExpression>

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

QString holderName(Kind kind, const QString& tabName)
{
    switch (kind) {
    case Kind::Stop:
        return QStringLiteral("the Stop Tab key of tab '%1'").arg(tabName);
    case Kind::VolumeUp:
        return QStringLiteral("the volume up key of tab '%1'").arg(tabName);
    case Kind::VolumeDown:
        break;
    }
    return QStringLiteral("the volume down key of tab '%1'").arg(tabName);
}

QString holderOfButtonKey(const QList<TabData>& tabs, const QString& key)
{
    if (key.isEmpty())
        return {};
    for (const TabData& t : tabs)
        for (const Kind kind : kAllKinds)
            if (buttonKeyOf(sequenceOf(keyOf(t, kind))) == key)
                return holderName(kind, t.name);
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

QString takenText(const QString& key, const QString& holder)
{
    return QStringLiteral("Key \"%1\" is already assigned to %2.").arg(key, holder);
}

QString refusalText(const QString& key, const QString& holder)
{
    return takenText(key, holder) + QStringLiteral("\n\nChoose another key.");
}

} // namespace TabKeys
