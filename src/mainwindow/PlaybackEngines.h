#pragma once
#include <QString>
#include <QStringList>
#include <functional>

#include "Types.h"

class QObject;

// Everything the window's play and stop routing asks of the audio engines, in
// one place. The window talks to the engines only through this interface; the
// default instance forwards each call to the engine singletons, and tests put
// a recorder in its place to see which calls a press makes.
class PlaybackEngines
{
public:
    virtual ~PlaybackEngines() = default;

    // The one forwarding instance, for the life of the process.
    static PlaybackEngines& system();

    // --- AudioEngine: Qt Multimedia players ---------------------------------
    virtual bool audioIsPlaying(const QString& id) = 0;
    virtual void audioPlay(const ButtonData& button, const QString& device) = 0;
    virtual void audioPlayRapid(const ButtonData& button, const QString& device) = 0;
    // Why the players could not sound the button, known before a start (its
    // file cannot play, its trim-in lies past the end of its file, or their
    // output is lost); empty when nothing is known.
    virtual QString audioStartRefusal(const ButtonData& button) { Q_UNUSED(button); return {}; }
    // Whether the players know ahead what a start of the button would meet
    // (its file's header was read for the version last seen); when not, the
    // start waits for the header, and only then tells whether it plays.
    virtual bool audioStartKnown(const ButtonData& button) { Q_UNUSED(button); return true; }
    virtual void audioCancelFade(const QString& id) = 0;
    virtual void audioStop(const QString& id) = 0;
    virtual void audioSetButtonFade(const QString& id, double ms) = 0;
    // A stop fade runs for the id: it sounds only until the fade ends.
    virtual bool audioIsStopping(const QString& id) { Q_UNUSED(id); return false; }
    virtual void audioNotifyPlay(const QString& id) = 0;
    virtual void audioNotifyStop(const QString& id) = 0;
    virtual void audioPanic() = 0;
    // Every id the players hold, each reported stopped while this runs.
    virtual void audioStopAll() = 0;
    virtual double audioTabVolume(int tab) = 0;
    virtual void audioSetTabVolume(int tab, double v) = 0;
    virtual void audioSetButtonVolume(const QString& id, double v) = 0;
    virtual void audioSetGlobalVolume(double v) = 0;
    virtual void audioSetDefaultDevice(const QString& device) = 0;
    // Prepares players for the files so a later play starts at once.
    virtual void audioPreBuffer(const QStringList& paths) { Q_UNUSED(paths); }

    // --- DirectSoundEngine: pre-decoded buttons -------------------------------
    virtual bool dsInitialized() = 0;
    virtual bool dsReady(const QString& id) = 0;
    virtual bool dsIsPlaying(const QString& id) = 0;
    virtual bool dsIsMasterPlaying(const QString& id) = 0;
    virtual bool dsTrigger(const QString& id, float vol) = 0;
    virtual bool dsTriggerSingle(const QString& id, float vol) = 0;
    virtual void dsStop(const QString& id) = 0;
    virtual void dsStopAll() = 0;
    virtual void dsEvict(const QString& id) = 0;
    virtual void dsSetVolume(float v) = 0;
    // The press volume of the id's voices, playing ones at once.
    virtual void dsSetSoundVolume(const QString& id, float vol) { Q_UNUSED(id); Q_UNUSED(vol); }
    // The loop flag of a ready sound, heard from its next press; false when
    // the id is not ready.
    virtual bool dsSetLoop(const QString& id, bool loop) { Q_UNUSED(id); Q_UNUSED(loop); return false; }
    // Decodes the button's trimmed sound ahead of time (nothing while the
    // engine is not initialised). True when a decode was queued: preloadDone
    // or preloadFailed follows; false when nothing will (refused, or nothing
    // to do).
    virtual bool dsPreload(const ButtonData& b) { Q_UNUSED(b); return false; }
    // The id's pre-decoded sound was made from an earlier version of its
    // file: not ready, and dsPreload decodes the file as it is now.
    virtual bool dsStale(const QString& id) { Q_UNUSED(id); return false; }
    // Lowers the id's pre-decoded voices to silence over ms in 16 ms steps.
    virtual void dsStopWithFade(const QString& id, int ms) { Q_UNUSED(id); Q_UNUSED(ms); }
    // The id's voices are being lowered by dsStopWithFade.
    virtual bool dsIsFadingOut(const QString& id) { Q_UNUSED(id); return false; }
    // False while the engine's output is lost (a press then goes to the players).
    virtual bool dsOutputAvailable() { return true; }

    // --- WasapiEngine: the float stream ---------------------------------------
    virtual bool wasapiActive() = 0;
    virtual QString wasapiDevice() = 0;
    virtual bool wasapiIsPlaying(const QString& id) = 0;
    virtual void wasapiStop(const QString& id) = 0;
    virtual void wasapiStopAll() = 0;
    // stopAll, shutdown, then init on the device.
    virtual void wasapiReopen(const QString& device) = 0;
    virtual void wasapiEvict(const QString& id) = 0;
    virtual void wasapiStampClick() = 0;

    // --- PcmPlayer and DrumEngine: the pads ------------------------------------
    virtual bool pcmIsPlaying(const QString& id) = 0;
    virtual void pcmStop(const QString& id) = 0;
    virtual void pcmStopAll() = 0;
    virtual void pcmEvict(const QString& id) = 0;
    virtual void drumEvict(const QString& id) = 0;
    // Decodes the button's trimmed sound for the pad mixer.
    virtual void pcmPreload(const ButtonData& b) { Q_UNUSED(b); }

    // --- Time ---------------------------------------------------------------------
    // Runs fn once, ms milliseconds from now, on the GUI thread; dropped when
    // context goes first.
    virtual void later(int ms, QObject* context, std::function<void()> fn) = 0;
};
