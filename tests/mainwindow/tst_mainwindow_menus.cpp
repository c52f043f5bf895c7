// The toolbar's menus and what their entries and keys reach: the collapse of
// the menu buttons, the playback rules, the grid size, buttons per tab, the
// button search, the record clock, the shortcuts dialog and the status bar,
// the About box, Help, the master volume's menu and the debug key.
#include <QAction>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSpinBox>
#include <QTextBlock>
#include <QTextDocument>
#include <QWidgetAction>
#include <QtTest>

#include "AppSettings.h"
#include "ButtonGrid.h"
#include "MainWindow.h"
#include "MainWindowTestAccess.h"
#include "MidiManager.h"
#include "MonoClock.h"
#include "SessionManager.h"
#include "ShortcutsDialog.h"
#include "SoundButton.h"
#include "ThemeManager.h"
#include "UrlCatcher.h"
#include "VXIcons.h"

using A = MainWindowTestAccess;

namespace {

using MainWindowTest::findAction;

QStringList entries(QMenu* m)
{
    QStringList out;
    for (QAction* a : m->actions()) {
        if (a->isSeparator())
            out << QStringLiteral("-");
        else if (!a->text().isEmpty())
            out << a->text() + (a->shortcut().isEmpty() ? QString() : QStringLiteral(" [%1]").arg(a->shortcut().toString()));
    }
    return out;
}

bool toastSeen(const QString& text)
{
    for (const ToastManager::Pending& p : ToastManager::instance()->queue())
        if (p.text == text)
            return true;
    ToastWidget* t = ToastManager::instance()->current();
    return t && t->textLabel()->text() == text;
}

// The pads of a grid that the filter leaves shown.
int shownPads(ButtonGrid* g)
{
    int n = 0;
    for (int i = 0; i < g->buttonCount(); ++i)
        n += g->buttonWidget(i)->isHidden() ? 0 : 1;
    return n;
}

} // namespace

class TestMainWindowMenus : public QObject
{
    Q_OBJECT
    MainWindow* w = nullptr;

    void loadSession(const Session& s, const QString& name)
    {
        const QString path = QDir(TestSupport::tempDir()).filePath(name);
        QVERIFY(MainWindowTest::writeSession(s, path));
        QVERIFY(SessionManager::instance()->loadSession(path));
    }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        w = new MainWindow;
        w->resize(1400, 900);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
    }
    void cleanupTestCase() { delete w; }
    void init() { SessionManager::instance()->setDirty(false); }

    void menusHoldTheirEntriesInOrder()
    {
        const QList<QMenu*>& menus = A::menuBarMenus(w);
        QCOMPARE(menus.size(), 5);
        QCOMPARE(entries(menus[0]),
                 (QStringList{"+ New Set [Ctrl+N]", "Open Set [Ctrl+O]", "-", "Save [Ctrl+S]",
                              "Save As [Ctrl+Shift+S]", "-", "Export Bundle (.vxbundle)… [Ctrl+Shift+E]",
                              "Import Bundle (.vxbundle)… [Ctrl+Shift+I]", "-", "Import Stinger Page (.stg)…",
                              "Import Stinger Collection (.col)…", "-", "Exit"}));
        QCOMPARE(entries(menus[1]),
                 (QStringList{"Record\tCtrl+R", "Stop All\tSpace", "Panic Stop\tEsc", "-", "Auto-Stop Previous",
                              "Restart on Re-Click", "Cross-Tab Stop"}));
        QCOMPARE(entries(menus[2]).mid(0, 9),
                 (QStringList{"+ New Tab [Ctrl+T]", "-", "── Buttons per Tab ──", "24 Buttons", "36 Buttons",
                              "48 Buttons", "72 Buttons", "-", "── Layout ──"}));
        QCOMPARE(entries(menus[3]), (QStringList{"Toggle Left Panel\tCtrl+[", "Toggle Right Panel\tCtrl+]"}));
        QCOMPARE(entries(menus[4]),
                 (QStringList{"Search Buttons…\tCtrl+F", "-", "Keyboard Shortcuts [Ctrl+Shift+K]", "Settings\tCtrl+,",
                              "-", "Help", "Check for Updates…", "About Tarvello Rododu"}));
    }

    void menuButtonOpensItsMenuBelowIt()
    {
        QPushButton* b = A::menuBarButtons(w)[2];
        QMenu* m = A::menuBarMenus(w)[2];
        QTest::mouseClick(b, Qt::LeftButton);
        QTRY_VERIFY(m->isVisible());
        const QPoint corner = b->mapToGlobal(QPoint(0, b->height()));
        // The screen may push the menu inward; where it has room it hangs
        // from the button's bottom-left corner.
        if (m->geometry().right() < w->screen()->geometry().right()
            && m->geometry().bottom() < w->screen()->geometry().bottom())
            QCOMPARE(m->pos(), corner);
        m->close();

        // A theme change reaches the menu when it opens again.
        ThemeManager::instance()->applyPreset(ThemeManager::LightClassic);
        emit m->aboutToShow();
        QVERIFY(m->styleSheet().contains(ThemeManager::instance()->colors().surfaceHover.name()));
        ThemeManager::instance()->applyPreset(ThemeManager::Dark);
    }

    void menuButtonsCollapseBelowAWidth()
    {
        const QStringList wide{"File", "Transport", "Grid", "View", "Tools"};
        const QStringList narrow{"📁", "⏯", "▦", "👁", "⚙"};
        const int edge = sc(820);
        struct Step
        {
            int width;
            bool collapsed;
        };
        const Step steps[] = {{edge + 100, false}, {edge - 1, true}, {edge - 200, true},
                              {edge, false},       {edge + 300, false}, {edge - 1, true}};
        for (const Step& st : steps) {
            w->resize(st.width, 700);
            QCoreApplication::processEvents();
            QStringList texts;
            for (QPushButton* b : A::menuBarButtons(w))
                texts << b->text();
            QCOMPARE(texts, st.collapsed ? narrow : wide);
        }
        w->resize(1400, 900);
        QCoreApplication::processEvents();
    }

    // Only the user's choice of a rule writes the session and marks it; a
    // load sets the rules and the entries follow.
    void ruleEntriesAndLoads()
    {
        QAction* cross = findAction(w, QStringLiteral("Cross-Tab Stop"));
        QAction* autoStop = findAction(w, QStringLiteral("Auto-Stop Previous"));
        QAction* restart = findAction(w, QStringLiteral("Restart on Re-Click"));
        QVERIFY(cross && autoStop && restart);

        Session s = MainWindowTest::makeSession(1, 24);
        s.autoStop = true;
        s.restart = false;
        s.crossTabStop = true;
        loadSession(s, QStringLiteral("rules.vx"));
        QVERIFY(!SessionManager::instance()->isDirty());
        QCOMPARE(autoStop->isChecked(), true);
        QCOMPARE(restart->isChecked(), false);
        QCOMPARE(cross->isChecked(), true);

        cross->trigger();
        const Session& now = SessionManager::instance()->session();
        QCOMPARE(now.crossTabStop, false);
        QCOMPARE(now.autoStop, true);
        QCOMPARE(now.restart, false);
        QVERIFY(SessionManager::instance()->isDirty());
        QCOMPARE(A::crossTabStopToggle(w)->isChecked(), false);
    }

    void columnsRowsAndAuto()
    {
        Session s = MainWindowTest::makeSession(2, 24);
        s.layoutMode = 2;
        s.gridCols = 4;
        s.gridRows = 3;
        loadSession(s, QStringLiteral("shape.vx"));
        QSpinBox* cols = A::colsSpin(w);
        QSpinBox* rows = A::rowsSpin(w);
        QCOMPARE(cols->value(), 4);
        QCOMPARE(rows->value(), 3);
        QVERIFY(!SessionManager::instance()->isDirty());

        // A new count is a change of the session, which keeps it.
        cols->setValue(6);
        for (const MainWindow::GridPanel& p : w->gridPanels())
            QCOMPARE(p.grid->columns(), 6);
        QCOMPARE(AppSettings().value(QStringLiteral("grid/cols")).toInt(), 6);
        QCOMPARE(SessionManager::instance()->session().gridCols, 6);
        QVERIFY(SessionManager::instance()->isDirty());
        SessionManager::instance()->setDirty(false);
        cols->setValue(0);
        QCOMPARE(SessionManager::instance()->session().gridCols, 0);
        QVERIFY(SessionManager::instance()->isDirty());
        SessionManager::instance()->setDirty(false);

        // Both boxes at "Auto" already: the button still runs both handlers.
        rows->setValue(0);
        SessionManager::instance()->setDirty(false);
        for (const MainWindow::GridPanel& p : w->gridPanels()) {
            p.grid->setColumns(5);
            p.grid->setRows(5);
        }
        QPushButton* autoBtn = nullptr;
        for (QPushButton* b : cols->parentWidget()->findChildren<QPushButton*>())
            if (b->text() == QLatin1String("Auto"))
                autoBtn = b;
        QVERIFY(autoBtn);
        autoBtn->click();
        for (const MainWindow::GridPanel& p : w->gridPanels()) {
            QCOMPARE(p.grid->columns(), 0);
            QCOMPARE(p.grid->rows(), 0);
        }
        // The session had "Auto" already: nothing changed.
        QCOMPARE(SessionManager::instance()->session().gridCols, 0);
        QCOMPARE(SessionManager::instance()->session().gridRows, 0);
        QVERIFY(!SessionManager::instance()->isDirty());
    }

    void buttonsPerTabNeverShortens_data()
    {
        QTest::addColumn<QList<int>>("choices");
        QTest::newRow("72, 24, 72") << QList<int>{72, 24, 72};
        QTest::newRow("24 on 36") << QList<int>{24};
        QTest::newRow("48, 36") << QList<int>{48, 36};
    }

    void buttonsPerTabNeverShortens()
    {
        QFETCH(QList<int>, choices);
        Session s = MainWindowTest::makeSession(16, 36, QDir(TestSupport::tempDir()).filePath(QStringLiteral("a")));
        s.layoutMode = 4;
        loadSession(s, QStringLiteral("per-tab.vx"));
        int longest = 36;
        for (int n : choices) {
            SessionManager::instance()->setDirty(false);
            findAction(w, QStringLiteral("%1 Buttons").arg(n))->trigger();
            longest = std::max(longest, n);
            const Session& now = SessionManager::instance()->session();
            QVERIFY(SessionManager::instance()->isDirty());
            QCOMPARE(now.buttonsPerTab, n);
            QSet<QString> ids;
            for (int t = 0; t < now.tabs.size(); ++t) {
                QCOMPARE(now.tabs[t].buttons.size(), longest);
                // The sounds of the first 36 are still there.
                QCOMPARE(now.tabs[t].buttons[35].audioPath, s.tabs[t].buttons[35].audioPath);
                for (const ButtonData& b : now.tabs[t].buttons) {
                    QVERIFY(!b.id.isEmpty());
                    ids.insert(b.id);
                }
            }
            QCOMPARE(ids.size(), 16 * longest);
            for (const MainWindow::GridPanel& p : w->gridPanels()) {
                QCOMPARE(p.grid->buttonCount(), n);
                QCOMPARE(p.grid->tab().buttons[0].id, now.tabs[p.tabIndex].buttons[0].id);
            }
        }
    }

    void searchIsPlainText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("matches");   // of the four named buttons per tab
        QTest::newRow("parenthesis") << "(" << 1;
        QTest::newRow("bracket a") << "[a" << 1;
        QTest::newRow("star") << "*" << 1;
        QTest::newRow("backslash") << "\\" << 1;
        QTest::newRow("any case") << "KICK" << 2;
        QTest::newRow("emoji") << QStringLiteral("🎺") << 1;
        QTest::newRow("10000 characters") << QString(10000, QLatin1Char('k')) << 0;
        QTest::newRow("empty") << "" << 4;
    }

    void searchIsPlainText()
    {
        QFETCH(QString, text);
        QFETCH(int, matches);
        Session s = MainWindowTest::makeSession(4, 24, QDir(TestSupport::tempDir()).filePath(QStringLiteral("s")));
        s.layoutMode = 4;
        const QStringList names{"Kick (long)", "[a]pplause *star*", "kick\\drum", QStringLiteral("Fanfare 🎺")};
        for (TabData& t : s.tabs) {
            for (int b = 0; b < t.buttons.size(); ++b) {
                t.buttons[b].name = b < 4 ? names[b] : QStringLiteral("Other %1").arg(b);
                if (b >= 4)
                    t.buttons[b].audioPath = QStringLiteral("/none/bed%1.wav").arg(b);
            }
            t.buttons[23].audioPath.clear();   // an empty pad always stays
            t.buttons[23].name.clear();
        }
        loadSession(s, QStringLiteral("search.vx"));

        w->showSearchDialog();
        QDialog* dlg = A::searchDialog(w);
        QVERIFY(dlg && dlg->isVisible());
        QVERIFY(!dlg->isModal());
        auto* box = dlg->findChild<QLineEdit*>(QStringLiteral("searchBox"));
        box->setText(text);
        const int expected = text.isEmpty() ? 24 : matches + 1;
        QCOMPARE(w->gridPanels().size(), 4);
        for (const MainWindow::GridPanel& p : w->gridPanels())
            QCOMPARE(shownPads(p.grid), expected);

        // Reopened, the same dialog keeps its text, selected.
        dlg->hide();
        w->showSearchDialog();
        QCOMPARE(A::searchDialog(w), dlg);
        QCOMPARE(box->text(), text);
        QCOMPARE(box->selectedText(), text);

        // Closing it empties the text and shows every pad of every pane.
        dlg->reject();
        QCOMPARE(box->text(), QString());
        for (const MainWindow::GridPanel& p : w->gridPanels())
            QCOMPARE(shownPads(p.grid), 24);
    }

    // The clock shows the time elapsed on the monotonic clock; the ticks
    // only say when to look again.
    void recordClock_data()
    {
        QTest::addColumn<int>("ticks");
        QTest::addColumn<int>("msPerTick");
        QTest::addColumn<QString>("shown");
        QTest::newRow("one") << 1 << 1000 << "00:01";
        QTest::newRow("75") << 75 << 1000 << "01:15";
        QTest::newRow("3599") << 3599 << 1000 << "59:59";
        QTest::newRow("6000") << 6000 << 1000 << "100:00";
        QTest::newRow("a 7.2 s stall, one tick") << 1 << 7200 << "00:07";
        QTest::newRow("ticks late by a third") << 6 << 1333 << "00:07";
        QTest::newRow("ticks twice a second") << 9 << 500 << "00:04";
    }

    void recordClock()
    {
        QFETCH(int, ticks);
        QFETCH(int, msPerTick);
        QFETCH(QString, shown);
        ScopedFakeClock clock;
        QWidget* indicator = A::recIndicator(w);
        w->onToggleRecord();
        QVERIFY(A::recordTimer(w)->isActive());
        QVERIFY(indicator->isVisible());
        QVERIFY(toastSeen(QStringLiteral("🔴  Recording started")));
        // The test drives the ticks itself.
        A::recordTimer(w)->stop();
        QCoreApplication::sendPostedEvents();
        A::recTimeLabel(w)->setText(QStringLiteral("00:00"));
        for (int i = 0; i < ticks; ++i) {
            clock.advanceMs(msPerTick);
            w->onRecordTick();
        }
        QCOMPARE(A::recTimeLabel(w)->text(), shown);

        // The indicator sits in the toolbar row and covers none of its controls.
        QCoreApplication::processEvents();
        QCOMPARE(indicator->parentWidget(), A::toolBar(w));
        for (QWidget* c : A::toolBar(w)->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (c != indicator && c->isVisible())
                QVERIFY2(!c->geometry().intersects(indicator->geometry()), qPrintable(c->objectName()));

        A::recordTimer(w)->start();
        w->onToggleRecord();
        QVERIFY(!A::recordTimer(w)->isActive());
        QVERIFY(!indicator->isVisible());
        QCOMPARE(A::recTimeLabel(w)->text(), shown);
        QVERIFY(toastSeen(QStringLiteral("⏹  Recording stopped")));
    }

    // Accepted, the shortcuts dialog's keys reach the grids, the key map and
    // the status bar; cancelled, nothing changes.
    void shortcutsDialogResults_data()
    {
        QTest::addColumn<bool>("accept");
        QTest::newRow("accepted") << true;
        QTest::newRow("cancelled") << false;
    }

    void shortcutsDialogResults()
    {
        QFETCH(bool, accept);
        Session s = MainWindowTest::makeSession(1, 24, QDir(TestSupport::tempDir()).filePath(QStringLiteral("k")));
        for (ButtonData& b : s.tabs[0].buttons)
            b.key.clear();
        s.tabs[0].buttons[23].audioPath.clear();
        loadSession(s, QStringLiteral("keys.vx"));
        A::statusButtons(w)->setText(QStringLiteral("stale"));
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            if (r.kind == Modal::Kind::MessageBox)
                return int(QMessageBox::Yes);   // the auto-assign's question
            auto* dlg = qobject_cast<ShortcutsDialog*>(r.dialog);
            if (!dlg)
                return {};
            dlg->onAutoAssign();
            const int result = accept ? QDialog::Accepted : QDialog::Rejected;
            dlg->done(result);
            return result;
        });
        findAction(w, QStringLiteral("Keyboard Shortcuts"))->trigger();

        const QString key = SessionManager::instance()->session().tabs[0].buttons[0].key;
        QCOMPARE(key.isEmpty(), !accept);
        QCOMPARE(SessionManager::instance()->isDirty(), accept);
        ButtonGrid* g = w->gridPanels()[0].grid;
        QCOMPARE(g->tab().buttons[0].key, key);
        QCOMPARE(g->buttonWidget(0)->buttonData().key, key);
        if (accept) {
            QCOMPARE(A::keyButtonMap(w).value(key).id, g->tab().buttons[0].id);
            const auto all = SessionManager::instance()->session().tabs[0].buttons.size();
            QCOMPARE(A::statusButtons(w)->text(), QStringLiteral("Btns: 23/%1").arg(all));
        } else {
            QCOMPARE(A::statusButtons(w)->text(), QStringLiteral("stale"));
        }
    }

    void aboutHelpSettingsAndVolumeMenu()
    {
        QStringList boxes;
        QString aboutText;
        QImage aboutPicture;
        QStringList dialogs;
        bool headingShown = false;
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            if (r.kind == Modal::Kind::Dialog) {
                dialogs << QString::fromLatin1(r.dialog->metaObject()->className());
                return int(QDialog::Rejected);
            }
            boxes << r.title;
            if (r.kind == Modal::Kind::MessageBox) {
                aboutText = r.text;
                r.box->show();
                if (auto* label = r.box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label")))
                    aboutPicture = label->grab().toImage();
                r.box->hide();
            }
            if (r.kind == Modal::Kind::Menu) {
                // The heading is drawn with its text, not as a bare line.
                r.menu->popup(QPoint(20, 20));
                auto* heading = qobject_cast<QWidgetAction*>(r.menu->actions().value(0));
                auto* label = heading ? qobject_cast<QLabel*>(heading->defaultWidget()) : nullptr;
                headingShown = label && label->isVisible() && label->text() == QStringLiteral("🔊 Main Volume")
                    && label->contentsRect().width() >= label->fontMetrics().horizontalAdvance(label->text());
                r.menu->hide();
                for (QAction* a : r.menu->actions())
                    if (a->text() == QLatin1String("Reset to 85%") && boxes.size() == 2)
                        return QVariant::fromValue(a);
                for (QAction* a : r.menu->actions())
                    if (a->text() == QStringLiteral("🎹 MIDI Learn — Volume CC") && boxes.size() == 3)
                        return QVariant::fromValue(a);
            }
            return {};
        });
        findAction(w, QStringLiteral("About Tarvello Rododu"))->trigger();
        QCOMPARE(boxes, QStringList{QStringLiteral("About Tarvello Rododu")});
        QVERIFY(aboutText.contains(QLatin1String("soundboard for Linux.")));
        QVERIFY(!aboutText.contains(QLatin1String("Windows")));
        QVERIFY(aboutText.contains(QStringLiteral("Up to 72 buttons · 16 tabs · MIDI · Split-view · Cloud library")));
        {
            // A rule parts the features from the contact line, drawn in the
            // border colour across the text.
            QTextDocument doc;
            doc.setHtml(aboutText);
            QStringList lines;
            for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
                if (b.blockFormat().hasProperty(QTextFormat::BlockTrailingHorizontalRulerWidth))
                    lines << QStringLiteral("rule");
                else if (!b.text().isEmpty())
                    lines << b.text();
            }
            const qsizetype rule = lines.indexOf(QStringLiteral("rule"));
            QVERIFY2(rule > 0 && lines.lastIndexOf(QStringLiteral("rule")) == rule, qPrintable(lines.join('|')));
            QCOMPARE(lines[rule - 1], QStringLiteral("Up to 72 buttons · 16 tabs · MIDI · Split-view · Cloud library"));
            QVERIFY2(lines.value(rule + 1).startsWith(QLatin1String("Help and contact: ")), qPrintable(lines.join('|')));
            const QRgb border = ThemeManager::instance()->colors().border.rgb();
            QVERIFY(!aboutPicture.isNull());
            int ruled = 0;
            for (int y = 0; y < aboutPicture.height(); ++y) {
                int run = 0;
                for (int x = 0; x < aboutPicture.width(); ++x)
                    run += (aboutPicture.pixel(x, y) & 0xffffff) == (border & 0xffffff) ? 1 : 0;
                ruled += run * 10 >= aboutPicture.width() * 8 ? 1 : 0;
            }
            QCOMPARE(ruled, 1);
        }

        {
            TestSupport::UrlCatcher catcher(QStringLiteral("https"));
            findAction(w, QStringLiteral("Help"))->trigger();
            QCOMPARE(catcher.urls.size(), 1);
        }

        // The master volume's menu: "Reset to 85%", then MIDI learn.
        QSlider* vol = A::volSlider(w);
        vol->setValue(40);
        emit vol->customContextMenuRequested(QPoint(3, 3));
        QCOMPARE(vol->value(), 85);
        QVERIFY(headingShown);
        emit vol->customContextMenuRequested(QPoint(3, 3));
        QVERIFY(MidiManager::instance()->isLearning());
        QCOMPARE(MidiManager::instance()->learnTarget(), QStringLiteral("__main_volume__"));
        QVERIFY(toastSeen(QStringLiteral("🎹  MIDI Learn active — move a knob or fader")));
        MidiManager::instance()->stopLearn();

        // The Settings entry runs the settings dialog, then reads the output
        // device again.
        AppSettings().setValue(QStringLiteral("audio/device"), QStringLiteral("menu-test-device"));
        findAction(w, QStringLiteral("Settings"))->trigger();
        QCOMPARE(dialogs, QStringList{QStringLiteral("SettingsDialog")});
        QCOMPARE(A::defaultDevice(w), QStringLiteral("menu-test-device"));
        AppSettings().remove(QStringLiteral("audio/device"));
    }

    // One press, one command: the keys of the menus with the main window
    // active, with another window of the program active, and under a modal
    // dialog.
    void menuKeys_data()
    {
        QTest::addColumn<QKeySequence>("keys");
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("inMain");
        QTest::addColumn<int>("inOther");
        // Entries whose keys the window's key handling serves in any window
        // of the program count 1 there too; keys of the window alone count 0.
        QTest::newRow("Ctrl+N") << QKeySequence("Ctrl+N") << "+ New Set" << 1 << 1;
        QTest::newRow("Ctrl+O") << QKeySequence("Ctrl+O") << "Open Set" << 1 << 1;
        QTest::newRow("Ctrl+S") << QKeySequence("Ctrl+S") << "Save" << 1 << 1;
        QTest::newRow("Ctrl+Shift+S") << QKeySequence("Ctrl+Shift+S") << "Save As" << 1 << 0;
        QTest::newRow("Ctrl+Shift+E") << QKeySequence("Ctrl+Shift+E") << "Export Bundle (.vxbundle)…" << 1 << 0;
        QTest::newRow("Ctrl+Shift+I") << QKeySequence("Ctrl+Shift+I") << "Import Bundle (.vxbundle)…" << 1 << 0;
        QTest::newRow("Ctrl+T") << QKeySequence("Ctrl+T") << "+ New Tab" << 1 << 0;
        QTest::newRow("Ctrl+Shift+K") << QKeySequence("Ctrl+Shift+K") << "Keyboard Shortcuts" << 1 << 0;
        QTest::newRow("Ctrl+R") << QKeySequence("Ctrl+R") << "record" << 1 << 1;
        QTest::newRow("Ctrl+F") << QKeySequence("Ctrl+F") << "search" << 1 << 1;
        QTest::newRow("Ctrl+[") << QKeySequence("Ctrl+[") << "left panel" << 1 << 0;
        QTest::newRow("Ctrl+,") << QKeySequence("Ctrl+,") << "settings" << 1 << 1;
        QTest::newRow("Ctrl+Shift+D") << QKeySequence("Ctrl+Shift+D") << "debug" << 1 << 0;
    }

    void menuKeys()
    {
        QFETCH(QKeySequence, keys);
        QFETCH(QString, entry);
        QFETCH(int, inMain);
        QFETCH(int, inOther);

        // A clean session with a file, so Save writes without a dialog.
        loadSession(MainWindowTest::makeSession(1, 24), QStringLiteral("keys-target.vx"));
        int debugOpened = 0;
        MainWindow::setDebugWindowOpener([&] { ++debugOpened; });
        int modalRequests = 0;
        TestSupport::ModalScript script([&](const Modal::Request&) -> QVariant {
            ++modalRequests;
            return {};
        });
        QAction* action = findAction(w, entry);
        QSignalSpy triggered(action ? action : new QAction(this), &QAction::triggered);
        int saves = 0;
        int loads = 0;
        auto c1 = connect(SessionManager::instance(), &SessionManager::sessionSaved, this, [&] { ++saves; });
        auto c2 = connect(SessionManager::instance(), &SessionManager::sessionLoaded, this, [&] { ++loads; });
        const bool recordingBefore = A::recordTimer(w)->isActive();
        const bool leftBefore = A::leftPanel(w)->isVisible();

        // Counts the commands one press ran.
        auto commands = [&]() -> int {
            // Entries the key filter may serve count by what they did.
            if (entry == QLatin1String("+ New Set"))
                return loads;
            if (entry == QLatin1String("Open Set") || entry == QLatin1String("settings"))
                return modalRequests;
            if (entry == QLatin1String("Save"))
                return saves;
            if (action)
                return int(triggered.count());
            if (entry == QLatin1String("record"))
                return A::recordTimer(w)->isActive() != recordingBefore ? 1 : 0;
            if (entry == QLatin1String("search"))
                return A::searchDialog(w) && A::searchDialog(w)->isVisible() ? 1 : 0;
            if (entry == QLatin1String("left panel"))
                return A::leftPanel(w)->isVisible() != leftBefore ? 1 : 0;
            return debugOpened;
        };
        auto reset = [&] {
            triggered.clear();
            if (A::recordTimer(w)->isActive() != recordingBefore)
                w->onToggleRecord();
            if (A::searchDialog(w))
                A::searchDialog(w)->hide();
            if (A::leftPanel(w)->isVisible() != leftBefore)
                w->toggleLeftPanel();
            debugOpened = 0;
            saves = loads = modalRequests = 0;
        };
        const QKeyCombination combo = keys[0];
        auto press = [&](QWidget* target) {
            QTest::keyClick(target, combo.key(), combo.keyboardModifiers());
            QCoreApplication::processEvents();
        };

        // The main window active.
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        press(w);
        QCOMPARE(commands(), inMain);
        if (entry == QLatin1String("+ New Set"))
            QCOMPARE(loads, 1);
        if (entry == QLatin1String("Save"))
            QCOMPARE(saves, 1);
        if (entry == QLatin1String("Open Set") || entry == QLatin1String("Save As")
            || entry == QLatin1String("Keyboard Shortcuts"))
            QCOMPARE(modalRequests, 1);
        reset();

        // Another window of the program active.
        {
            QWidget other;
            other.resize(200, 100);
            other.show();
            other.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&other));
            press(&other);
            QCOMPARE(commands(), inOther);
        }
        reset();

        // A modal dialog over the window takes every key.
        {
            QDialog modal(w);
            modal.setModal(true);
            modal.show();
            modal.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&modal));
            press(&modal);
            QCOMPARE(commands(), 0);
            QCOMPARE(loads + saves + modalRequests, 0);
        }
        reset();
        disconnect(c1);
        disconnect(c2);
        MainWindow::setDebugWindowOpener(nullptr);
        SessionManager::instance()->setDirty(false);
    }
};

QTEST_MAIN(TestMainWindowMenus)
#include "tst_mainwindow_menus.moc"
