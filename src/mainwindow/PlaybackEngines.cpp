#include "PlaybackEngines.h"

#include <QTimer>

#include "AudioEngine.h"
#include "DirectSoundEngine.h"
#include "DrumEngine.h"
#include "PcmPlayer.h"
#include "WasapiEngine.h"

namespace {

// Forwards every call to the engine singletons. The engines are looked up at
// each call: they are made on first use and live for the process.
class SystemEngines final : public PlaybackEngines
{
public:
    static AudioEngine* audio() { return AudioEngine::instance(); }
    static DirectSoundEngine* ds() { return DirectSoundEngine::instance(); }
    static WasapiEngine* wasapi() { return WasapiEngine::instance(); }

    bool audioIsPlaying(const QString& id) override { return audio()->isPlaying(id); }
    void audioPlay(const ButtonData& b, const QString& device) override { audio()->play(b, device); }
    void audioPlayRapid(const ButtonData& b, const QString& device) override { audio()->playRapid(b, device); }
    QString audioStartRefusal(const ButtonData& b) override { return audio()->startRefusal(b); }
    bool audioStartKnown(const ButtonData& b) override { return audio()->headKnown(b.audioPath); }
    void audioStopAll() override { audio()->stopAll(); }
    void audioCancelFade(const QString& id) override { audio()->cancelFade(id); }
    void audioStop(const QString& id) override { audio()->stop(id); }
    void audioSetButtonFade(const QString& id, double ms) override { audio()->setButtonFade(id, ms); }
    bool audioIsStopping(const QString& id) override { return audio()->stopFadeTimer(id) != nullptr; }
    void audioNotifyPlay(const QString& id) override { audio()->notifyPlay(id); }
    void audioNotifyStop(const QString& id) override { audio()->notifyStop(id); }
    void audioPanic() override { audio()->panic(); }
    double audioTabVolume(int tab) override { return audio()->tabVolume(tab); }
    void audioSetTabVolume(int tab, double v) override { audio()->setTabVolume(tab, v); }
    void audioSetButtonVolume(const QString& id, double v) override { audio()->setButtonVolume(id, v); }
    void audioSetGlobalVolume(double v) override { audio()->setGlobalVolume(v); }
    void audioSetDefaultDevice(const QString& device) override { audio()->setDefaultDevice(device); }
    void audioPreBuffer(const QStringList& paths) override { audio()->preBuffer(paths); }

    bool dsInitialized() override { return ds()->isInitialized(); }
    bool dsReady(const QString& id) override { return ds()->isReady(id); }
    bool dsStale(const QString& id) override { return ds()->isStale(id); }
    bool dsIsPlaying(const QString& id) override { return ds()->isPlaying(id); }
    bool dsIsMasterPlaying(const QString& id) override { return ds()->isMasterPlaying(id); }
    bool dsTrigger(const QString& id, float vol) override { return ds()->trigger(id, vol); }
    bool dsTriggerSingle(const QString& id, float vol) override { return ds()->triggerSingle(id, vol); }
    void dsStop(const QString& id) override { ds()->stop(id); }
    void dsStopAll() override { ds()->stopAll(); }
    void dsEvict(const QString& id) override { ds()->evict(id); }
    void dsSetVolume(float v) override { ds()->setVolume(v); }
    void dsSetSoundVolume(const QString& id, float vol) override { ds()->setSoundVolume(id, vol); }
    bool dsSetLoop(const QString& id, bool loop) override { return ds()->setLoop(id, loop); }
    bool dsPreload(const ButtonData& b) override
    {
        return ds()->preload(b.id, b.audioPath, b.trimStart, b.trimEnd, float(b.volume), b.loop, b.fadeIn,
                             b.fadeOut);
    }

    void dsStopWithFade(const QString& id, int ms) override { ds()->stopWithFade(id, ms); }
    bool dsIsFadingOut(const QString& id) override { return ds()->isFadingOut(id); }
    bool dsOutputAvailable() override { return ds()->outputAvailable(); }

    bool wasapiActive() override { return wasapi()->isActive(); }
    QString wasapiDevice() override { return wasapi()->deviceId(); }
    bool wasapiIsPlaying(const QString& id) override { return wasapi()->isPlaying(id); }
    void wasapiStop(const QString& id) override { wasapi()->stop(id); }
    void wasapiStopAll() override { wasapi()->stopAll(); }
    void wasapiReopen(const QString& device) override
    {
        wasapi()->stopAll();
        wasapi()->shutdown();
        wasapi()->init(device);
    }
    void wasapiEvict(const QString& id) override { wasapi()->evictButton(id); }
    void wasapiStampClick() override { wasapi()->stampClickTime(); }

    bool pcmIsPlaying(const QString& id) override { return PcmPlayer::instance()->isPlaying(id); }
    void pcmStop(const QString& id) override { PcmPlayer::instance()->stop(id); }
    void pcmStopAll() override { PcmPlayer::instance()->stopAll(); }
    void pcmEvict(const QString& id) override { PcmPlayer::instance()->evictButton(id); }
    void drumEvict(const QString& id) override { DrumEngine::instance()->evictButton(id); }
    void pcmPreload(const ButtonData& b) override
    {
        PcmPlayer::instance()->preload(b.id, b.audioPath, b.trimStart, b.trimEnd, float(b.volume), b.fadeIn,
                                       b.fadeOut);
    }

    void later(int ms, QObject* context, std::function<void()> fn) override
    {
        QTimer::singleShot(ms, context, std::move(fn));
    }
};

} // namespace

PlaybackEngines& PlaybackEngines::system()
{
    static SystemEngines engines;
    return engines;
}
