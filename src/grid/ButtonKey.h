#pragma once
#include <QString>

class QKeyEvent;

// The keys that can play a button. A button's key is the text its keyboard
// key types, upper-cased (ß is kept as "SS", as upper-casing gives it), or one
// of the names F1 to F12. The window plays a button for a press that types its
// key with no Ctrl, Alt or Meta held: Shift and AltGr may be held where the
// layout needs them to type a sign or a digit (Shift with a letter types the
// same letter and is a held key), and the keypad counts as alone. So a sign
// fires on every layout that can type it, whether that layout types it with
// Shift or without. Space stops all sounds and Escape is the panic stop, so
// neither can be a button's key. Every place that sets a button's key and
// the window's own key handling ask here, so that a key that is stored also
// fires.
namespace ButtonKey {

// The key a press plays, as stored: "F1".."F12" or the typed character
// upper-cased; empty when the press plays no button.
QString ofPress(const QKeyEvent* e);

// Why a pressed key cannot be a button's key, or nothing when it can (also
// for a press with no key to give, such as an arrow: it is simply not taken).
QString refusalOf(const QKeyEvent* e);

// Why a typed key name cannot be a button's key, or nothing when it can (an
// empty text, no key at all, can). A name is one character as a key types
// it, its stored upper-case form, or F1 to F12. Refusals read as those of
// refusalOf.
QString refusalOfText(const QString& text);

// The key stored for an accepted typed name: upper-cased as the window
// matches it.
QString stored(const QString& text);

} // namespace ButtonKey
