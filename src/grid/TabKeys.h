#pragma once
#include <QKeySequence>
#include <QList>
#include <QString>
#include <QStringList>

#include "Types.h"

// The keys a tab carries (its stop key and its two volume keys) as the
// window reads them, and the button keys they take: a tab key that is one
// key pressed alone is the key a button would fire on, so neither may be
// given where the other already is.
namespace TabKeys {

enum class Kind { Stop, VolumeUp, VolumeDown };
inline constexpr Kind kAllKinds[] = {Kind::Stop, Kind::VolumeUp, Kind::VolumeDown};

// The key sequence of a stored key text; empty when the text names no key
// (an unknown key would make a shortcut that no key press can reach). The
// page keys spelled out ("Alt+PageUp", as the volume prompts once offered
// them) are Qt's PgUp and PgDown.
QKeySequence sequenceOf(const QString& text);

// The button key that a tab key of one key pressed alone takes from the
// buttons, as a button stores it ("F5", "A", "SS" for ß); empty for a key
// with modifiers or a sequence of keys.
QString buttonKeyOf(const QKeySequence& seq);

// The tab's stored key of the kind.
const QString& keyOf(const TabData& t, Kind kind);

// A tab named for a message: "tab 'Main'"; when another tab of the list
// bears the same name (merged tabs keep theirs), with its place counted from
// one: "tab 3 'Main'".
QString tabLabel(const QList<TabData>& tabs, int index);
// Several tabs of the list named for a message: "tab 'Main'" for one,
// "tabs 'Main', 'Second'" for more; every one with its place ("tabs
// 1 'Main', 2 'Second'") when one of them bears a shared name.
QString tabsLabel(const QList<TabData>& tabs, const QList<int>& indices);

// A tab's key of the kind named for a message: "the Stop Tab key of tab 'X'"
// (tabLabel names the tab).
QString holderName(Kind kind, const QString& tabLabel);

// A button named for a message: "button "Kick" on tab 'Drums'" (a button
// without a name by its file's base name; tabLabel names the tab).
QString buttonHolderName(const ButtonData& b, const QString& tabLabel);

// The tab key that takes the button key `key` (stored form), named as
// holderName does; empty when no tab's key does.
QString holderOfButtonKey(const QList<TabData>& tabs, const QString& key);

// Why a typed key name cannot be a button's key beside these tabs: the
// reasons of ButtonKey::refusalOfText, else the tab key that takes it
// (refusalText); nothing when it can.
QString refusalOfButtonText(const QList<TabData>& tabs, const QString& text);

// The keys that tabs added to a session share with the tabs already in it:
// the keys of the pads the grids show (those with a sound; shownPerTab a
// tab) and the tabs' own keys, a tab key of one key alone counted as that
// button key. keys: each shared key once, in the order the added tabs hold
// them; tabs: the places in present of the tabs that use one, in tab order.
struct Shared
{
    QStringList keys;
    QList<int> tabs;
};
Shared sharedKeys(const QList<TabData>& present, const QList<TabData>& added, int shownPerTab);

// "Key "F5" is already assigned to <holder>." for a refusal.
QString takenText(const QString& key, const QString& holder);
// The same, followed by a blank line and "Choose another key.", for a box.
QString refusalText(const QString& key, const QString& holder);

} // namespace TabKeys
