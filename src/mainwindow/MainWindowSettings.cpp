// The settings window, opened from the toolbar menu and with Ctrl+",".
#include "MainWindow.h"

#include "ButtonGrid.h"
#include "EventLog.h"
#include "Modal.h"
#include "SessionManager.h"
#include "SettingsDialog.h"
#include "SettingsKeys.h"
#include "SoundButton.h"

void MainWindow::openSettingsDialog()
{
    SettingsDialog dialog(this);
    // After every single write made in the dialog: the status bar, the
    // output device and the event log follow, then the buttons' icon marks.
    connect(&dialog, &SettingsDialog::settingsChanged, this, &MainWindow::updateStatusBar);
    connect(&dialog, &SettingsDialog::settingsChanged, this,
            [this] { defaultDevice = SettingsKeys::readString(SettingsKeys::AudioDevice, QString()); });
    connect(&dialog, &SettingsDialog::settingsChanged, this, &MainWindow::followSettings);
    Modal::exec(&dialog);
    defaultDevice = SettingsKeys::readString(SettingsKeys::AudioDevice, QString());
}

void MainWindow::followSettings()
{
    if (eventLog)
        eventLog->setVisible(SettingsKeys::readBool(SettingsKeys::AdvancedShowLog, false));
    SessionManager::instance()->setAutoSaveInterval(SettingsKeys::autoSaveSeconds() * 1000);

    // Pre-loading switched on: the session's sounds are decoded from now on,
    // the current tab's first.
    const bool wasPreloading = preloadOn;
    preloadOn = SettingsKeys::readBool(SettingsKeys::AudioPreload);
    if (preloadOn && !wasPreloading)
        queueDirectSoundPreloads(currentTab, true);

    // Icon marks and the label size of the buttons.
    SoundButton::refreshIconSettingsCache();
    for (const GridPanel& p : std::as_const(m_panels))
        if (p.grid)
            for (SoundButton* b : p.grid->findChildren<SoundButton*>())
                b->update();
    syncGridsToSession();
    // A tab stop key removed in the dialog stops nothing from now on.
    refreshTabDerivedState();
}
