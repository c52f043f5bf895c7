#include "ButtonKey.h"

#include <QKeyEvent>
#include <QRegularExpression>

namespace {

QString spaceRefusal()
{
    return QStringLiteral("Space cannot play a button: it stops all sounds. Press another key.");
}

QString heldRefusal()
{
    return QStringLiteral("A key held with Shift, Ctrl, Alt or Meta cannot play a button: buttons play on a key "
                          "pressed alone. Press another key.");
}

QString escapeRefusal()
{
    return QStringLiteral("Escape cannot play a button: it stops all sounds at once. Press another key.");
}

QString otherRefusal(const QString& text)
{
    return QStringLiteral("\"%1\" cannot play a button: a button plays on one letter, digit or sign, or on F1 to "
                          "F12. Press another key.")
        .arg(text);
}

// Signs typed with Shift on the common keyboard layouts: stored, they never
// fire, since a key held with Shift plays nothing. The keypad's * and + are
// typed alone and stay allowed.
bool isShiftedSign(QChar c)
{
    static const QString shifted = QStringLiteral("~!@#$%^&()_{}|:\"<>?");
    return shifted.contains(c);
}

// One character as the keyboard gives it: one code unit, or a surrogate pair.
bool isOneCharacter(const QString& text)
{
    if (text.size() == 1)
        return !text.at(0).isSurrogate();
    return text.size() == 2 && text.at(0).isHighSurrogate() && text.at(1).isLowSurrogate();
}

} // namespace

namespace ButtonKey {

QString refusalOf(const QKeyEvent* e)
{
    if (e->key() == Qt::Key_Space || (!e->text().isEmpty() && e->text().at(0).isSpace()))
        return spaceRefusal();
    if ((e->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return heldRefusal();
    return QString();
}

QString refusalOfText(const QString& text)
{
    if (text.isEmpty())
        return QString();
    const QString trimmed = text.trimmed();
    const QString upper = trimmed.toUpper();
    if (trimmed.isEmpty() || upper == QLatin1String("SPACE"))
        return spaceRefusal();
    if (trimmed != text)
        return otherRefusal(text);
    static const QRegularExpression fKey(QStringLiteral("^F([1-9]|1[0-2])$"));
    if (fKey.match(upper).hasMatch())
        return QString();
    if (upper == QLatin1String("ESC") || upper == QLatin1String("ESCAPE"))
        return escapeRefusal();
    static const QRegularExpression held(QStringLiteral("^(CTRL|CONTROL|SHIFT|ALT|ALTGR|META|CMD|SUPER|WIN)\\s*\\+"));
    if (held.match(upper).hasMatch())
        return heldRefusal();
    if (!isOneCharacter(text))
        return otherRefusal(text);
    if (!QChar::isPrint(text.toUcs4().value(0)))
        return otherRefusal(text);
    if (isShiftedSign(text.at(0)))
        return heldRefusal();
    return QString();
}

QString stored(const QString& text)
{
    return text.toUpper();
}

} // namespace ButtonKey
