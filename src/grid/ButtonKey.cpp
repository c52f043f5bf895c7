#include "ButtonKey.h"

#include <QKeyEvent>
#include <QRegularExpression>
#include <QSet>

namespace {

QString spaceRefusal()
{
    return QStringLiteral("Space cannot play a button: it stops all sounds. Press another key.");
}

QString heldRefusal()
{
    return QStringLiteral("A key held with Ctrl, Alt or Meta cannot play a button: a button plays on the character "
                          "its key types, or on F1 to F12. Press another key.");
}

QString shiftRefusal()
{
    return QStringLiteral("A key held with Shift plays a button only where Shift types a sign or a digit: a letter "
                          "or F1 to F12 plays pressed alone. Press another key.");
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

// Shift and AltGr choose which character a key types; Ctrl, Alt and Meta
// make a command of it.
constexpr Qt::KeyboardModifiers kLevelModifiers = Qt::ShiftModifier | Qt::GroupSwitchModifier;

// The keypad flag says where a key is, not that a modifier is held.
Qt::KeyboardModifiers heldModifiers(const QKeyEvent* e)
{
    return e->modifiers() & ~Qt::KeypadModifier;
}

// One character as the keyboard gives it: one code unit, or a surrogate pair.
bool isOneCharacter(const QString& text)
{
    if (text.size() == 1)
        return !text.at(0).isSurrogate();
    return text.size() == 2 && text.at(0).isHighSurrogate() && text.at(1).isLowSurrogate();
}

// One printable character that is not white space.
bool isKeyCharacter(const QString& text)
{
    if (!isOneCharacter(text))
        return false;
    const char32_t c = text.toUcs4().value(0);
    return QChar::isPrint(c) && !QChar::isSpace(c);
}

// A character with no case: a sign or a digit, or a letter of a script
// without capitals. Shift held for it only chose it.
bool isCaseless(const QString& text)
{
    return text.toUpper() == text.toLower();
}

// The upper-case forms longer than their one character ("SS" for ß, "FF" for
// the ff ligature): a key of such a character is stored in that form. Only
// characters of the basic plane have them.
const QSet<QString>& longUpperForms()
{
    static const QSet<QString> forms = [] {
        QSet<QString> out;
        for (char16_t u = 0x20; u < 0xFFFF; ++u) {
            const QChar c(u);
            if (c.isSurrogate() || !c.isPrint())
                continue;
            const QString upper = QString(c).toUpper();
            if (upper.size() > 1)
                out.insert(upper);
        }
        return out;
    }();
    return forms;
}

} // namespace

namespace ButtonKey {

QString refusalOf(const QKeyEvent* e)
{
    const QString text = e->text();
    if (e->key() == Qt::Key_Space || (!text.isEmpty() && text.at(0).isSpace()))
        return spaceRefusal();
    const Qt::KeyboardModifiers held = heldModifiers(e);
    if (held & ~kLevelModifiers)
        return heldRefusal();
    if (held == Qt::ShiftModifier && !(isKeyCharacter(text) && isCaseless(text)))
        return shiftRefusal();
    if ((held & Qt::ShiftModifier) && !isKeyCharacter(text))
        return shiftRefusal();
    return QString();
}

QString ofPress(const QKeyEvent* e)
{
    if (!refusalOf(e).isEmpty())
        return QString();
    const int key = e->key();
    if (heldModifiers(e) == Qt::NoModifier && key >= Qt::Key_F1 && key <= Qt::Key_F12)
        return QStringLiteral("F%1").arg(key - Qt::Key_F1 + 1);
    const QString text = e->text();
    return isKeyCharacter(text) ? text.toUpper() : QString();
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
    static const QRegularExpression held(QStringLiteral("^(CTRL|CONTROL|ALT|META|CMD|SUPER|WIN)\\s*\\+"));
    if (held.match(upper).hasMatch())
        return heldRefusal();
    static const QRegularExpression shift(QStringLiteral("^(SHIFT|ALTGR)\\s*\\+"));
    if (shift.match(upper).hasMatch())
        return shiftRefusal();
    if (isKeyCharacter(text) || longUpperForms().contains(text))
        return QString();
    return otherRefusal(text);
}

QString stored(const QString& text)
{
    return text.toUpper();
}

} // namespace ButtonKey
