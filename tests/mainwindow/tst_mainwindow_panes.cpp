// Pane layout, tab strip and the grid panes' headers of the main window.
#include <QComboBox>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QShortcut>
#include <QFontDatabase>
#include <QtTest>

#include <algorithm>
#include <memory>

#include "AudioEngine.h"
#include "ButtonGrid.h"
#include "GridHeader.h"
#include "MainWindow.h"
#include "MainWindowTestAccess.h"
#include "MidiManager.h"
#include "SessionManager.h"
#include "SoundButton.h"
#include "VXIcons.h"

using A = MainWindowTestAccess;

namespace {

// Loads a session of n tabs with the given current tab and layout mode.
// Whether any installed font family has a glyph for the code point.
bool anyFontHas(char32_t cp)
{
    for (const QString& family : QFontDatabase::families())
        if (QFontMetrics(QFont(family)).inFontUcs4(cp))
            return true;
    return false;
}

void loadTabs(int n, int active, int mode, const QStringList& names = {})
{
    Session s = MainWindowTest::makeSession(n, 24);
    for (int i = 0; i < names.size() && i < n; ++i)
        s.tabs[i].name = names[i];
    s.activeTab = active;
    s.layoutMode = mode;
    s.buttonsPerTab = 24;
    const QString path = QDir(TestSupport::tempDir()).filePath(QStringLiteral("s.vx"));
    QVERIFY(MainWindowTest::writeSession(s, path));
    QVERIFY(SessionManager::instance()->loadSession(path));
}

// Indices of the panes in the grid area's layout, in cell order.
QList<int> panesInCells(MainWindow* w)
{
    auto* grid = qobject_cast<QGridLayout*>(A::gridArea(w)->layout());
    QList<int> out;
    if (!grid)
        return out;
    const int cols = grid->columnCount();
    QMap<int, int> byCell;
    for (int i = 0; i < grid->count(); ++i) {
        int r, c, rs, cs;
        grid->getItemPosition(i, &r, &c, &rs, &cs);
        QWidget* pane = grid->itemAt(i)->widget();
        for (int k = 0; k < A::panels(w).size(); ++k)
            if (A::panels(w)[k].panel.data() == pane)
                byCell.insert(r * cols + c, k);
    }
    return byCell.values();
}

QList<int> visiblePanes(MainWindow* w)
{
    QList<int> out;
    for (int k = 0; k < A::panels(w).size(); ++k)
        if (!A::panels(w)[k].panel->isHidden())
            out << k;
    return out;
}

QShortcut* shortcutFor(MainWindow* w, const QString& keys)
{
    for (QShortcut* s : w->findChildren<QShortcut*>())
        if (s->key() == QKeySequence(keys))
            return s;
    return nullptr;
}

} // namespace

class TestMainWindowPanes : public QObject
{
    Q_OBJECT
    MainWindow* w = nullptr;

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        w = new MainWindow;
        w->resize(1400, 900);
        w->show();
    }
    void cleanupTestCase() { delete w; }

    // Until the window first shows, panes make no pads; at the show the
    // panes on screen have theirs, and the hidden ones follow a grid per
    // event loop turn. Loads after that make every pane's pads at once.
    void padsOfHiddenPanesWaitForTheFirstShow_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("one pane") << 1;
        QTest::newRow("two panes") << 2;
        QTest::newRow("four panes") << 4;
    }
    void padsOfHiddenPanesWaitForTheFirstShow()
    {
        QFETCH(int, mode);
        auto fresh = std::make_unique<MainWindow>();
        fresh->resize(1400, 900);
        loadTabs(8, 3, mode);
        const QList<MainWindow::GridPanel>& panels = A::panels(fresh.get());
        QCOMPARE(panels.size(), 8);
        for (const MainWindow::GridPanel& p : panels) {
            QVERIFY(p.grid->padsPending());
            QCOMPARE(p.grid->findChildren<SoundButton*>().size(), 0);
        }
        fresh->show();
        QVERIFY(QTest::qWaitForWindowExposed(fresh.get()));
        const QList<int> shown = visiblePanes(fresh.get());
        QVERIFY(!shown.isEmpty());
        for (int k : shown)
            QVERIFY(!panels[k].grid->padsPending());
        QTRY_VERIFY(std::none_of(panels.cbegin(), panels.cend(),
                                 [](const MainWindow::GridPanel& p) { return p.grid->padsPending(); }));
        const Session& session = SessionManager::instance()->session();
        for (const MainWindow::GridPanel& p : panels) {
            QCOMPARE(p.grid->findChildren<SoundButton*>().size(), 24);
            QCOMPARE(p.grid->buttonWidget(23)->buttonData().id, session.tabs[p.tabIndex].buttons[23].id);
        }

        loadTabs(5, 0, mode);
        for (const MainWindow::GridPanel& p : A::panels(fresh.get()))
            QVERIFY(!p.grid->padsPending());
        loadTabs(1, 0, 1);   // leave the shared window a small session
    }

    void paneRule_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("current");
        QTest::addColumn<int>("mode");
        QTest::addColumn<QList<int>>("visible");
        QTest::newRow("one pane") << 3 << 1 << 1 << QList<int>{1};
        QTest::newRow("two panes wrap") << 3 << 2 << 2 << QList<int>{0, 2};
        QTest::newRow("four panes, two tabs") << 2 << 1 << 4 << QList<int>{0, 1};
        QTest::newRow("four panes, six tabs") << 6 << 4 << 4 << QList<int>{0, 1, 4, 5};
        QTest::newRow("unknown mode is one") << 4 << 2 << 3 << QList<int>{2};
    }
    void paneRule()
    {
        QFETCH(int, n);
        QFETCH(int, current);
        QFETCH(int, mode);
        QFETCH(QList<int>, visible);
        QList<int> got;
        for (int k = 0; k < n; ++k)
            if (MainWindow::paneVisible(k, n, current, mode))
                got << k;
        QCOMPARE(got, visible);
    }

    // The rule as the grid area shows it: which panes, in which cells.
    void paneLayoutInTheGridArea()
    {
        A::stackDualPanes(w) = true;
        loadTabs(3, 2, 2);
        QCOMPARE(w->currentLayoutMode(), 2);
        QCOMPARE(visiblePanes(w), (QList<int>{0, 2}));
        QCOMPARE(panesInCells(w), (QList<int>{0, 2}));   // tab 0 in the first cell
        auto* grid = qobject_cast<QGridLayout*>(A::gridArea(w)->layout());
        int r, c, rs, cs;
        grid->getItemPosition(1, &r, &c, &rs, &cs);
        QCOMPARE(QPoint(c, r), QPoint(0, 1));             // stacked: second row
        QVERIFY(A::stackButton(w)->isVisibleTo(w));

        A::stackDualPanes(w) = false;
        w->rebuildPaneLayout();
        grid = qobject_cast<QGridLayout*>(A::gridArea(w)->layout());
        grid->getItemPosition(1, &r, &c, &rs, &cs);
        QCOMPARE(QPoint(c, r), QPoint(1, 0));             // side by side

        loadTabs(6, 4, 4);
        QCOMPARE(panesInCells(w), (QList<int>{0, 1, 4, 5}));
        QVERIFY(!A::stackButton(w)->isVisibleTo(w));
        QVERIFY(A::layoutButtons(w)[2]->isChecked());

        loadTabs(2, 0, 4);
        QCOMPARE(visiblePanes(w), (QList<int>{0, 1}));
        grid = qobject_cast<QGridLayout*>(A::gridArea(w)->layout());
        grid->getItemPosition(1, &r, &c, &rs, &cs);
        QCOMPARE(QPoint(c, r), QPoint(1, 0));             // both in the top row

        loadTabs(6, 3, 4);
        w->setGridLayout(1);
        QCOMPARE(visiblePanes(w), QList<int>{3});
        QVERIFY(!A::stackButton(w)->isVisibleTo(w));

        w->setGridLayout(3);
        QCOMPARE(visiblePanes(w), QList<int>{3});
        for (QPushButton* b : A::layoutButtons(w))
            QVERIFY(!b->isChecked());

        QCOMPARE(w->gridForTab(-1), nullptr);
        QCOMPARE(w->gridForTab(6), nullptr);
        QCOMPARE(w->gridForTab(5), A::panels(w)[5].grid.data());
        QCOMPARE(w->currentGrid(), A::panels(w)[3].grid.data());
    }

    void tabStripButtons()
    {
        loadTabs(3, 1, 1, {QStringLiteral("A very long tab name that will not fit"), QStringLiteral("B"),
                           QStringLiteral("Jingles")});
        const QList<QPushButton*>& buttons = A::tabButtons(w);
        QCOMPARE(buttons.size(), 3);
        QCOMPARE(buttons[0]->width(), sc(160));
        QCOMPARE(buttons[0]->toolTip(), QStringLiteral("A very long tab name that will not fit"));
        QCOMPARE(buttons[1]->width(), sc(55));
        QCOMPARE(buttons[2]->text(), QStringLiteral("● Jingles"));
        QVERIFY(buttons[2]->width() > sc(55) && buttons[2]->width() < sc(160));
        QVERIFY(buttons[1]->isChecked());
        QVERIFY(!buttons[0]->isChecked() && !buttons[2]->isChecked());
        auto* add = A::tabStrip(w)->findChild<QPushButton*>(QStringLiteral("addTabInStrip"));
        QVERIFY(add);
        QCOMPARE(add->toolTip(), QStringLiteral("Add Tab  (Ctrl+T)"));

        // A click selects the tab without making the session dirty.
        SessionManager::instance()->setDirty(false);
        buttons[2]->click();
        QCOMPARE(w->currentTabIndex(), 2);
        QCOMPARE(SessionManager::instance()->session().activeTab, 2);
        QVERIFY(A::tabButtons(w)[2]->isChecked());
        QVERIFY(!SessionManager::instance()->isDirty());
    }

    void tabKeys_data()
    {
        QTest::addColumn<int>("tabs");
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("keys");
        QTest::addColumn<int>("expected");
        QTest::newRow("Ctrl+5 of three") << 3 << 0 << "Ctrl+5" << 1;
        QTest::newRow("Ctrl+4 of three") << 3 << 2 << "Ctrl+4" << 0;
        QTest::newRow("next wraps") << 3 << 2 << "Ctrl+Tab" << 0;
        QTest::newRow("previous wraps") << 3 << 0 << "Ctrl+Shift+Tab" << 2;
        QTest::newRow("next with one tab") << 1 << 0 << "Ctrl+Tab" << 0;
        QTest::newRow("previous with one tab") << 1 << 0 << "Ctrl+Shift+Tab" << 0;
    }
    void tabKeys()
    {
        QFETCH(int, tabs);
        QFETCH(int, current);
        QFETCH(QString, keys);
        QFETCH(int, expected);
        loadTabs(tabs, current, 1);
        QShortcut* sc = shortcutFor(w, keys);
        QVERIFY(sc);
        QCOMPARE(sc->context(), Qt::ApplicationShortcut);
        emit sc->activated();
        QCOMPARE(w->currentTabIndex(), expected);
        QCOMPARE(SessionManager::instance()->session().activeTab, expected);
        QVERIFY(A::tabButtons(w)[expected]->isChecked());
        QCOMPARE(visiblePanes(w), QList<int>{expected});
    }

    void renameFromTabMenu()
    {
        loadTabs(3, 0, 1);
        QStringList entries;
        auto renameTo = [&](const QVariant& answer) {
            TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
                if (r.kind == Modal::Kind::Menu) {
                    for (QAction* a : r.menu->actions())
                        entries << a->text();
                    for (QAction* a : r.menu->actions())
                        if (a->text() == QLatin1String("Rename"))
                            return QVariant::fromValue(a);
                    return {};
                }
                if (r.kind == Modal::Kind::Text) {
                    [&] { QCOMPARE(r.title, QStringLiteral("Rename Tab")); }();
                    return answer;
                }
                return {};
            });
            QPushButton* b = A::tabButtons(w)[1];
            emit b->customContextMenuRequested(QPoint(2, 2));
        };
        renameTo(QString());
        // Every sign of the menu's entries is drawn by an installed font.
        QVERIFY(entries.contains(QStringLiteral("❏ Duplicate")));
        for (const QString& entry : entries)
            for (char32_t cp : entry.toUcs4())
                QVERIFY2(cp < 0x80 || QChar::category(cp) == QChar::Mark_NonSpacing || cp == 0xFE0F || anyFontHas(cp),
                         qPrintable(QStringLiteral("U+%1 in \"%2\"").arg(uint(cp), 4, 16, QLatin1Char('0')).arg(entry)));
        QCOMPARE(SessionManager::instance()->session().tabs[1].name, QStringLiteral("Tab 2"));
        QVERIFY(!SessionManager::instance()->isDirty());
        renameTo(QVariant());   // cancelled
        QCOMPARE(SessionManager::instance()->session().tabs[1].name, QStringLiteral("Tab 2"));
        renameTo(QStringLiteral("   "));
        QCOMPARE(SessionManager::instance()->session().tabs[1].name, QStringLiteral("   "));
        QVERIFY(SessionManager::instance()->isDirty());
        QCOMPARE(A::tabButtons(w)[1]->toolTip(), QStringLiteral("   "));
        QCOMPARE(A::panels(w)[1].header->nameLabel()->text(), QStringLiteral("   "));
        // The menu acted on tab 1; the current tab is still the one the strip shows.
        QCOMPARE(w->currentTabIndex(), 0);
        QVERIFY(A::tabButtons(w)[0]->isChecked());

        // A dismissed menu changes nothing: the strip, the current tab and
        // the next Ctrl+Tab all go on from tab 0.
        {
            TestSupport::ModalScript script([](const Modal::Request&) { return QVariant(); });
            emit A::tabButtons(w)[2]->customContextMenuRequested(QPoint(2, 2));
        }
        QCOMPARE(w->currentTabIndex(), 0);
        QVERIFY(A::tabButtons(w)[0]->isChecked());
        emit shortcutFor(w, QStringLiteral("Ctrl+Tab"))->activated();
        QCOMPARE(w->currentTabIndex(), 1);
    }

    void headerChooserRetargetsItsPane()
    {
        loadTabs(3, 0, 2);
        SessionManager* sm = SessionManager::instance();
        sm->session().tabs[2].name = QStringLiteral("Third");
        GridHeader* h = A::panels(w)[0].header;
        emit h->tabSwitchRequested(2);
        QCOMPARE(A::panels(w)[0].tabIndex, 2);
        QCOMPARE(A::panels(w)[0].grid->tab().id, sm->session().tabs[2].id);
        QCOMPARE(h->nameLabel()->text(), QStringLiteral("Third"));
        QCOMPARE(h->tabCombo()->currentIndex(), 2);
        QCOMPARE(w->currentTabIndex(), 2);
        QCOMPARE(sm->session().activeTab, 2);
        QVERIFY(!sm->isDirty());

        emit h->tabSwitchRequested(7);   // no such tab: nothing moves
        QCOMPARE(A::panels(w)[0].tabIndex, 2);

        // A pane whose tab index is past the last tab selects the last name.
        A::panels(w)[1].tabIndex = 9;
        w->rebuildTabStrip();
        QCOMPARE(A::panels(w)[1].header->tabCombo()->currentIndex(), 2);
    }

    // Every header signal edits the tab its pane shows when the signal comes,
    // not the tab the pane was built for.
    void headerHandlersActOnTheShownTab()
    {
        loadTabs(2, 0, 2);
        SessionManager* sm = SessionManager::instance();
        const TabData before0 = sm->session().tabs[0];
        GridHeader* h = A::panels(w)[0].header;
        emit h->tabSwitchRequested(1);
        QCOMPARE(A::panels(w)[0].tabIndex, 1);

        emit h->fadeChanged(750);
        emit h->stopShortcutChanged(QStringLiteral("F5"));
        emit h->stopMidiNoteChanged(60);
        emit h->volShortcutChanged(QStringLiteral("F7"), QStringLiteral("F8"));
        emit h->volMidiCCChanged(7);
        emit h->deviceChanged(QStringLiteral("dev-1"));
        emit h->volumeChanged(0.4);
        const TabData& t1 = sm->session().tabs[1];
        QCOMPARE(t1.fadeMs, 750.0);
        QCOMPARE(t1.stopKey, QStringLiteral("F5"));
        QCOMPARE(t1.stopMidi, 60);
        QCOMPARE(t1.volUpKey, QStringLiteral("F7"));
        QCOMPARE(t1.volDnKey, QStringLiteral("F8"));
        QCOMPARE(t1.volCC, 7);
        QCOMPARE(t1.soundCard, QStringLiteral("dev-1"));
        QCOMPARE(t1.volume, 0.4);
        QCOMPARE(AudioEngine::instance()->tabVolume(1), 0.4);
        QVERIFY(sm->isDirty());
        // Tab 0 is untouched.
        QCOMPARE(sm->session().tabs[0].fadeMs, before0.fadeMs);
        QCOMPARE(sm->session().tabs[0].stopKey, before0.stopKey);
        QCOMPARE(sm->session().tabs[0].volume, before0.volume);
        QCOMPARE(sm->session().tabs[0].soundCard, before0.soundCard);
        // Pane 1 shows tab 1 too: its slider follows without a second change.
        QCOMPARE(A::panels(w)[1].header->m_volSlider->value(), 40);

        emit h->midiLearnRequested(QStringLiteral("__tab_stop__"));
        QVERIFY(MidiManager::instance()->isLearning());
        QCOMPARE(MidiManager::instance()->learnTarget(), QStringLiteral("__tab_stop_1__"));
        MidiManager::instance()->stopLearn();
        emit h->midiLearnRequested(QStringLiteral("__tab_vol__"));
        QCOMPARE(MidiManager::instance()->learnTarget(), QStringLiteral("__tab_vol_1__"));
        MidiManager::instance()->stopLearn();

        A::currentTab(w) = 0;
        {
            // The dialog it opens is cancelled (the session then has no file to save to).
            TestSupport::ModalScript cancel([](const Modal::Request&) { return QVariant(); });
            emit h->playbackSettingsRequested();
        }
        QCOMPARE(w->currentTabIndex(), 1);

        // Stop Tab reaches the pane's grid, which now shows tab 1.
        ButtonGrid* g = A::panels(w)[0].grid;
        g->buttonWidget(0)->setPlaying(true);
        h->setPlaying(true);
        emit h->stopClicked();
        QVERIFY(!g->buttonWidget(0)->isPlaying());
    }
};

QTEST_MAIN(TestMainWindowPanes)
#include "tst_mainwindow_panes.moc"
