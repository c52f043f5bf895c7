// What the operator is told when a show's files go out of sight and come
// back: a line in the event log for each folder, naming which sounds play on
// from memory and which cannot play meanwhile, the files still missing at a
// return, and one toast for each loss and each return.
#include "MainWindow.h"

#include <QMap>
#include <QTimer>

#include <algorithm>

#include "DirectSoundEngine.h"
#include "EventLog.h"
#include "KnownFiles.h"
#include "SessionManager.h"

namespace {

// Up to so many sounds of a kind are named; more are counted.
constexpr int kNamedAtMost = 3;
constexpr int kAwayToastMs = 6000;
constexpr int kBackToastMs = 4000;

QString folderOfFile(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash > 0 ? path.left(slash) : QStringLiteral("/");
}

// A folder as the event log names it: its last two names, which tell a
// show's folder and the disk or share it lies on, without the rest.
QString shortFolder(const QString& folder)
{
    const QStringList names = folder.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    if (names.size() <= 2)
        return folder;
    return QStringLiteral("\u2026/") + names.sliced(names.size() - 2).join(QLatin1Char('/'));
}

// "A", "A" and "B", "A", "B" and "C": each title in quotes.
QString namesOf(const QStringList& titles)
{
    QStringList quoted;
    for (const QString& t : titles)
        quoted << QLatin1Char('"') + t + QLatin1Char('"');
    if (quoted.size() == 1)
        return quoted.first();
    const QString last = quoted.takeLast();
    return quoted.join(QStringLiteral(", ")) + QStringLiteral(" and ") + last;
}

// The sounds of one burst by what a press of each does while its file is
// away, as titles.
struct AwaySounds
{
    QStringList memory;   // plays from memory
    QStringList cannot;   // plays through the players, which cannot read it

    qsizetype size() const { return memory.size() + cannot.size(); }
};

AwaySounds awaySounds(MainWindow& w, const QStringList& ids)
{
    AwaySounds sounds;
    for (const QString& id : ids)
        (w.playsFromMemory(id) ? sounds.memory : sounds.cannot) << w.playbackTitle(id);
    return sounds;
}

QStringList titlesOf(MainWindow& w, const QStringList& ids)
{
    QStringList titles;
    for (const QString& id : ids)
        titles << w.playbackTitle(id);
    return titles;
}

// One kind of sounds in a line: named when few, else counted.
QString playsFromMemoryPart(const QStringList& titles)
{
    if (titles.size() == 1)
        return namesOf(titles) + QStringLiteral(" plays from memory");
    const QString who = titles.size() <= kNamedAtMost ? namesOf(titles) : QString::number(titles.size());
    return who + QStringLiteral(" play from memory");
}

QString cannotPlayPart(const QStringList& titles)
{
    if (titles.size() == 1)
        return namesOf(titles) + QStringLiteral(" cannot play until its file is back");
    const QString who = titles.size() <= kNamedAtMost ? namesOf(titles) : QString::number(titles.size());
    return who + QStringLiteral(" cannot play until their files are back");
}

// The words for sounds whose files cannot be seen in where (a folder, or
// how many folders).
QString awayText(const QString& where, const AwaySounds& sounds)
{
    if (sounds.size() == 1) {
        const bool memory = !sounds.memory.isEmpty();
        return QStringLiteral("The file of \"%1\" cannot be seen on disk (%2); the sound %3")
            .arg(memory ? sounds.memory.first() : sounds.cannot.first(), where,
                 memory ? QStringLiteral("plays from memory") : QStringLiteral("cannot play until its file is back"));
    }
    const QString head = QStringLiteral("%1 sounds' files cannot be seen on disk (%2)").arg(sounds.size()).arg(where);
    if (sounds.cannot.isEmpty())
        return head + QStringLiteral("; they play from memory");
    if (sounds.memory.isEmpty()) {
        const QString who = sounds.cannot.size() <= kNamedAtMost ? namesOf(sounds.cannot) : QStringLiteral("they");
        return head + QStringLiteral("; ") + who + QStringLiteral(" cannot play until their files are back");
    }
    return head + QStringLiteral(": ") + playsFromMemoryPart(sounds.memory) + QStringLiteral("; ")
           + cannotPlayPart(sounds.cannot);
}

QString backText(const QString& where, const QStringList& titles)
{
    if (titles.size() == 1)
        return QStringLiteral("The file of \"%1\" is back on disk (%2)").arg(titles.first(), where);
    return QStringLiteral("%1 sounds' files are back on disk (%2)").arg(titles.size()).arg(where);
}

// Where the sounds of a burst lie: their folder, or how many folders.
QString burstWhere(const QStringList& folders)
{
    return folders.size() == 1 ? shortFolder(folders.first()) : QStringLiteral("%1 folders").arg(folders.size());
}

} // namespace

// Notices of files gone or back are gathered until none came for a while
// (or for so long at most: a slow share's looks trickle in), then told
// together.
void MainWindow::gatherFilesSeen(const QStringList& paths)
{
    if (!filesSeenTimer) {
        filesSeenTimer = new QTimer(this);
        filesSeenTimer->setObjectName(QStringLiteral("filesSeen"));
        filesSeenTimer->setSingleShot(true);
        connect(filesSeenTimer, &QTimer::timeout, this, &MainWindow::tellFilesSeen);
    }
    if (filesSeenGathered.isEmpty())
        filesSeenSince.start();
    for (const QString& path : paths)
        filesSeenGathered.insert(path);
    const qint64 left = DirectSoundEngine::kSeenHoldMs - filesSeenSince.elapsed();
    filesSeenTimer->start(int(std::clamp<qint64>(left, 0, DirectSoundEngine::kSeenQuietMs)));
}

// Every sound a press may play, by its file: the session's buttons, on
// whatever path a press takes them, and the sounds the pre-decoded engine
// holds.
QHash<QString, QStringList> MainWindow::soundsByFile() const
{
    QHash<QString, QStringList> sounds;
    QSet<QString> ids;
    for (const TabData& tab : SessionManager::instance()->session().tabs)
        for (const ButtonData& b : tab.buttons)
            if (!b.audioPath.isEmpty() && !b.audioPath.startsWith(QLatin1String("http")) && !ids.contains(b.id)) {
                ids.insert(b.id);
                sounds[b.audioPath] << b.id;
            }
    // A sound in memory that no button has (any more) plays as one on the
    // default output would.
    const QHash<QString, QStringList> held = DirectSoundEngine::instance()->soundsByFile();
    for (auto it = held.cbegin(); it != held.cend(); ++it)
        for (const QString& id : *it)
            if (!ids.contains(id)) {
                ids.insert(id);
                sounds[it.key()] << id;
            }
    return sounds;
}

// The operator learns here, not at the next start, that a show's files went
// away: the sounds a press plays from memory play on, those a press plays
// through the players (a tab or button on a second output, pre-loading
// switched off, a sound too long to hold in memory) cannot start until the
// files are back. A burst is told by folder, each folder once: every sound
// of it whose file is seen gone (or back) by then is told with it, also one
// whose notice is still on its way from a look that saw it.
void MainWindow::tellFilesSeen()
{
    const QSet<QString> files = std::exchange(filesSeenGathered, {});
    QSet<QString> folders;
    for (const QString& path : files)
        folders.insert(folderOfFile(path));
    QHash<QString, QStringList> sounds = soundsByFile();
    KnownFiles* known = KnownFiles::instance();
    // By folder, in order, for one line each.
    QMap<QString, QStringList> away;
    QMap<QString, QStringList> back;
    for (auto it = sounds.cbegin(); it != sounds.cend(); ++it) {
        const QString& path = it.key();
        const QString folder = folderOfFile(path);
        if (!folders.contains(folder))
            continue;
        bool seen = false;
        const bool there = known->lastSeen(path, &seen).exists();
        // A file missing since it was first looked at was never lost.
        if (seen && !there && known->seenThereOnce(path) && !filesToldAway.contains(path)) {
            filesToldAway.insert(path);
            away[folder] << *it;
        } else if (there && filesToldAway.remove(path)) {
            back[folder] << *it;
        }
    }
    // Files whose sounds are all gone from the session are forgotten.
    filesToldAway.removeIf([&sounds](const QString& path) { return !sounds.contains(path); });
    for (auto it = away.begin(); it != away.end(); ++it) {
        it->sort();
        onSoundFilesSeen(it.key(), *it, true);
    }
    for (auto it = back.begin(); it != back.end(); ++it) {
        it->sort();
        onSoundFilesSeen(it.key(), *it, false);
    }
}

void MainWindow::onSoundFilesSeen(const QString& folder, const QStringList& ids, bool away)
{
    if (ids.isEmpty())
        return;
    FilesSeenBurst& burst = away ? filesAwayBurst : filesBackBurst;
    burst.folders << folder;
    burst.ids << ids;
    queueFilesSeenToast();
    if (!eventLog)
        return;
    const QString where = shortFolder(folder);
    if (away) {
        eventLog->log(QStringLiteral("Audio"), awayText(where, awaySounds(*this, ids)), QStringLiteral("warn"));
        return;
    }
    eventLog->log(QStringLiteral("Audio"), backText(where, titlesOf(*this, ids)), QStringLiteral("ok"));
    logStillMissing(folder);
}

// At a return, the files of the folder that did not come back (deleted or
// moved while away), each with what becomes of its sounds.
void MainWindow::logStillMissing(const QString& folder)
{
    QStringList missing;
    for (const QString& path : std::as_const(filesToldAway))
        if (folderOfFile(path) == folder)
            missing << path;
    missing.sort();
    const QHash<QString, QStringList> sounds = soundsByFile();
    for (const QString& path : std::as_const(missing)) {
        QStringList ids = sounds.value(path);
        ids.sort();
        for (const QString& id : std::as_const(ids)) {
            ++filesBackBurst.stillMissing;
            const QString fate = playsFromMemory(id) ? QStringLiteral("plays from memory until the program closes")
                                                     : QStringLiteral("cannot play until its file is back");
            if (eventLog)
                eventLog->log(QStringLiteral("Audio"),
                              QStringLiteral("The file of \"%1\" is still missing (%2); the sound %3")
                                  .arg(playbackTitle(id), shortFolder(path), fate),
                              QStringLiteral("warn"));
        }
    }
}

// A burst is told folder by folder, one call after another: the toast waits
// for the last of them.
void MainWindow::queueFilesSeenToast()
{
    if (filesSeenToastQueued)
        return;
    filesSeenToastQueued = true;
    QTimer::singleShot(0, this, [this] { showFilesSeenToasts(); });
}

void MainWindow::showFilesSeenToasts()
{
    filesSeenToastQueued = false;
    const FilesSeenBurst away = std::exchange(filesAwayBurst, {});
    const FilesSeenBurst back = std::exchange(filesBackBurst, {});
    if (!away.ids.isEmpty())
        toast(QStringLiteral("⚠  ") + awayText(burstWhere(away.folders), awaySounds(*this, away.ids)),
              ToastManager::Warning, kAwayToastMs);
    if (!back.ids.isEmpty()) {
        QString text = QStringLiteral("✅  ") + backText(burstWhere(back.folders), titlesOf(*this, back.ids));
        if (back.stillMissing > 0)
            text += QStringLiteral("; %1 still missing (see the Event Log)").arg(back.stillMissing);
        toast(text, back.stillMissing > 0 ? ToastManager::Warning : ToastManager::Info, kBackToastMs);
    }
}
