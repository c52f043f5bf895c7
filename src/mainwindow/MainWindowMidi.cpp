// MIDI wiring of the window: triggers, tab stops, volumes by controller,
// learn mode and mapping conflicts.
#include "MainWindow.h"

#include <QFileInfo>
#include <QMessageBox>
#include <QSignalBlocker>
#include <QSlider>
#include <algorithm>
#include <cmath>

#include "ButtonGrid.h"
#include "GridHeader.h"
#include "Modal.h"
#include "SessionManager.h"
#include "SoundButton.h"

namespace {

const QLatin1String kTabStopPrefix("__tab_stop_");
const QLatin1String kTabVolPrefix("__tab_vol_");
const QLatin1String kMainVolume("__main_volume__");

// The display name of a button widget: its name, else its file's base name.
QString buttonName(const SoundButton* b)
{
    const ButtonData& d = b->buttonData();
    return !d.name.isEmpty() ? d.name : QFileInfo(d.audioPath).completeBaseName();
}

QString noteText(const MidiMapping& m)
{
    return QStringLiteral("Note %1 / Ch %2").arg(m.number).arg(m.channel);
}

} // namespace

int MainWindow::parseTabTarget(const QString& id, QLatin1String prefix)
{
    // prefix, a tab index in plain decimal (no sign, no leading zero, no
    // blanks), "__". Anything else names no tab.
    if (!id.startsWith(prefix) || !id.endsWith(QLatin1String("__")) || id.size() <= prefix.size() + 2)
        return -1;
    const QString digits = id.mid(prefix.size(), id.size() - prefix.size() - 2);
    bool ok = false;
    const int n = digits.toInt(&ok);
    if (!ok || n < 0 || QString::number(n) != digits)
        return -1;
    return n;
}

void MainWindow::onMidiButtonTriggered(const QString& buttonId, int velocity)
{
    Q_UNUSED(velocity);
    if (buttonId.startsWith(kTabStopPrefix) && buttonId.endsWith(QLatin1String("__"))) {
        // A tab stop stops the session tab in every engine and shows the
        // panes that show it idle; an index past the tabs finds nothing.
        const int n = parseTabTarget(buttonId, kTabStopPrefix);
        if (n >= 0)
            stopTab(n);
        return;
    }
    // A button: the tab that holds it (the cache is checked against the
    // session), then its record when a pad shows it and it has a sound.
    const ButtonData* b = shownRecord(tabOfButton(buttonId), buttonId);
    if (b && !b->audioPath.isEmpty())
        onPlayRequested(ButtonData(*b));
}

void MainWindow::applyMidiTabVolume(int tab, double v)
{
    SessionManager* sm = SessionManager::instance();
    if (tab < 0 || tab >= sm->session().tabs.size())
        return;
    // A controller reaches past full; a tab keeps at most full, as a load does.
    v = clampVolume(v, 1.0);
    const int percent = int(std::lround(v * 100.0));
    int firstPane = -1;
    for (int p = 0; p < m_panels.size(); ++p) {
        if (m_panels[p].tabIndex != tab)
            continue;
        if (firstPane < 0)
            firstPane = p;
        if (GridHeader* h = m_panels[p].header) {
            const QSignalBlocker block(h);
            h->m_volSlider->setValue(percent);
        }
    }
    if (firstPane >= 0) {
        onPanelVolumeChanged(firstPane, v);
        return;
    }
    // No pane shows the tab: its volume still changes for its next sounds,
    // and for its pre-decoded sounds that play.
    engines().audioSetTabVolume(tab, v);
    reachPlayingPredecoded(tab, v);
    sm->session().tabs[tab].volume = v;
    sm->markDirty();
}

void MainWindow::onMidiControlTriggered(const QString& controlId, int value)
{
    if (controlId == kMainVolume) {
        if (volSlider)
            volSlider->setValue(int(std::lround(value * 100.0 / 127.0)));
        return;
    }
    const int n = parseTabTarget(controlId, kTabVolPrefix);
    if (n < 0)
        return;
    // The controller's whole travel spans the tab's whole range, silent to full.
    const int v = int(std::lround(value * 100.0 / 127.0));
    applyMidiTabVolume(n, v / 100.0);
}

QString MainWindow::describeMidiTarget(const MidiMapping& m) const
{
    const QString key = m.key();
    if (key.isEmpty())
        return QStringLiteral("(unassigned)");
    if (!key.startsWith(QLatin1String("__"))) {
        if (const SoundButton* b = findButtonWidget(key)) {
            const QString name = buttonName(b);
            return name.isEmpty() ? key : name;
        }
    }
    if (key.startsWith(QLatin1String("__tab_stop")))
        return QStringLiteral("a tab's Stop button");
    if (key.startsWith(QLatin1String("__tab_vol")))
        return QStringLiteral("a tab's Volume control");
    if (key == kMainVolume)
        return QStringLiteral("the main Volume control");
    return key;
}

void MainWindow::onMidiMappingConflict(const MidiMapping& incoming, const MidiMapping& existing)
{
    const QString existingName = describeMidiTarget(existing);
    const QString text = QStringLiteral("%1 is already assigned to \"%2\".\n\n"
                                        "Do you want to remove that assignment and assign it to \"%3\" instead?")
                             .arg(noteText(incoming), existingName, describeMidiTarget(incoming));
    const int answer = Modal::question(this, QStringLiteral("MIDI Already Assigned"), text,
                                       QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    const bool replace = answer == QMessageBox::Yes;
    MidiManager* midi = MidiManager::instance();
    const QList<MidiMapping> before = midi->allMappings();
    midi->resolveConflict(replace);
    if (!replace) {
        toast(QStringLiteral("Kept existing assignment on \"%1\"").arg(existingName), ToastManager::Highlight,
              3000);
        return;
    }
    // A tab whose stop note or controller gave way no longer claims it: not
    // in the session, not in its headers.
    const QList<MidiMapping> after = midi->allMappings();
    for (const MidiMapping& m : before) {
        const QString key = m.key();
        if (std::any_of(after.begin(), after.end(), [&](const MidiMapping& a) { return a.key() == key; }))
            continue;
        if (const int t = parseTabTarget(key, kTabStopPrefix); t >= 0)
            clearTabMidi(t, true);
        else if (const int v = parseTabTarget(key, kTabVolPrefix); v >= 0)
            clearTabMidi(v, false);
    }
}

void MainWindow::clearTabMidi(int tab, bool stop)
{
    SessionManager* sm = SessionManager::instance();
    if (tab < 0 || tab >= sm->session().tabs.size())
        return;
    TabData& t = sm->session().tabs[tab];
    (stop ? t.stopMidi : t.volCC) = -1;
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (p.tabIndex != tab || !p.header)
            continue;
        if (stop) {
            p.header->m_stopMidiNote = -1;
        } else {
            p.header->m_volCC = -1;
            p.header->m_volSlider->setToolTip(QString());
        }
    }
    MidiManager::instance()->removeMapping((stop ? kTabStopPrefix : kTabVolPrefix) + QString::number(tab)
                                           + QLatin1String("__"));
    sm->markDirty();
}

void MainWindow::onMidiMappingLearned(const MidiMapping& mapping)
{
    const QString note = noteText(mapping);
    QString name;
    if (!mapping.buttonId.isEmpty() && !mapping.buttonId.startsWith(QLatin1String("__")))
        if (const SoundButton* b = findButtonWidget(mapping.buttonId))
            name = buttonName(b);
    toast(name.isEmpty() ? QStringLiteral("🎹  MIDI assigned: %1").arg(note)
                         : QStringLiteral("🎹  \"%1\" → %2").arg(name, note),
          ToastManager::Highlight, 3000);

    // A tab's stop note and volume controller are also the tab's own, saved
    // with the session and shown by the headers of the panes that show it.
    const int stopTabIndex = parseTabTarget(mapping.buttonId, kTabStopPrefix);
    const int volTabIndex = mapping.buttonId.isEmpty() ? parseTabTarget(mapping.control, kTabVolPrefix) : -1;
    const int tab = stopTabIndex >= 0 ? stopTabIndex : volTabIndex;
    SessionManager* sm = SessionManager::instance();
    if (tab < 0 || tab >= sm->session().tabs.size())
        return;
    TabData& t = sm->session().tabs[tab];
    (stopTabIndex >= 0 ? t.stopMidi : t.volCC) = mapping.number;
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (p.tabIndex != tab || !p.header)
            continue;
        (stopTabIndex >= 0 ? p.header->m_stopMidiNote : p.header->m_volCC) = mapping.number;
    }
    sm->markDirty();
}

void MainWindow::onMidiMappingChanged()
{
    MidiManager* midi = MidiManager::instance();
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (!p.grid)
            continue;
        for (int i = 0; i < p.grid->buttonCount(); ++i) {
            SoundButton* b = p.grid->buttonWidget(i);
            if (!b)
                continue;
            const bool has = midi->mappingForButton(b->buttonData().id).isBound();
            if (has != b->hasMidi())
                b->setHasMidi(has);
        }
    }
}
