#pragma once
#include <QString>

class QKeyEvent;

// The keys that can play a button. The window plays a button for a key
// pressed alone (the keypad counts as alone): by the key's text, upper-cased,
// or by the names F1 to F12. Space stops all sounds and Escape is the panic
// stop, so neither can be a button's key. Every place that sets a button's
// key asks here, so that a key that is stored also fires.
namespace ButtonKey {

// Why a pressed key cannot be a button's key, or nothing when it can.
QString refusalOf(const QKeyEvent* e);

// Why a typed key name cannot be a button's key, or nothing when it can (an
// empty text, no key at all, can). Refusals read as those of refusalOf.
QString refusalOfText(const QString& text);

// The key stored for an accepted typed name: upper-cased as the window
// matches it.
QString stored(const QString& text);

} // namespace ButtonKey
