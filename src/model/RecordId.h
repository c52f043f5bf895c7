#pragma once
#include <QSet>
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

// Gives every button whose id an earlier button of the session already has a
// new id; the first holder keeps its own. Empty ids are left alone. Returns
// how many ids were renewed.
inline int renewRepeatedButtonIds(Session& session)
{
    QSet<QString> seen;
    int renewed = 0;
    for (TabData& tab : session.tabs) {
        for (ButtonData& b : tab.buttons) {
            if (b.id.isEmpty())
                continue;
            if (seen.contains(b.id)) {
                do
                    b.id = make();
                while (seen.contains(b.id));
                ++renewed;
            }
            seen.insert(b.id);
        }
    }
    return renewed;
}

} // namespace RecordId
