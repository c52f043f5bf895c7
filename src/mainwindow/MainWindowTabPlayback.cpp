// The per-tab playback dialog: a tab's own rules and output device.
#include "MainWindow.h"

#include "GridHeader.h"
#include "Modal.h"
#include "SessionManager.h"
#include "TabPlaybackDialog.h"

void MainWindow::showTabPlaybackDialog(int tabIdx)
{
    SessionManager* sm = SessionManager::instance();
    if (tabIdx < 0 || tabIdx >= sm->session().tabs.size())
        return;
    TabPlaybackDialog dialog(sm->session(), tabIdx, this);
    Modal::exec(&dialog);

    // Cancel (or Esc, or the close button) changes nothing and writes nothing.
    if (dialog.outcome() == TabPlaybackDialog::Cancelled)
        return;
    // The dialog is modal, yet the tab list is looked at again: nothing of
    // it is kept across the wait.
    Session& s = sm->session();
    if (tabIdx < s.tabs.size()) {
        TabData& t = s.tabs[tabIdx];
        if (dialog.outcome() == TabPlaybackDialog::UseGlobal) {
            t.useTabPb = false;
        } else {
            t.useTabPb = dialog.overrideRules();
            t.pb_as = dialog.autoStop();
            t.pb_rs = dialog.restart();
            t.pb_cts = dialog.crossTabStop();
            t.soundCard = dialog.device();
            // The panes that show the tab show its device.
            for (const GridPanel& p : std::as_const(m_panels))
                if (p.tabIndex == tabIdx && p.header)
                    p.header->setCurrentDevice(t.soundCard);
        }
        sm->markDirty();
    }
    // The toolbar's toggles are the session's global rules and stay so: a
    // tab's own rules are read from the tab at each press.
    sm->saveSession(QString());
}
