#pragma once
#include <QString>
#include <QtGlobal>

// MIDI input devices of the machine, addressed by index like a classic
// multimedia MIDI API. Each opened input delivers its messages as packed
// short messages (status | data1 << 8 | data2 << 16) to a callback, on a
// thread of the backend. The callback must not block.
class MidiInputBackend
{
public:
    using Handle = quintptr;                       // 0: none
    using Callback = void (*)(void* instance, quint32 shortMessage);

    virtual ~MidiInputBackend() = default;

    // Number of device indices; a name query may still fail for an index.
    virtual int inputCount() = 0;
    virtual bool inputName(int index, QString* name) = 0;
    virtual int outputCount() = 0;
    virtual bool outputName(int index, QString* name) = 0;

    // Opens input index; 0 when it cannot be opened (also when it is open already).
    virtual Handle open(int index, Callback callback, void* instance) = 0;
    // Messages reach the callback only between start and stop.
    virtual bool start(Handle h) = 0;
    virtual void stop(Handle h) = 0;
    virtual void close(Handle h) = 0;

    // False when the MIDI system could not be reached; error() tells why.
    virtual bool available() = 0;
    virtual QString error() const = 0;

    // The backend on the ALSA sequencer, made on first use and never destroyed.
    static MidiInputBackend* system();
};

namespace MidiShortMessage {

inline quint32 pack(int status, int data1, int data2)
{
    return quint32(status & 0xFF) | (quint32(data1 & 0xFF) << 8) | (quint32(data2 & 0xFF) << 16);
}

// Splits a note-on, note-off or control change into channel (1 to 16), number,
// value and kind. A note-off gives value 0; a note-on keeps its velocity, also 0.
// Every other message gives false.
inline bool decode(quint32 msg, int* channel, int* number, int* value, bool* isCC)
{
    const int status = int(msg & 0xF0);
    const int data1 = int((msg >> 8) & 0xFF);
    const int data2 = int((msg >> 16) & 0xFF);
    switch (status) {
    case 0x90: *isCC = false; *value = data2; break;
    case 0x80: *isCC = false; *value = 0; break;
    case 0xB0: *isCC = true; *value = data2; break;
    default: return false;
    }
    *channel = int(msg & 0x0F) + 1;
    *number = data1;
    return true;
}

} // namespace MidiShortMessage
