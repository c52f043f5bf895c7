// The low-latency engine on the saved output device: opened at start-up and
// reopened once the list of audio outputs has settled after a change.
#include "MainWindow.h"

#include <QTimer>

#include "SettingsKeys.h"
#include "OpLog.h"
#include "WasapiEngine.h"

namespace {
constexpr int kHotPlugSettleMs = 50;
}

void MainWindow::startWasapi()
{
    const QString device = SettingsKeys::readString(SettingsKeys::AudioDevice, QString());
    if (!WasapiEngine::instance()->init(device))
        qWarning("[Main] WasapiEngine init failed");
}

void MainWindow::onAudioOutputsChanged()
{
    if (reinitRunning || themeApplying)
        return;
    deviceDebounceTimer->start();
}

void MainWindow::hotPlugReinit()
{
    if (reinitRunning)
        return;
    reinitRunning = true;
    VX_LOG(QStringLiteral("[Main] Hot-plug: audio device change — reinitializing"));
    WasapiEngine::instance()->stopAll();
    // The voices get a moment to fall silent before the device goes; the GUI
    // thread does not sleep for it.
    QTimer::singleShot(kHotPlugSettleMs, this, [this] {
        const QString device = SettingsKeys::readString(SettingsKeys::AudioDevice, QString());
        WasapiEngine::instance()->shutdown();
        WasapiEngine::instance()->init(device);
        reinitRunning = false;
        VX_LOG(QStringLiteral("[Main] Hot-plug reinit complete"));
    });
}
