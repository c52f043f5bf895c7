// The pane layout of the grid area: one, two (side by side or stacked) or
// four panes, showing the current tab's pane and those after it.
#include "MainWindow.h"

#include <QGridLayout>
#include <QPushButton>

#include "ButtonGrid.h"
#include "SessionManager.h"

bool MainWindow::paneVisible(int k, int n, int current, int mode)
{
    if (n <= 0 || k < 0 || k >= n)
        return false;
    if (mode == 1)
        return k == current;
    const int shown = (mode == 2 || mode == 4) ? mode : 1;
    return ((k - current + n) % n) < shown;
}

void MainWindow::setGridLayout(int mode)
{
    layoutMode = mode;
    // The session keeps the layout, so every save writes it; a new one is a
    // change (a load passes the session's own: no change).
    SessionManager* sm = SessionManager::instance();
    if (sm->session().layoutMode != mode) {
        sm->session().layoutMode = mode;
        sm->markDirty();
    }
    static const int kModes[] = {1, 2, 4};
    for (int i = 0; i < layoutButtons.size() && i < 3; ++i)
        if (layoutButtons[i])
            layoutButtons[i]->setChecked(mode == kModes[i]);
    if (stackButton)
        stackButton->setVisible(mode == 2);
    // The strip's rebuild ends by laying the panes out for the new mode.
    rebuildTabStrip();
}

void MainWindow::rebuildPaneLayout()
{
    if (!gridArea)
        return;
    // Panes that already belong to the grid area stay its children: only
    // the layout goes. Taking them out and back would restyle every button.
    for (const GridPanel& p : std::as_const(m_panels))
        if (p.panel && p.panel->parentWidget() != gridArea)
            p.panel->setParent(nullptr);
    if (QLayout* old = gridArea->layout()) {
        while (QLayoutItem* item = old->takeAt(0))
            delete item;
        delete old;
    }
    auto* grid = new QGridLayout(gridArea);
    grid->setContentsMargins(4, 4, 4, 4);
    grid->setSpacing(2);

    const int n = int(m_panels.size());
    if (n > 0)
        currentTab = qBound(0, currentTab, n - 1);

    int cols = 1;
    int rows = 1;
    if (layoutMode == 4) {
        cols = 2;
        rows = 2;
    } else if (layoutMode == 2) {
        cols = stackDualPanes ? 1 : 2;
        rows = stackDualPanes ? 2 : 1;
    }
    for (int c = 0; c < cols; ++c)
        grid->setColumnStretch(c, 1);
    for (int r = 0; r < rows; ++r)
        grid->setRowStretch(r, 1);
    if (n == 0)
        return;

    int cell = 0;
    for (int k = 0; k < n; ++k) {
        QWidget* w = m_panels[k].panel.data();
        if (!w)
            continue;
        const bool visible = paneVisible(k, n, currentTab, layoutMode);
        if (w->parentWidget() != gridArea)
            w->setParent(gridArea);
        if (visible && cell < cols * rows) {
            grid->addWidget(w, cell / cols, cell % cols);
            ++cell;
            w->show();
        } else {
            w->hide();
        }
    }
}

ButtonGrid* MainWindow::gridForTab(int i) const
{
    if (i < 0 || i >= m_panels.size())
        return nullptr;
    return m_panels[i].grid.data();
}

ButtonGrid* MainWindow::currentGrid() const
{
    return gridForTab(currentTab);
}
