// Bundle export and import: the window's side of packing a session with its
// audio into one file and taking one in again.
#include "MainWindow.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "BundleManager.h"
#include "EventLog.h"
#include "MidiManager.h"
#include "RecordId.h"
#include "SessionManager.h"
#include "TabKeys.h"

namespace {
constexpr int kMaxTabs = 16;
constexpr int kLimitToastMs = 3000;
constexpr int kMergedToastMs = 2400;
constexpr int kSharedKeysToastMs = 6000;
} // namespace

void MainWindow::onExportBundle()
{
    BundleManager::instance()->exportBundle(this);
}

void MainWindow::onImportBundle()
{
    BundleManager::instance()->importBundle(this);
}

void MainWindow::onBundleProjectReady(const QString& vxPath)
{
    const QByteArray midi = BundleManager::instance()->takeImportedMidi();
    // Through the one way of opening a session, which asks about unsaved
    // work. Nothing of the bundle is taken in unless the user goes on: kept
    // changes keep the session, the recent files and the MIDI table as they
    // were (the project stays on disk where the import put it).
    if (!openSessionFile(vxPath))
        return;
    // The bundle's mappings name the buttons of the project just opened.
    if (!midi.isEmpty())
        MidiManager::instance()->takeUpBundleConfig(QJsonDocument::fromJson(midi).object());
}

void MainWindow::onBundleSoundsMissing(int sounds, const QStringList& buttons)
{
    if (!eventLog)
        return;
    eventLog->log(QStringLiteral("Bundle"),
                  QStringLiteral("%1 sound(s) were not in the imported bundle").arg(sounds), QStringLiteral("warn"));
    for (const QString& button : buttons)
        eventLog->log(QStringLiteral("Bundle"), QStringLiteral("No sound in the bundle for ") + button,
                      QStringLiteral("warn"));
}

void MainWindow::onBundleSoundsLeftOut(int sounds, const QStringList& buttons)
{
    if (!eventLog)
        return;
    eventLog->log(QStringLiteral("Bundle"),
                  QStringLiteral("%1 sound(s) were left out of the exported bundle: their audio files are missing")
                      .arg(sounds),
                  QStringLiteral("warn"));
    for (const QString& button : buttons)
        eventLog->log(QStringLiteral("Bundle"), QStringLiteral("Left out of the bundle, file missing: ") + button,
                      QStringLiteral("warn"));
}

void MainWindow::appendImportedTab(TabData tab)
{
    // New identities: the session may hold these tabs already (the same
    // bundle merged twice), and ids key every engine's state.
    RecordId::renew(tab);
    // Taken in from a file: the load rule for its volume, as for a session.
    tab.volume = effectiveTabVolume(tab.volume);
    SessionManager* sm = SessionManager::instance();
    sm->session().tabs.append(tab);
    buildPanelForTab(int(sm->session().tabs.size()) - 1, tab, true);
}

int MainWindow::appendImportedTabs(const QList<TabData>& tabs, const QString& limitText, int limitToastMs)
{
    SessionManager* sm = SessionManager::instance();
    int added = 0;
    for (const TabData& tab : tabs) {
        if (sm->session().tabs.size() >= kMaxTabs) {
            toast(limitText, ToastManager::Warning, limitToastMs);
            break;
        }
        appendImportedTab(tab);
        ++added;
    }
    currentTab = std::max(0, int(m_panels.size()) - 1);
    sm->markDirty();
    rebuildTabStrip();
    return added;
}

void MainWindow::onBundleTabsReady(QList<TabData> tabs)
{
    const QList<TabData> present = SessionManager::instance()->session().tabs;
    const int added = appendImportedTabs(
        tabs, QStringLiteral("⚠️  Tab limit (16) reached — some imported tabs were skipped."), kLimitToastMs);
    toast(QStringLiteral("✅  %1 tab(s) imported into session").arg(added), ToastManager::Info, kMergedToastMs);
    reportSharedKeys(present, SessionManager::instance()->session().tabs.mid(present.size()));
    refreshTabDerivedState();
    // The current tab moved: its rules and its counts, as when a tab is picked.
    applyPlaybackState();
    updateStatusBar();
}

void MainWindow::reportSharedKeys(const QList<TabData>& present, const QList<TabData>& added)
{
    const int shown = validButtonsPerTab(SessionManager::instance()->session().buttonsPerTab);
    const TabKeys::Shared shared = TabKeys::sharedKeys(present, added, shown);
    if (shared.keys.isEmpty())
        return;
    // Named as the session now holds them: an added tab may bear the name
    // of one already there, and then each is told by its place.
    const QString tabs = TabKeys::tabsLabel(SessionManager::instance()->session().tabs, shared.tabs);
    const int n = int(shared.keys.size());
    const QString count = n == 1 ? QStringLiteral("1 key") : QStringLiteral("%1 keys").arg(n);
    toast(QStringLiteral("⚠️  The added tabs reuse %1 of %2: the later button wins (see the event log).")
              .arg(count, tabs),
          ToastManager::Warning, kSharedKeysToastMs);
    if (eventLog)
        eventLog->log(QStringLiteral("Bundle"),
                      QStringLiteral("The added tabs reuse %1 of %2: %3. A shared key plays the later button "
                                     "(on the current tab, its own); a tab's key takes it from the pads and acts "
                                     "on every tab that has it. A pad whose key plays something else shows the "
                                     "key struck out.")
                          .arg(count, tabs, shared.keys.join(QStringLiteral(", "))),
                      QStringLiteral("warn"));
}
