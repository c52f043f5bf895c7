#pragma once
#include <QSet>
#include <QUuid>

#include "Types.h"

// Ids of tabs and buttons: UUIDs without braces, random ones for new records.
// Ids key every engine's state, so a tab copied or taken in from a file gets
// new ones.
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

// The id a repeated button gets in place of its own: a name-based UUID of
// the repeated id, the button's place (tab and button index) and the attempt
// number. The same file gives the same ids at every load, so what is keyed by
// an id (a learned MIDI note) finds its button again before the file is
// saved. Formatted as the random ids are.
inline QString derive(const QString& repeatedId, int tab, int button, int attempt)
{
    static const QUuid kSpace(QStringLiteral("6f0b3c52-2d1e-4f7a-9c45-8e3a1d7b2c90"));
    const QString name = QStringLiteral("%1/%2/%3/%4").arg(repeatedId).arg(tab).arg(button).arg(attempt);
    return QUuid::createUuidV5(kSpace, name).toString(QUuid::WithoutBraces);
}

// Gives every button whose id an earlier button of the session already has a
// new id derived from the old one and its place (see derive); the first
// holder keeps its own. A new id is never one that any button of the session
// holds. Empty ids are left alone. Returns how many ids were renewed.
inline int renewRepeatedButtonIds(Session& session)
{
    QSet<QString> taken;
    for (const TabData& tab : std::as_const(session.tabs))
        for (const ButtonData& b : tab.buttons)
            taken.insert(b.id);
    QSet<QString> seen;
    int renewed = 0;
    for (int t = 0; t < session.tabs.size(); ++t) {
        QList<ButtonData>& buttons = session.tabs[t].buttons;
        for (int i = 0; i < buttons.size(); ++i) {
            ButtonData& b = buttons[i];
            if (b.id.isEmpty())
                continue;
            if (seen.contains(b.id)) {
                const QString repeated = b.id;
                int attempt = 0;
                do
                    b.id = derive(repeated, t, i, attempt++);
                while (taken.contains(b.id));
                taken.insert(b.id);
                ++renewed;
            }
            seen.insert(b.id);
        }
    }
    return renewed;
}

} // namespace RecordId
