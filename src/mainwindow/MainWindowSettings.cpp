// The settings window, opened from the toolbar menu and with Ctrl+",".
#include "MainWindow.h"

#include "ButtonGrid.h"
#include "EventLog.h"
#include "Modal.h"
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
    connect(&dialog, &SettingsDialog::settingsChanged, this, [this] {
        if (eventLog)
            eventLog->setVisible(SettingsKeys::readBool(SettingsKeys::AdvancedShowLog, false));
        SoundButton::refreshIconSettingsCache();
        for (const GridPanel& p : std::as_const(m_panels))
            if (p.grid)
                p.grid->update();
        syncGridsToSession();
        // A tab stop key removed in the dialog stops nothing from now on.
        refreshTabDerivedState();
    });
    Modal::exec(&dialog);
    defaultDevice = SettingsKeys::readString(SettingsKeys::AudioDevice, QString());
}
