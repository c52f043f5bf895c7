#include "AudioOutput.h"

#include "AlsaOutput.h"
#include "ManualOutput.h"
#include "NullOutput.h"
#include "PlatformLog.h"

AudioOutput::AudioOutput(const AudioOutputConfig& config) : m_config(config) {}

AudioOutput::~AudioOutput() = default;

bool normaliseOutputConfig(AudioOutputConfig& c, QString* error)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (c.channels < 1 || c.channels > 8)
        return fail(QStringLiteral("unsupported channel count %1").arg(c.channels));
    if (c.rate < 8000 || c.rate > 384000)
        return fail(QStringLiteral("unsupported sample rate %1").arg(c.rate));
    if (c.periodFrames < 16)
        c.periodFrames = 16;
    if (c.periodFrames > c.rate)
        c.periodFrames = c.rate;
    if (c.bufferFrames < 2 * c.periodFrames)
        c.bufferFrames = 2 * c.periodFrames;
    if (c.bufferFrames > 4 * c.rate)
        return fail(QStringLiteral("buffer of %1 frames is too large").arg(c.bufferFrames));
    return true;
}

QString AudioOutput::backendName(Backend b)
{
    switch (b) {
    case Backend::Alsa: return QStringLiteral("alsa");
    case Backend::Null: return QStringLiteral("null");
    case Backend::Manual: return QStringLiteral("manual");
    }
    return QString();
}

static bool forcedBackend(AudioOutput::Backend* b)
{
    const QByteArray v = qgetenv("TR_AUDIO_OUTPUT").trimmed().toLower();
    if (v == "alsa")
        *b = AudioOutput::Backend::Alsa;
    else if (v == "null")
        *b = AudioOutput::Backend::Null;
    else if (v == "manual")
        *b = AudioOutput::Backend::Manual;
    else
        return false;
    return true;
}

bool AudioOutput::backendForced()
{
    Backend b;
    return forcedBackend(&b);
}

AudioOutput::Backend AudioOutput::preferredBackend()
{
    Backend b = Backend::Alsa;
    forcedBackend(&b);
    return b;
}

int AudioOutput::mixRate(const QByteArray& deviceId)
{
    if (preferredBackend() != Backend::Alsa)
        return 48000;
    return AlsaOutput::deviceMixRate(deviceId);
}

std::unique_ptr<AudioOutput> AudioOutput::openBackend(Backend backend, const AudioOutputConfig& config,
                                                      QString* error, AudioOutputConfig* closest)
{
    AudioOutputConfig c = config;
    if (!normaliseOutputConfig(c, error))
        return nullptr;
    switch (backend) {
    case Backend::Alsa:
        return AlsaOutput::open(c, error, closest);
    case Backend::Null:
        return std::make_unique<NullOutput>(c);
    case Backend::Manual:
        return std::make_unique<ManualOutput>(c);
    }
    return nullptr;
}

std::unique_ptr<AudioOutput> AudioOutput::open(const AudioOutputConfig& config, QString* error)
{
    Backend forced;
    if (forcedBackend(&forced))
        return openBackend(forced, config, error);
    QString why;
    if (auto out = openBackend(Backend::Alsa, config, &why))
        return out;
    if (config.mode == ShareMode::Exclusive) {
        // The caller decides how to fall back (usually to a shared stream).
        if (error)
            *error = why;
        return nullptr;
    }
    AudioOutputConfig c = config;
    if (!normaliseOutputConfig(c, error))
        return nullptr;
    PlatformLog::write(QStringLiteral("[AudioOutput] no ALSA output (%1); using the null output").arg(why));
    if (error)
        *error = why;
    return std::make_unique<NullOutput>(c);
}
