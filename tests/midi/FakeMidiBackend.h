#pragma once
#include <QList>
#include <QString>
#include <QStringList>

#include "MidiInput.h"

// A MIDI system made of named devices, some of which can refuse to be queried
// or opened. It records every call and keeps the callback of each opened input
// so that a test can play messages into it the way the real reader thread does.
class FakeMidiBackend : public MidiInputBackend
{
public:
    struct Device
    {
        QString name;
        bool capsFail = false;
        bool openFails = false;
        bool isOpen = false;
        bool started = false;
        Callback callback = nullptr;
        void* instance = nullptr;
    };

    QList<Device> inputs;
    QStringList outputs;
    bool up = true;
    QStringList calls; // "open 0", "start 0", "stop 0", "close 0"

    void addInput(const QString& name, bool capsFail = false, bool openFails = false)
    {
        Device d;
        d.name = name;
        d.capsFail = capsFail;
        d.openFails = openFails;
        inputs << d;
    }

    // The device goes as if unplugged: it is no longer listed and does not
    // open; an open handle of it stays as it was.
    void unplug(int index)
    {
        inputs[index].capsFail = true;
        inputs[index].openFails = true;
    }

    // Delivers a packed message from input index, if it is open and started.
    bool play(int index, quint32 msg)
    {
        const Device& d = inputs.at(index);
        if (!d.isOpen || !d.started)
            return false;
        d.callback(d.instance, msg);
        return true;
    }

    int inputCount() override { return up ? int(inputs.size()) : 0; }
    bool inputName(int index, QString* name) override
    {
        if (index < 0 || index >= inputs.size() || inputs[index].capsFail)
            return false;
        *name = inputs[index].name;
        return true;
    }
    int outputCount() override { return up ? int(outputs.size()) : 0; }
    bool outputName(int index, QString* name) override
    {
        if (index < 0 || index >= outputs.size())
            return false;
        *name = outputs[index];
        return true;
    }
    Handle open(int index, Callback cb, void* instance) override
    {
        calls << QStringLiteral("open %1").arg(index);
        Device& d = inputs[index];
        if (d.openFails || d.isOpen)
            return 0;
        d.isOpen = true;
        d.callback = cb;
        d.instance = instance;
        return Handle(index + 1);
    }
    bool start(Handle h) override
    {
        calls << QStringLiteral("start %1").arg(h - 1);
        inputs[int(h - 1)].started = true;
        return true;
    }
    void stop(Handle h) override
    {
        calls << QStringLiteral("stop %1").arg(h - 1);
        inputs[int(h - 1)].started = false;
    }
    void close(Handle h) override
    {
        calls << QStringLiteral("close %1").arg(h - 1);
        inputs[int(h - 1)].isOpen = false;
    }
    // How often the manager asked whether MIDI is there: its walk over the
    // inputs asks first.
    int availabilityAsked = 0;
    bool available() override
    {
        ++availabilityAsked;
        return up;
    }
    QString error() const override { return up ? QString() : QStringLiteral("no sequencer here"); }
};
