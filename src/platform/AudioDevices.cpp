#include "AudioDevices.h"

QString AudioDevices::alsaNameForId(const QByteArray& qtId)
{
    return qtId.isEmpty() ? QStringLiteral("default") : QString::fromUtf8(qtId);
}
bool AudioDevices::hasPulsePlugin() { return false; }
QList<AudioDevices::Output> AudioDevices::outputs() { return {}; }
