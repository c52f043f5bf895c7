// Tab commands (new, duplicate, rename, delete), the per-tab stop and volume
// keys, and the grid's column, row and button counts.
#include "MainWindow.h"

#include <QFileInfo>
#include <QKeySequence>
#include <QMessageBox>
#include <QShortcut>
#include <QSignalBlocker>
#include <QSlider>
#include <QSpinBox>
#include <algorithm>
#include <cmath>

#include "AppSettings.h"
#include "ButtonGrid.h"
#include "GridHeader.h"
#include "MidiManager.h"
#include "Modal.h"
#include "RecordId.h"
#include "SessionManager.h"
#include "SoundButton.h"
#include "TabKeys.h"
#include "ThemeManager.h"

namespace {

constexpr int kMaxTabs = 16;
constexpr int kVolumeKeyStep = 5;
constexpr int kMaxVolumeKeyPercent = 100; // the fader's top

// A grid just built for tab `built` takes the session's button count before
// the tab's records (as a grid made for that count would); its padded list
// (ids made) is then the tab's own.
void fitGrid(ButtonGrid* grid, const TabData& built, TabData& tab, int perTab)
{
    if (!grid)
        return;
    if (grid->buttonsPerTab() != perTab) {
        grid->setButtonsPerTab(perTab);
        // A smaller count than the builder's had the list padded beyond it.
        if (grid->tab().buttons.size() != built.buttons.size())
            grid->setTab(built);
    }
    tab.buttons = grid->tab().buttons;
}

} // namespace

void MainWindow::onAddTab()
{
    SessionManager* sm = SessionManager::instance();
    Session& s = sm->session();
    if (s.tabs.size() >= kMaxTabs) {
        Modal::information(this, QStringLiteral("Tab Limit Reached"),
                           QStringLiteral("Tarvello Rododu supports up to 16 tabs per session.\n"
                                          "Delete an existing tab to add a new one."),
                           QMessageBox::Ok);
        return;
    }
    toast(QStringLiteral("➕  New tab added"), ToastManager::Info, 1800);

    const int index = int(s.tabs.size());
    const int perTab = validButtonsPerTab(s.buttonsPerTab);
    TabData t;
    t.id = RecordId::make();
    t.name = QStringLiteral("Tab %1").arg(index + 1);
    t.color = ThemeManager::vibrantColor(index);
    t.buttons.reserve(perTab);
    for (int i = 0; i < perTab; ++i) {
        ButtonData b;
        b.id = RecordId::make();
        t.buttons.append(b);
    }
    s.tabs.append(t);

    buildPanelForTab(index, t);
    fitGrid(m_panels.last().grid, t, s.tabs[index], perTab);
    currentTab = int(m_panels.size()) - 1;
    s.activeTab = currentTab;

    sm->markDirty();
    rebuildTabStrip();
    refreshTabDerivedState();
}

void MainWindow::onDuplicateTab()
{
    duplicateTab(currentTab);
}

void MainWindow::duplicateTab(int c)
{
    SessionManager* sm = SessionManager::instance();
    Session& s = sm->session();
    if (c < 0 || c >= s.tabs.size())
        return;
    // No limit here: a copy may take the session past 16 tabs.
    TabData copy = s.tabs[c];
    RecordId::renew(copy);
    copy.name += QStringLiteral(" (Copy)");
    copy.color = ThemeManager::vibrantColor(int(s.tabs.size()));
    // A tab key or MIDI note held by two tabs fires neither: the copy starts
    // without them and the source keeps its own.
    copy.stopKey.clear();
    copy.volUpKey.clear();
    copy.volDnKey.clear();
    copy.stopMidi = -1;
    copy.volCC = -1;
    const int at = c + 1;
    s.tabs.insert(at, copy);

    buildPanelForTab(at, copy);
    const int pos = qMin(at, int(m_panels.size()) - 1);
    placeNewPanelAt(pos);
    fitGrid(m_panels[pos].grid, copy, s.tabs[at], validButtonsPerTab(s.buttonsPerTab));
    currentTab = pos;
    s.activeTab = at;

    retargetTabMidi(at, +1, -1);
    sm->markDirty();
    rebuildTabStrip();
    refreshTabDerivedState();
}

void MainWindow::onRenameTab()
{
    renameTab(currentTab);
}

void MainWindow::renameTab(int i)
{
    SessionManager* sm = SessionManager::instance();
    if (i < 0 || i >= sm->session().tabs.size())
        return;
    bool ok = false;
    const QString text = Modal::getText(this, QStringLiteral("Rename Tab"), QStringLiteral("Tab name:"),
                                        sm->session().tabs[i].name, &ok);
    // Not trimmed: blanks only are a name too.
    if (!ok || text.isEmpty() || i >= sm->session().tabs.size())
        return;
    sm->session().tabs[i].name = text;
    for (const GridPanel& p : std::as_const(m_panels))
        if (p.tabIndex == i && p.header)
            p.header->setTabName(text);
    sm->markDirty();
    rebuildTabStrip();
}

void MainWindow::onDeleteTab()
{
    deleteTab(currentTab);
}

void MainWindow::deleteTab(int c)
{
    if (m_panels.size() < 2) {
        Modal::warning(this, QStringLiteral("Cannot Delete"), QStringLiteral("You must have at least one tab."),
                       QMessageBox::Ok);
        return;
    }
    SessionManager* sm = SessionManager::instance();
    Session& s = sm->session();
    const bool isTab = c >= 0 && c < s.tabs.size();
    const QString name = isTab ? s.tabs[c].name : QStringLiteral("?");
    if (Modal::question(this, QStringLiteral("Delete Tab"), QStringLiteral("Delete tab '%1'?").arg(name),
                        QMessageBox::Yes | QMessageBox::No)
        != QMessageBox::Yes)
        return;
    if (c < 0 || c >= m_panels.size())
        return;

    // Its sounds stop first: once the tab is gone, no button, key or stop
    // would reach them again.
    if (isTab)
        stopTab(c);

    const GridPanel gone = m_panels.takeAt(c);
    if (QWidget* w = gone.panel.data()) {
        w->setParent(nullptr);
        delete w;
    }
    if (isTab)
        s.tabs.removeAt(c);

    currentTab = qMax(0, qMin(c - 1, int(m_panels.size()) - 1));
    const int lastTab = int(s.tabs.size()) - 1;
    for (int p = 0; p < m_panels.size(); ++p) {
        GridPanel& pane = m_panels[p];
        if (pane.tabIndex > c) {
            --pane.tabIndex;
        } else if (pane.tabIndex == c) {
            // A pane that was pointed at the deleted tab shows its neighbour.
            pane.tabIndex = qMax(0, isTab ? c - 1 : lastTab);
            if (pane.tabIndex <= lastTab) {
                const TabData& t = s.tabs[pane.tabIndex];
                if (pane.grid)
                    pane.grid->setTab(t);
                if (pane.header) {
                    pane.header->setTabName(t.name);
                    pane.header->setTabColor(t.color.isValid() ? t.color
                                                               : ThemeManager::vibrantColor(pane.tabIndex));
                }
                restoreButtonPlayingStates(p);
                syncPanelHeaderToTab(p);
            }
        }
    }
    s.activeTab = qMin(currentTab, qMax(0, lastTab));

    if (isTab)
        retargetTabMidi(c + 1, -1, c);
    sm->markDirty();
    rebuildTabStrip();
    refreshTabDerivedState();
    toast(QStringLiteral("🗑️  Tab deleted"), ToastManager::Warning, 1800);
}

void MainWindow::placeNewPanelAt(int pos)
{
    if (m_panels.isEmpty())
        return;
    const int last = int(m_panels.size()) - 1;
    const int tab = m_panels[last].tabIndex;
    if (pos < last) {
        for (int p = 0; p < last; ++p)
            if (m_panels[p].tabIndex >= tab)
                ++m_panels[p].tabIndex;
    }
    m_panels.move(last, qBound(0, pos, last));
}

void MainWindow::retargetTabMidi(int from, int delta, int removed)
{
    static const QLatin1String prefixes[] = {QLatin1String("__tab_stop_"), QLatin1String("__tab_vol_")};
    bool changed = false;
    // Moves the tab number of a reserved target; false when it names tab `removed`.
    auto retarget = [&](QString& target) {
        for (const QLatin1String& prefix : prefixes) {
            const int n = parseTabTarget(target, prefix);
            if (n < 0)
                continue;
            if (n == removed) {
                changed = true;
                return false;
            }
            if (n >= from) {
                target = prefix + QString::number(n + delta) + QStringLiteral("__");
                changed = true;
            }
            return true;
        }
        return true;
    };
    MidiManager* mm = MidiManager::instance();
    const QList<MidiMapping> all = mm->allMappings();
    QList<MidiMapping> kept;
    kept.reserve(all.size());
    for (MidiMapping m : all) {
        const bool keepButton = retarget(m.buttonId);
        const bool keepControl = retarget(m.control);
        if (keepButton && keepControl)
            kept.append(m);
    }
    if (changed)
        mm->replaceMappings(kept);

    // A learn armed on a tab binds that tab whenever its note comes: it
    // follows the tab, and ends when the tab is gone.
    if (!mm->isLearning())
        return;
    QString target = mm->learnTarget();
    if (!retarget(target)) {
        mm->stopLearn();
        toast(QStringLiteral("🎹  MIDI Learn cancelled — its tab was deleted"), ToastManager::Warning, 3000);
    } else if (target != mm->learnTarget()) {
        mm->startLearn(target);
    }
}

// --- Tab stop and volume keys ------------------------------------------------------

namespace {

void dropShortcuts(QList<QShortcut*>& list)
{
    for (QShortcut* shortcut : std::as_const(list)) {
        shortcut->setEnabled(false);
        shortcut->deleteLater();
    }
    list.clear();
}

} // namespace

void MainWindow::registerTabStopShortcuts()
{
    dropShortcuts(tabStopShortcuts);
    // One shortcut per key: two shortcuts of one key would each leave the
    // key to the other and stop nothing, so a key that a file gives to
    // several tabs stops them all.
    QList<QKeySequence> keys;
    QList<QList<int>> owners;
    const QList<TabData>& tabs = SessionManager::instance()->session().tabs;
    for (int t = 0; t < tabs.size(); ++t) {
        const QKeySequence seq = TabKeys::sequenceOf(tabs[t].stopKey);
        if (seq.isEmpty())
            continue;
        const qsizetype at = keys.indexOf(seq);
        if (at >= 0) {
            owners[at].append(t);
            continue;
        }
        keys.append(seq);
        owners.append(QList<int>{t});
    }
    for (qsizetype k = 0; k < keys.size(); ++k) {
        auto* shortcut = new QShortcut(keys[k], this);
        shortcut->setContext(Qt::ApplicationShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, stops = owners[k]] {
            for (int t : stops)
                if (t < SessionManager::instance()->session().tabs.size())
                    stopTab(t);
        });
        tabStopShortcuts.append(shortcut);
    }
}

void MainWindow::claimTabStopKey(int tab, const QString& key)
{
    const QKeySequence seq = TabKeys::sequenceOf(key);
    QList<TabData>& tabs = SessionManager::instance()->session().tabs;
    if (seq.isEmpty() || tab < 0 || tab >= tabs.size())
        return;
    for (int u = 0; u < tabs.size(); ++u) {
        if (u == tab || TabKeys::sequenceOf(tabs[u].stopKey) != seq)
            continue;
        tabs[u].stopKey.clear();
        for (const GridPanel& p : std::as_const(m_panels)) {
            if (p.tabIndex != u || !p.header)
                continue;
            p.header->m_stopKey.clear();
            p.header->stopButton()->setToolTip(QString());
        }
        toast(QStringLiteral("⌨️  Stop key %1 moved from tab '%2'").arg(key, tabs[u].name), ToastManager::Info,
              2500);
    }
}

namespace {

// Two key sequences one series of presses can reach: equal, or one the
// start of the other.
bool keysMeet(const QKeySequence& a, const QKeySequence& b)
{
    return a.matches(b) != QKeySequence::NoMatch || b.matches(a) != QKeySequence::NoMatch;
}

} // namespace

QString MainWindow::tabKeyHolder(int tab, TabKey kind, const QString& key) const
{
    const QKeySequence seq = TabKeys::sequenceOf(key);
    if (seq.isEmpty())
        return {};
    // The window's own commands, as the window has them now.
    for (const KeyHolder& h : windowKeyMap()) {
        const bool meets = h.anyModifiers ? seq[0].key() == h.keys[0].key() : keysMeet(seq, h.keys);
        if (meets)
            return QStringLiteral("\"%1\"").arg(h.name);
    }
    const Session& s = SessionManager::instance()->session();
    // A button's key: only the buttons the pads show play by theirs.
    if (const QString own = TabKeys::buttonKeyOf(seq); !own.isEmpty()) {
        const qsizetype shown = validButtonsPerTab(s.buttonsPerTab);
        for (int u = 0; u < s.tabs.size(); ++u) {
            const TabData& t = s.tabs[u];
            for (qsizetype i = 0; i < std::min(shown, t.buttons.size()); ++i) {
                const ButtonData& b = t.buttons[i];
                if (b.key == own)
                    return TabKeys::buttonHolderName(b, TabKeys::tabLabel(s.tabs, u));
            }
        }
    }
    // The other tab keys: two shortcuts of one key would each leave it to
    // the other. Another tab's stop key is not one: a stop key moves.
    for (int u = 0; u < s.tabs.size(); ++u) {
        for (const TabKey other : TabKeys::kAllKinds) {
            if ((u == tab && other == kind) || (kind == TabKey::Stop && other == TabKey::Stop))
                continue;
            const QKeySequence held = TabKeys::sequenceOf(TabKeys::keyOf(s.tabs[u], other));
            if (!held.isEmpty() && keysMeet(seq, held))
                return TabKeys::holderName(other, TabKeys::tabLabel(s.tabs, u));
        }
    }
    return {};
}

bool MainWindow::refuseTabKey(GridHeader* header, int tab, TabKey kind, QString key)
{
    const QList<TabData>& tabs = SessionManager::instance()->session().tabs;
    // The key the tab has is never refused, whatever gave it.
    if (tab < 0 || tab >= tabs.size() || key.isEmpty() || key == TabKeys::keyOf(tabs[tab], kind))
        return false;
    const QKeySequence seq = TabKeys::sequenceOf(key);
    QString why;
    if (seq.isEmpty()) {
        why = QStringLiteral("\"%1\" names no key: it would do nothing.\n\nWrite a key as the examples show it, "
                             "with \"+\" between the modifiers and the key.")
                  .arg(key);
    } else if (const QString holder = tabKeyHolder(tab, kind, key); !holder.isEmpty()) {
        why = TabKeys::refusalText(seq.toString(QKeySequence::NativeText), holder);
    } else {
        return false;
    }
    // The header shows the keys the tab keeps.
    header->m_stopKey = tabs[tab].stopKey;
    header->m_volUpKey = tabs[tab].volUpKey;
    header->m_volDnKey = tabs[tab].volDnKey;
    const QString title = kind == TabKey::Stop       ? QStringLiteral("Assign Keyboard Shortcut")
                          : kind == TabKey::VolumeUp ? QStringLiteral("Volume Up Shortcut")
                                                     : QStringLiteral("Volume Down Shortcut");
    Modal::warning(this, title, why);
    return true;
}

void MainWindow::registerTabVolShortcuts()
{
    dropShortcuts(tabVolShortcuts);
    const QList<TabData>& tabs = SessionManager::instance()->session().tabs;
    for (int t = 0; t < tabs.size(); ++t) {
        const std::pair<const QString*, int> keys[] = {{&tabs[t].volUpKey, +kVolumeKeyStep},
                                                        {&tabs[t].volDnKey, -kVolumeKeyStep}};
        for (const auto& [key, step] : keys) {
            if (key->isEmpty())
                continue;
            const QKeySequence seq = TabKeys::sequenceOf(*key);
            if (seq.isEmpty())
                continue;
            auto* shortcut = new QShortcut(seq, this);
            shortcut->setContext(Qt::ApplicationShortcut);
            connect(shortcut, &QShortcut::activated, this, [this, t, step = step] { stepTabVolume(t, step); });
            tabVolShortcuts.append(shortcut);
        }
    }
}

// A tab volume key moves the tab's fader by a step: the tab volume changes
// and the sounds that play follow it, while every button keeps its own
// volume. A tab that no pane shows changes all the same.
void MainWindow::stepTabVolume(int t, int step)
{
    const QList<TabData>& tabs = SessionManager::instance()->session().tabs;
    if (t < 0 || t >= tabs.size())
        return;
    const int now = int(std::lround(tabs[t].volume * 100.0));
    const int next = qBound(0, now + step, kMaxVolumeKeyPercent);
    if (next != now)
        applyMidiTabVolume(t, next / 100.0);
}

void MainWindow::setGridShape(void (ButtonGrid::*set)(int), int value, const char* key, int Session::*field)
{
    // The session keeps the choice, so every save writes it; a new value is
    // a change (a load passes the session's own value: no change).
    SessionManager* sm = SessionManager::instance();
    if (sm->session().*field != value) {
        sm->session().*field = value;
        sm->markDirty();
    }
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (p.grid) {
            (p.grid->*set)(value);
            p.grid->layoutButtons();
        }
    }
    AppSettings s;
    s.setValue(QString::fromLatin1(key), value);
    // The Grid menu's box shows the value in force (a load sets it too),
    // without running its handler again.
    QSpinBox* box = set == &ButtonGrid::setColumns ? colsSpin : rowsSpin;
    if (box && box->value() != value) {
        const QSignalBlocker block(box);
        box->setValue(value);
    }
}

void MainWindow::onColumnsChanged(int cols)
{
    setGridShape(&ButtonGrid::setColumns, cols, "grid/cols", &Session::gridCols);
}

void MainWindow::onRowsChanged(int rows)
{
    setGridShape(&ButtonGrid::setRows, rows, "grid/rows", &Session::gridRows);
}

void MainWindow::setButtonsPerTab(int n)
{
    SessionManager* sm = SessionManager::instance();
    Session& s = sm->session();
    // Tabs grow to n; records beyond n stay in the session, unseen.
    for (TabData& t : s.tabs) {
        while (t.buttons.size() < n) {
            ButtonData b;
            b.id = RecordId::make();
            t.buttons.append(b);
        }
    }
    s.buttonsPerTab = n;
    for (const GridPanel& p : std::as_const(m_panels)) {
        if (!p.grid)
            continue;
        p.grid->setButtonsPerTab(n);
        const int t = std::max(p.tabIndex, 0);
        if (t < s.tabs.size())
            p.grid->setTab(s.tabs[t]);
    }
    sm->markDirty();
    // The keys follow what the pads show now.
    refreshTabDerivedState();
    updateStatusBar();
}
