#pragma once
#include <QByteArray>
#include <QList>
#include <QString>

// The one place that turns the device ids Qt Multimedia reports
// (QAudioDevice::id(): on Linux a sound-server sink name, or an ALSA name
// when Qt talks to ALSA) into ALSA device names, and lists ALSA outputs.
namespace AudioDevices {

struct Output
{
    QByteArray id;          // the id as Qt would report it
    QString alsaName;       // what ALSA opens
    QString description;
};

// The ALSA name for a Qt device id:
// - empty: "default";
// - an ALSA name ("default", "sysdefault", "pulse", "hw:...", "plughw:...",
//   "front:...", "dmix...", or any name ALSA lists): itself;
// - anything else is taken as a sound-server sink name and routed through
//   ALSA's pulse plugin: "pulse:DEVICE=<id>" (only for ids of safe
//   characters; others give "default").
QString alsaNameForId(const QByteArray& qtId);

// The hardware device ("hw:...") an exclusive stream for a Qt device id goes
// to, so that it plays on the card the user chose and on no other:
// - empty or "default": the first hardware output ALSA lists (the default card);
// - "hw:...": itself; "plughw:X": "hw:X";
// - a card's own devices "sysdefault", "front" and "dmix" (CARD= and DEV=,
//   or the same as positional arguments): "hw:CARD=<card>,DEV=<dev>";
// - anything else (a sound-server sink, a device of another kind): empty, as
//   no card can be told from it.
QString hardwareNameForId(const QByteArray& qtId);

// Whether ALSA's configuration defines the pulse plugin PCM.
bool hasPulsePlugin();

// The ALSA outputs ALSA's name hints list, "default" first.
QList<Output> outputs();

} // namespace AudioDevices
