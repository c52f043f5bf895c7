// Play requests and the way back from the engines to the display, stops of
// single buttons, and the master and tab volumes.
//
// The routing here is the plain path (AudioEngine on the default device);
// the playback rules, device choice and the DirectSound path grow here.
#include "MainWindow.h"

#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <cmath>

#include "AudioEngine.h"
#include "ButtonGrid.h"
#include "DirectSoundEngine.h"
#include "DrumEngine.h"
#include "GridHeader.h"
#include "OpLog.h"
#include "PcmPlayer.h"
#include "SessionManager.h"
#include "SoundButton.h"
#include "WasapiEngine.h"

void MainWindow::onPlayRequested(const ButtonData& btn)
{
    VX_LOG(QStringLiteral("[onPlayRequested] id=") + btn.id + QStringLiteral(" path=") + btn.audioPath);
    if (btn.audioPath.isEmpty()) {
        onEditRequested(btn.id, QStringLiteral("assign"));
        return;
    }
    applyPlaybackState();
    AudioEngine* audio = AudioEngine::instance();
    audio->cancelFade(btn.id);
    audio->playRapid(btn, defaultDevice);
    audio->notifyPlay(btn.id);
}

void MainWindow::onPlayStarted(const QString& id)
{
    VX_LOG(QStringLiteral("[onPlayStarted] id=") + id);
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (!p.grid)
            continue;
        if (SoundButton* b = p.grid->buttonWidgetById(id)) {
            b->setPlaying(true);
            if (p.header)
                p.header->setPlaying(true);
        }
    }
    if (!id.isEmpty() && id != musicId)
        nowPlayingId = id;
    updateStatusBar();
}

void MainWindow::onPlayStopped(const QString& id)
{
    AudioEngine* audio = AudioEngine::instance();
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (!p.grid)
            continue;
        SoundButton* b = p.grid->buttonWidgetById(id);
        if (!b)
            continue;
        b->setPlaying(false);
        bool anyPlaying = false;
        for (int i = 0; i < p.grid->buttonCount() && !anyPlaying; ++i)
            if (SoundButton* other = p.grid->buttonWidget(i))
                anyPlaying = other->isPlaying() || audio->isPlaying(other->buttonData().id);
        if (p.header && !anyPlaying)
            p.header->setPlaying(false);
    }
    if (id == nowPlayingId)
        nowPlayingId.clear();
    updateStatusBar();
}

void MainWindow::onPositionChanged(const QString& id, qint64 posMs, qint64 durMs)
{
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (!p.grid)
            continue;
        if (SoundButton* b = p.grid->buttonWidgetById(id)) {
            b->setPosition(posMs, durMs);
            return;
        }
    }
}

void MainWindow::onWasapiStopped(const QString& id)
{
    if (id == nowPlayingId)
        nowPlayingId.clear();
}

void MainWindow::onStopRequested(const QString& id)
{
    AudioEngine::instance()->cancelFade(id);
    AudioEngine::instance()->stop(id);
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (!p.grid)
            continue;
        if (SoundButton* b = p.grid->buttonWidgetById(id)) {
            b->setTriggerMark(0);
            b->setPlaying(false);
            return;
        }
    }
}

void MainWindow::applyPlaybackState()
{
    Session& s = SessionManager::instance()->session();
    s.autoStop = autoStopToggle ? autoStopToggle->isChecked() : false;
    s.restart = restartToggle ? restartToggle->isChecked() : true;
    s.crossTabStop = crossTabStopToggle ? crossTabStopToggle->isChecked() : true;
}

void MainWindow::restoreButtonPlayingStates(int pane)
{
    if (pane < 0 || pane >= m_panels.size() || !m_panels[pane].grid)
        return;
    const GridPanel& p = m_panels[pane];
    AudioEngine* audio = AudioEngine::instance();
    DirectSoundEngine* ds = DirectSoundEngine::instance();
    bool any = false;
    for (int i = 0; i < p.grid->buttonCount(); ++i) {
        SoundButton* b = p.grid->buttonWidget(i);
        if (!b || b->buttonData().id.isEmpty())
            continue;
        const QString& id = b->buttonData().id;
        const bool playing = audio->isPlaying(id) || ds->isPlaying(id);
        b->setPlaying(playing);
        any = any || playing;
    }
    if (p.header)
        p.header->setPlaying(any);
}

void MainWindow::evictButtonFromAllEngines(const QString& id)
{
    if (id.isEmpty())
        return;
    DirectSoundEngine::instance()->evict(id);
    PcmPlayer::instance()->evictButton(id);
    DrumEngine::instance()->evictButton(id);
    WasapiEngine::instance()->evictButton(id);
}

void MainWindow::onVolumeChanged(int percent)
{
    static int lastToasted = -1;
    if (percent % 10 == 0 && percent != lastToasted) {
        lastToasted = percent;
        const char32_t icon = percent == 0 ? 0x1F507 : percent < 40 ? 0x1F508 : percent < 80 ? 0x1F509 : 0x1F50A;
        toast(QString::fromUcs4(&icon, 1) + QStringLiteral("  Volume: %1%").arg(percent), ToastManager::Info,
              1400);
    }
    if (volPercentLabel)
        volPercentLabel->setText(QStringLiteral("%1%").arg(percent));
    AudioEngine::instance()->setGlobalVolume(percent / 100.0);
    SessionManager::instance()->session().globalVolume = percent / 100.0;
    SessionManager::instance()->markDirty();
}

void MainWindow::onPanelVolumeChanged(int pane, double v)
{
    if (pane < 0 || pane >= m_panels.size())
        return;
    const int tab = m_panels[pane].tabIndex >= 0 ? m_panels[pane].tabIndex : pane;
    AudioEngine* audio = AudioEngine::instance();
    audio->setTabVolume(tab, v);
    SessionManager* sm = SessionManager::instance();
    if (tab < sm->session().tabs.size()) {
        sm->session().tabs[tab].volume = v;
        sm->markDirty();
    }
    auto applyToGrid = [audio, v](ButtonGrid* grid) {
        for (int i = 0; i < grid->buttonCount(); ++i)
            if (SoundButton* b = grid->buttonWidget(i))
                audio->setButtonVolume(b->buttonData().id, b->buttonData().volume * v);
    };
    if (m_panels[pane].grid)
        applyToGrid(m_panels[pane].grid);
    for (int p = 0; p < m_panels.size(); ++p) {
        if (p == pane || m_panels[p].tabIndex != tab)
            continue;
        if (GridHeader* h = m_panels[p].header) {
            const QSignalBlocker block(h);
            h->m_volSlider->setValue(int(std::lround(v * 100.0)));
        }
        if (m_panels[p].grid)
            applyToGrid(m_panels[p].grid);
    }
}
