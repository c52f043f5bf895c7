#include "AlsaOutput.h"

AlsaOutput::AlsaOutput(const AudioOutputConfig& config) : AudioOutput(config) {}
AlsaOutput::~AlsaOutput() = default;

std::unique_ptr<AlsaOutput> AlsaOutput::open(const AudioOutputConfig&, QString* error, AudioOutputConfig*)
{
    if (error)
        *error = QStringLiteral("ALSA output not available yet");
    return nullptr;
}
int AlsaOutput::deviceMixRate(const QByteArray&) { return 48000; }
bool AlsaOutput::start() { return false; }
void AlsaOutput::stop() { m_wake.set(); }
AudioOutput::WaitResult AlsaOutput::waitForPeriod(int) { return WaitResult::DeviceLost; }
int AlsaOutput::padding() { return -1; }
void* AlsaOutput::getBuffer(int) { return nullptr; }
bool AlsaOutput::releaseBuffer(int, bool) { return false; }
bool AlsaOutput::openDevice(const QByteArray&, QString*, AudioOutputConfig*) { return false; }
bool AlsaOutput::recover(int) { return false; }
int AlsaOutput::availFrames() { return 0; }
