// The music panel's player: a track started by a double-click, by the
// now-playing bar's buttons or by Auto-Mix, which walks the flagged rows of
// ALL MUSIC in turn. One track plays at a time, under a fresh id in musicId,
// beside the sound buttons.
#include "MainWindow.h"

#include <QComboBox>
#include <QFileInfo>
#include <QListWidget>
#include <QPushButton>
#include <QToolTip>

#include "MusicItemDelegate.h"
#include "MusicTrack.h"
#include "NowPlayingBar.h"
#include "RecordId.h"

int nowPlayingFadeMs(QComboBox* combo)
{
    if (!combo)
        return 0;
    const QString text = combo->currentText();
    if (text.startsWith(QLatin1String("1s")))
        return 1000;
    if (text.startsWith(QLatin1String("2s")))
        return 2000;
    if (text.startsWith(QLatin1String("3s")))
        return 3000;
    return 0;
}

namespace {

QString musicDevice(QComboBox* combo)
{
    return combo ? combo->currentData(Qt::UserRole).toString() : QString();
}

QString rowPath(const QListWidgetItem* item)
{
    return item ? item->data(Qt::UserRole).toString() : QString();
}

} // namespace

void MainWindow::endCurrentMusic(MusicEnd how)
{
    const QString id = std::exchange(musicId, QString());
    PlaybackEngines& e = engines();
    switch (how) {
    case MusicEnd::Panel:
        if (!id.isEmpty()) {
            e.wasapiStop(id);
            e.audioStop(id);
            e.pcmStop(id);
        }
        break;
    case MusicEnd::AutoMixOn:
        if (!id.isEmpty()) {
            e.audioStop(id);
            e.pcmStop(id);
            e.wasapiStop(id);
        }
        break;
    case MusicEnd::PlayerOnly:
        if (!id.isEmpty())
            e.audioStop(id);
        break;
    }
}

void MainWindow::endFadingMusic()
{
    const QSet<QString> fading = std::exchange(musicFading, {});
    PlaybackEngines& e = engines();
    for (const QString& id : fading) {
        e.audioSetButtonFade(id, 0);
        e.audioCancelFade(id);
        e.audioStop(id);
    }
}

ButtonData musicTrackRecord(const QString& path)
{
    ButtonData track;
    track.id = RecordId::make();
    track.audioPath = path;
    track.name = QFileInfo(path).completeBaseName();
    track.volume = 1.0;
    track.midiNote = -1;
    track.midiCh = -1;
    return track;
}

void MainWindow::startMusicTrack(const QString& path, const QString& device)
{
    const ButtonData track = musicTrackRecord(path);
    musicId = track.id;
    musicTitle = track.name;
    musicPath = path;
    soundStartedSincePanic = true;
    engines().audioPlay(track, device);
    // The engine's start report shows it already; a start that failed at
    // once has let go of musicId.
    if (musicId == track.id && nowPlayingId != track.id)
        showOnStrip(track.id, track.name, path);
}

void MainWindow::markMusicRow(int row)
{
    if (!musicList)
        return;
    for (int r = 0; r < musicList->count(); ++r)
        musicList->item(r)->setData(MusicItemDelegate::kPlayingRole, r == row);
    musicList->viewport()->update();
}

int MainWindow::nextMusicRow(int from, int step, bool wrap, bool flaggedOnly) const
{
    if (!musicList)
        return -1;
    const int n = musicList->count();
    if (n == 0)
        return -1;
    int r = from;
    for (int k = 0; k < n; ++k, r += step) {
        if (wrap)
            r = ((r % n) + n) % n;
        else if (r < 0 || r >= n)
            return -1;
        const QListWidgetItem* item = musicList->item(r);
        if (!item || item->isHidden())
            continue;
        if (!flaggedOnly || item->data(MusicItemDelegate::kInPlaylistRole).toBool())
            return r;
    }
    return -1;
}

void MainWindow::showMusicStopped()
{
    if (autoMixBtn && autoMixBtn->isChecked())
        autoMixBtn->setChecked(false);
    autoMixIndex = -1;
    musicTitle.clear();
    musicPath.clear();
    musicFailShown = false;
    if (musicList) {
        markMusicRow(-1);
        musicList->clearSelection();
    }
    // A sound button that plays on takes the bar and the strip back.
    showNextNowPlaying(QString());
}

void MainWindow::connectMusicPlayer()
{
    if (musicList) {
        connect(musicList, &QListWidget::itemDoubleClicked, this, &MainWindow::onMusicItemDoubleClicked);
        connect(musicList, &QWidget::customContextMenuRequested, this, &MainWindow::showMusicListMenu);
    }
    if (playlistList)
        connect(playlistList, &QListWidget::itemDoubleClicked, this, &MainWindow::onPlaylistItemDoubleClicked);
    if (autoMixBtn)
        connect(autoMixBtn, &QAbstractButton::toggled, this, &MainWindow::onAutoMixToggled);
    if (nowPlayingBar) {
        connect(nowPlayingBar, &NowPlayingBar::prevClicked, this, &MainWindow::autoMixPrev);
        connect(nowPlayingBar, &NowPlayingBar::nextClicked, this, &MainWindow::autoMixNext);
        connect(nowPlayingBar, &NowPlayingBar::playClicked, this, &MainWindow::onNowPlayingPlay);
    }
}

// --- Starts ----------------------------------------------------------------------

void MainWindow::onMusicItemDoubleClicked(QListWidgetItem* item)
{
    const QString path = rowPath(item);
    if (path.isEmpty() || !musicList)
        return;
    const QString device = musicDevice(musicDevCombo);
    musicFailShown = false;
    endCurrentMusic(MusicEnd::Panel);
    autoMixIndex = musicList->row(item);
    startMusicTrack(path, device);
    markMusicRow(autoMixIndex);
}

// Ends the music only, as a double-click in ALL MUSIC does: the buttons'
// sounds play on. The track plays on the default device; Auto-Mix goes on
// after the ALL MUSIC row it holds. The mark goes to the track's own row.
void MainWindow::onPlaylistItemDoubleClicked(QListWidgetItem* item)
{
    const QString path = rowPath(item);
    if (path.isEmpty())
        return;
    musicFailShown = false;
    endCurrentMusic(MusicEnd::Panel);
    startMusicTrack(path, QString());
    int row = -1;
    for (int r = 0; musicList && r < musicList->count() && row < 0; ++r)
        if (rowPath(musicList->item(r)) == path)
            row = r;
    markMusicRow(row);
}

void MainWindow::autoMixPlayIdx(int row, int fadeMs)
{
    if (row < 0 || !musicList || row >= musicList->count())
        return;
    QListWidgetItem* item = musicList->item(row);
    const QString path = rowPath(item);
    if (path.isEmpty())
        return;
    if (!musicId.isEmpty()) {
        if (fadeMs > 0) {
            // The old track plays on for one fade length, then fades out
            // over another; it is no longer the current track.
            const QString old = std::exchange(musicId, QString());
            PlaybackEngines& e = engines();
            e.audioSetButtonFade(old, fadeMs);
            musicFading.insert(old);
            e.later(fadeMs, this, [this, old] {
                if (musicFading.remove(old))
                    engines().audioStop(old);
            });
        } else {
            endCurrentMusic(MusicEnd::PlayerOnly);
        }
    }
    autoMixIndex = row;
    startMusicTrack(path, musicDevice(musicDevCombo));
    markMusicRow(row);
    musicList->clearSelection();
    item->setSelected(true);
    musicList->scrollToItem(item, QAbstractItemView::EnsureVisible);
}

void MainWindow::autoMixPlayRow(int row)
{
    autoMixPlayIdx(row, nowPlayingFadeMs(musicFadeCombo));
}

void MainWindow::autoMixNext()
{
    if (!musicList || musicList->count() == 0)
        return;
    const int row = nextMusicRow(std::max(autoMixIndex, -1) + 1, 1, true, false);
    if (row >= 0)
        autoMixPlayIdx(row, nowPlayingFadeMs(musicFadeCombo));
}

void MainWindow::autoMixPrev()
{
    if (!musicList || musicList->count() == 0)
        return;
    const int first = autoMixIndex > 0 ? autoMixIndex - 1 : musicList->count() - 1;
    const int row = nextMusicRow(first, -1, true, false);
    if (row >= 0)
        autoMixPlayIdx(row, nowPlayingFadeMs(musicFadeCombo));
}

void MainWindow::onNowPlayingPlay()
{
    if (!musicList || musicList->count() == 0)
        return;
    const int fade = nowPlayingFadeMs(musicFadeCombo);
    if (autoMixIndex >= 0 && autoMixIndex < musicList->count()) {
        autoMixPlayIdx(autoMixIndex, fade);
        return;
    }
    const int row = nextMusicRow(0, 1, false, false);
    if (row >= 0)
        autoMixPlayIdx(row, fade);
}

// --- Auto-Mix ---------------------------------------------------------------------

void MainWindow::onAutoMixToggled(bool on)
{
    if (!on) {
        // The playing track plays to its end; nothing follows it.
        autoMixIndex = -1;
        return;
    }
    musicFailShown = false;
    endCurrentMusic(MusicEnd::AutoMixOn);
    const int row = nextMusicRow(0, 1, false, true);
    if (row >= 0) {
        autoMixPlayRow(row);
        return;
    }
    // Nothing to play: the switch goes back off, and the track it stopped
    // leaves nothing lit.
    showMusicStopped();
    if (autoMixBtn)
        QToolTip::showText(autoMixBtn->mapToGlobal(QPoint(0, -28)),
                           QStringLiteral("Add tracks to playlist first (+List)"), autoMixBtn, QRect(), 2000);
}

void MainWindow::onAutoMixTrackStopped(const QString& id)
{
    if (!autoMixBtn || !autoMixBtn->isChecked() || autoMixIndex < 0 || musicId.isEmpty() || id != musicId)
        return;
    // The current track has ended by itself: nothing is left to stop.
    musicId.clear();
    const int row = nextMusicRow(autoMixIndex + 1, 1, false, true);
    if (row >= 0) {
        autoMixPlayRow(row);
        return;
    }
    autoMixIndex = -1;
    autoMixBtn->setChecked(false);
}
