#pragma once
#include <QUuid>

#include "Types.h"

// Ids of tabs and buttons: random UUIDs without braces. Ids key every
// engine's state, so a tab copied or taken in from a file gets new ones.
namespace RecordId {

inline QString make()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// New ids for the tab and every one of its buttons.
inline void renew(TabData& tab)
{
    tab.id = make();
    for (ButtonData& b : tab.buttons)
        b.id = make();
}

} // namespace RecordId
