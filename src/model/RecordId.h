#pragma once
#include <QByteArray>
#include <QCryptographicHash>
#include <QSet>
#include <QUuid>

#include "Types.h"

// Ids of tabs and buttons: UUIDs without braces, random ones for new records
// and name-based ones for what a load has to give an id. Ids key every
// engine's state, so a tab copied or taken in from a file gets new ones.
namespace RecordId {

// The namespace of every name-based id we make.
inline const QUuid& space()
{
    static const QUuid kSpace(QStringLiteral("6f0b3c52-2d1e-4f7a-9c45-8e3a1d7b2c90"));
    return kSpace;
}

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

// What the ids a load makes stem from besides their place: the file's bytes
// as read (their SHA-256 in hex). One file gives the same ids at every load;
// two files that differ in any byte give none alike, so what is keyed by an
// id (a learned MIDI note) never finds a pad of another file. Once the
// session is saved the file holds the ids, and they are read back.
inline QString fileKey(const QByteArray& content)
{
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
}

// The id of the tab a load adds to a file that holds none.
inline QString fileTabId(const QString& key)
{
    return QUuid::createUuidV5(space(), QStringLiteral("%1/tab").arg(key)).toString(QUuid::WithoutBraces);
}

// A derived id: a name-based UUID of what the id stems from (the repeated id,
// or the file's key and the tab's id for a button that has none), the
// button's place (tab and button index) and the attempt number. The same file
// gives the same ids at every load, so what is keyed by an id (a learned MIDI
// note) finds its button again before the file is saved. Formatted as the
// random ids are.
inline QString derive(const QString& stem, int tab, int button, int attempt)
{
    const QString name = QStringLiteral("%1/%2/%3/%4").arg(stem).arg(tab).arg(button).arg(attempt);
    return QUuid::createUuidV5(space(), name).toString(QUuid::WithoutBraces);
}

// The first derived id for that place that `taken` does not hold; `taken`
// gains it.
inline QString deriveUnused(const QString& stem, int tab, int button, QSet<QString>& taken)
{
    QString id;
    int attempt = 0;
    do
        id = derive(stem, tab, button, attempt++);
    while (taken.contains(id));
    taken.insert(id);
    return id;
}

// Every button id of the session.
inline QSet<QString> buttonIds(const Session& session)
{
    QSet<QString> ids;
    for (const TabData& tab : session.tabs)
        for (const ButtonData& b : tab.buttons)
            ids.insert(b.id);
    return ids;
}

// Gives every button whose id an earlier button of the session already has a
// new id derived from the old one and its place; the first holder keeps its
// own. A new id is never one that any button of the session holds. Empty ids
// are left alone. Returns how many ids were renewed.
inline int renewRepeatedButtonIds(Session& session)
{
    QSet<QString> taken = buttonIds(session);
    QSet<QString> seen;
    int renewed = 0;
    for (int t = 0; t < session.tabs.size(); ++t) {
        QList<ButtonData>& buttons = session.tabs[t].buttons;
        for (int i = 0; i < buttons.size(); ++i) {
            ButtonData& b = buttons[i];
            if (b.id.isEmpty())
                continue;
            if (seen.contains(b.id)) {
                b.id = deriveUnused(b.id, t, i, taken);
                ++renewed;
            }
            seen.insert(b.id);
        }
    }
    return renewed;
}

// Brings every tab of a session read from a file to at least `shown` buttons
// (the pads its grid shows) and gives every button without an id, and every
// button added here, an id derived from the file's key (see fileKey), its
// tab's id and its place. Like a renewed id, it is the same at every load of
// the same file and never one that another button of the session holds; so a
// MIDI note learned on a button that the file keeps without an id, or on an
// empty pad the file does not hold at all, finds it again at the next load,
// saved or not, and no other file's pad. (Id-less tabs of one name have one
// id in every file; the key keeps their buttons apart.)
inline void giveMissingButtonIds(Session& session, int shown, const QString& fileKey)
{
    QSet<QString> taken = buttonIds(session);
    for (int t = 0; t < session.tabs.size(); ++t) {
        TabData& tab = session.tabs[t];
        while (tab.buttons.size() < shown)
            tab.buttons.append(ButtonData());
        const QString stem = QStringLiteral("%1:%2").arg(fileKey, tab.id);
        for (int i = 0; i < tab.buttons.size(); ++i) {
            ButtonData& b = tab.buttons[i];
            if (b.id.isEmpty())
                b.id = deriveUnused(stem, t, i, taken);
        }
    }
}

} // namespace RecordId
