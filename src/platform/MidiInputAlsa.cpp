#include "MidiInput.h"

namespace {
class NoMidi final : public MidiInputBackend
{
public:
    int inputCount() override { return 0; }
    bool inputName(int, QString*) override { return false; }
    int outputCount() override { return 0; }
    bool outputName(int, QString*) override { return false; }
    Handle open(int, Callback, void*) override { return 0; }
    bool start(Handle) override { return false; }
    void stop(Handle) override {}
    void close(Handle) override {}
    bool available() override { return false; }
    QString error() const override { return QStringLiteral("not built yet"); }
};
} // namespace

MidiInputBackend* MidiInputBackend::system()
{
    static MidiInputBackend* s = new NoMidi;
    return s;
}
