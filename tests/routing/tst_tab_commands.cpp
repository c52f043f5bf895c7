// Tab commands on the recorder: adding, duplicating, renaming and deleting
// tabs at the edges of the tab limit and of the list, the tab keys made from
// the session, and the MIDI tab targets that follow their tabs.
#include <QAbstractButton>
#include <QAction>
#include <QRegularExpression>
#include <QMenu>
#include <QSignalSpy>
#include <QtTest>

#include "MidiManager.h"
#include "TabEditSupport.h"
#include "ThemeManager.h"
#include "VXIcons.h"

using A = RoutingTestAccess;
using namespace RoutingTest;
using namespace TabEdit;

namespace {

qint64 g_now = 9'000'000;

MidiMapping tabTarget(const QString& target, int note, bool cc)
{
    MidiMapping m;
    m.channel = 1;
    m.number = note;
    m.isCC = cc;
    (cc ? m.control : m.buttonId) = target;
    return m;
}

QStringList targets()
{
    QStringList out;
    for (const MidiMapping& m : MidiManager::instance()->allMappings())
        out << m.key();
    return out;
}

} // namespace

class TestTabCommands : public QObject
{
    Q_OBJECT
    MainWindow* w = nullptr;
    RecordingEngines rec;
    ScopedFakeClock clock;

    void start(const Session& s, int current)
    {
        load(s);
        A::currentTab(w) = current;
        w->rebuildTabStrip();
        rec.reset();
        toastShown(QString()); // drop the cards of earlier commands
    }

private slots:
    void initTestCase()
    {
        MainWindow::setWallClock([] { return g_now; });
        w = windowOn(rec);
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));
        MidiManager::instance()->clearAllMappings();
    }
    void cleanupTestCase() { closeWindow(w); }
    void init()
    {
        w->activateWindow();
        w->setFocus();
    }

    void commands_data()
    {
        QTest::addColumn<int>("tabs");
        QTest::addColumn<int>("perTab");
        QTest::addColumn<int>("current");
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("yes");
        QTest::addColumn<QStringList>("namesAfter");
        QTest::addColumn<int>("currentAfter");
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("toastText");

        auto names = [](int n) {
            QStringList l;
            for (int k = 1; k <= n; ++k)
                l << QStringLiteral("Tab %1").arg(k);
            return l;
        };
        const QString added = QStringLiteral("➕  New tab added");
        const QString deleted = QStringLiteral("🗑️  Tab deleted");
        QTest::newRow("add to one") << 1 << 36 << 0 << "add" << true << names(2) << 1 << QString() << added;
        QTest::newRow("add the sixteenth") << 15 << 24 << 3 << "add" << true << names(16) << 15 << QString() << added;
        QTest::newRow("add beyond sixteen") << 16 << 24 << 2 << "add" << true << names(16) << 2
                                            << QStringLiteral("Tab Limit Reached") << QString();
        QTest::newRow("add, 40 per tab") << 2 << 40 << 0 << "add" << true << names(3) << 2 << QString() << added;
        QTest::newRow("add, 72 per tab") << 2 << 72 << 0 << "add" << true << names(3) << 2 << QString() << added;
        QStringList dup16 = names(16);
        dup16.insert(4, QStringLiteral("Tab 4 (Copy)"));
        QTest::newRow("duplicate past sixteen") << 16 << 24 << 3 << "dup" << true << dup16 << 4 << QString()
                                                << QString();
        QStringList dup1 = names(1) << QStringLiteral("Tab 1 (Copy)");
        QTest::newRow("duplicate the only tab") << 1 << 48 << 0 << "dup" << true << dup1 << 1 << QString()
                                                << QString();
        QTest::newRow("add to seventeen") << 17 << 24 << 0 << "add" << true
                                          << (names(16) << QStringLiteral("Tab 16 (Copy)")) << 0
                                          << QStringLiteral("Tab Limit Reached") << QString();
        QTest::newRow("delete the first") << 5 << 24 << 0 << "delete" << true
                                          << QStringList{"Tab 2", "Tab 3", "Tab 4", "Tab 5"} << 0 << QString()
                                          << deleted;
        QTest::newRow("delete a middle one") << 5 << 24 << 2 << "delete" << true
                                             << QStringList{"Tab 1", "Tab 2", "Tab 4", "Tab 5"} << 1 << QString()
                                             << deleted;
        QTest::newRow("delete the last") << 5 << 24 << 4 << "delete" << true
                                         << QStringList{"Tab 1", "Tab 2", "Tab 3", "Tab 4"} << 3 << QString()
                                         << deleted;
        QTest::newRow("delete, answered No") << 5 << 24 << 2 << "delete" << false << names(5) << 2 << QString()
                                             << QString();
        QTest::newRow("delete the only tab") << 1 << 24 << 0 << "delete" << true << names(1) << 0
                                             << QStringLiteral("Cannot Delete") << QString();
    }
    void commands()
    {
        QFETCH(int, tabs);
        QFETCH(int, perTab);
        QFETCH(int, current);
        QFETCH(QString, command);
        QFETCH(bool, yes);
        QFETCH(QStringList, namesAfter);
        QFETCH(int, currentAfter);
        QFETCH(QString, box);
        QFETCH(QString, toastText);

        Session s = board(tabs == 17 ? 16 : tabs, perTab);
        start(s, current);
        if (tabs == 17) { // seventeen tabs arise only by duplicating
            A::currentTab(w) = 15;
            w->onDuplicateTab();
            A::currentTab(w) = current;
        }
        const QStringList idsBefore = idsOf(session().tabs.value(current).buttons);
        const QStringList tabIdsBefore = [] {
            QStringList l;
            for (const TabData& t : session().tabs)
                l << t.id;
            return l;
        }();
        SessionManager::instance()->setDirty(false);

        Script script;
        script.answer(yes ? QMessageBox::Yes : QMessageBox::No);
        if (command == QLatin1String("add"))
            w->onAddTab();
        else if (command == QLatin1String("dup"))
            w->onDuplicateTab();
        else
            w->onDeleteTab();

        QStringList namesNow;
        for (const TabData& t : session().tabs)
            namesNow << t.name;
        QCOMPARE(namesNow, namesAfter);
        QCOMPARE(A::currentTab(w), currentAfter);
        QCOMPARE(toastShown(toastText), !toastText.isEmpty());
        if (!box.isEmpty()) {
            QCOMPARE(script.titles(), QStringList{box});
            QVERIFY(!SessionManager::instance()->isDirty());
        } else if (command == QLatin1String("delete")) {
            QCOMPARE(script.titles(), QStringList{QStringLiteral("Delete Tab")});
            QCOMPARE(script.asked[0].text, QStringLiteral("Delete tab 'Tab %1'?").arg(current + 1));
        }
        const bool changed = box.isEmpty() && yes;
        QCOMPARE(SessionManager::instance()->isDirty(), changed);

        if (changed && command == QLatin1String("add")) {
            const TabData& t = session().tabs.last();
            QCOMPARE(t.buttons.size(), MainWindow::validButtonsPerTab(perTab));
            QCOMPARE(t.color, ThemeManager::vibrantColor(int(session().tabs.size()) - 1));
            QVERIFY(!t.id.contains(QLatin1Char('{')) && !tabIdsBefore.contains(t.id));
            QVERIFY(!t.useTabPb && t.pb_rs && t.pb_cts && !t.pb_as && t.fadeMs == 100 && t.volume == 1.0);
            // The new pane's header shows the tab's own fade.
            QCOMPARE(A::panels(w).last().header->fadeMs(), 100.0);
        }
        if (changed && command == QLatin1String("dup")) {
            const TabData& src = session().tabs[current];
            const TabData& copy = session().tabs[current + 1];
            QCOMPARE(copy.buttons.size(), src.buttons.size());
            for (int i = 0; i < copy.buttons.size(); ++i) {
                QVERIFY(!idsBefore.contains(copy.buttons[i].id));
                QCOMPARE(copy.buttons[i].audioPath, src.buttons[i].audioPath);
            }
            QVERIFY(copy.color != src.color);
            QCOMPARE(copy.volume, src.volume);
            // Keys and MIDI controls stay with the source: shared, neither tab would get them.
            QCOMPARE(src.stopKey, s.tabs[current].stopKey);
            QCOMPARE(src.volUpKey, s.tabs[current].volUpKey);
            QVERIFY(copy.stopKey.isEmpty() && copy.volUpKey.isEmpty() && copy.volDnKey.isEmpty());
            QCOMPARE(copy.stopMidi, -1);
            QCOMPARE(copy.volCC, -1);
        }
        checkRouting(w, rec, clock, g_now);
    }

    // Deleting a tab stops its sounds in every engine first; afterwards Stop
    // All names none of them.
    void deleteStopsTheTabFirst()
    {
        start(board(3), 1);
        const QStringList ids = idsOf(session().tabs[1].buttons);
        for (const QString& id : ids)
            rec.audio.insert(id);
        Script script;
        script.answer(QMessageBox::Yes);
        w->onDeleteTab();
        const QStringList calls = rec.take();
        for (const QString& id : ids) {
            QVERIFY(calls.contains(QStringLiteral("audio.stop ") + id));
            QVERIFY(calls.contains(QStringLiteral("ds.stop ") + id));
            QVERIFY(calls.contains(QStringLiteral("wasapi.stop ") + id));
        }
        w->onStopAll();
        for (const QString& c : rec.take())
            QVERIFY2(!ids.contains(c.section(QLatin1Char(' '), 1, 1)), qPrintable(c));
    }

    // A duplicate raises the panes behind it: a pane pointed at a later tab
    // keeps showing (and editing) that tab.
    void duplicateKeepsRetargetedPanes()
    {
        start(board(4), 0);
        emit A::panels(w)[1].header->tabSwitchRequested(3); // pane 1 shows tab 3
        A::currentTab(w) = 0;
        w->onDuplicateTab();
        QCOMPARE(A::panels(w)[2].tabIndex, 4); // the old pane 1, now behind the copy
        QCOMPARE(session().tabs[4].name, QStringLiteral("Tab 4"));
        emit A::panels(w)[2].header->fadeChanged(750);
        QCOMPARE(session().tabs[4].fadeMs, 750.0);
    }

    // A pane pointed at the deleted tab shows its neighbour, buttons and all.
    void deleteMovesRetargetedPaneToNeighbour()
    {
        start(board(4), 0);
        emit A::panels(w)[3].header->tabSwitchRequested(2); // pane 3 shows tab 2
        A::currentTab(w) = 2;
        Script script;
        script.answer(QMessageBox::Yes);
        w->onDeleteTab();
        QCOMPARE(A::panels(w)[2].tabIndex, 1);
        QCOMPARE(A::panels(w)[2].grid->buttonWidget(0)->buttonData().id, QStringLiteral("t1b0"));
        QCOMPARE(A::panels(w)[2].header->nameLabel()->text(), QStringLiteral("Tab 2"));
        QCOMPARE(session().activeTab, 1);
    }

    void renames_data()
    {
        QTest::addColumn<QVariant>("answer");
        QTest::addColumn<QString>("expected");
        QTest::newRow("cancel") << QVariant() << "Tab 2";
        QTest::newRow("empty") << QVariant(QString()) << "Tab 2";
        QTest::newRow("blanks") << QVariant(QStringLiteral("   ")) << "   ";
        QTest::newRow("markup") << QVariant(QStringLiteral("<b>&amp;")) << "<b>&amp;";
        QTest::newRow("line break") << QVariant(QStringLiteral("Two\nLines")) << "Two\nLines";
        QTest::newRow("emoji") << QVariant(QStringLiteral("🎵 Jingles")) << "🎵 Jingles";
        QTest::newRow("10000 characters") << QVariant(QString(10000, QLatin1Char('x'))) << QString(10000, QLatin1Char('x'));
    }
    void renames()
    {
        QFETCH(QVariant, answer);
        QFETCH(QString, expected);
        start(board(3), 1);
        emit A::panels(w)[2].header->tabSwitchRequested(1); // pane 2 shows tab 1 as well
        A::currentTab(w) = 1;
        Script script;
        script.answer(answer);
        w->onRenameTab();
        QCOMPARE(script.asked.size(), 1);
        QCOMPARE(script.asked[0].label, QStringLiteral("Tab name:"));
        QCOMPARE(session().tabs[1].name, expected);
        QCOMPARE(A::panels(w)[1].header->nameLabel()->text(), expected);
        QCOMPARE(A::panels(w)[2].header->nameLabel()->text(), expected);
        QCOMPARE(A::panels(w)[0].header->nameLabel()->text(), QStringLiteral("Tab 1"));
        const QList<QPushButton*> strip = A::tabButtons(w);
        QCOMPARE(strip[1]->toolTip(), expected);
        QVERIFY(strip[1]->width() <= sc(160));
    }

    void shortcuts_data()
    {
        QTest::addColumn<QString>("stopKey");
        QTest::addColumn<QString>("volUp");
        QTest::addColumn<int>("stops");
        QTest::addColumn<int>("vols");
        QTest::newRow("F5") << "F5" << "Alt+Up" << 1 << 1;
        QTest::newRow("none") << "" << "" << 0 << 0;
        QTest::newRow("not a key") << "Ctrl+Foo" << "+" << 0 << 1;
        QTest::newRow("page key spelled out") << "" << "Alt+PageUp" << 0 << 1;
    }
    void shortcuts()
    {
        QFETCH(QString, stopKey);
        QFETCH(QString, volUp);
        QFETCH(int, stops);
        QFETCH(int, vols);
        Session s = board(1);
        s.tabs[0].stopKey = stopKey;
        s.tabs[0].volUpKey = volUp;
        s.tabs[0].volDnKey.clear();
        start(s, 0);
        QCOMPARE(A::tabStopShortcuts(w).size(), stops);
        QCOMPARE(A::tabVolShortcuts(w).size(), vols);
        for (QShortcut* sc : A::tabStopShortcuts(w))
            QCOMPARE(sc->context(), Qt::ApplicationShortcut);
        if (stops) {
            QTest::keySequence(w, QKeySequence(stopKey));
            QCOMPARE(callsNaming(rec.take(), QStringLiteral("audio.stop ")).size(), session().tabs[0].buttons.size());
        }
    }

    // A volume key moves the tab's fader by 5 within 0..100, and does what
    // the fader does: a playing button gets its own volume times the tab's
    // (-1: no change, nothing sent), and the records keep their volumes.
    void volumeKeyEnds_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<int>("slider");
        QTest::addColumn<bool>("up");
        QTest::addColumn<int>("sliderAfter");
        QTest::addColumn<double>("gain");
        QTest::newRow("up at 100") << 1 << 100 << true << 100 << -1.0;
        QTest::newRow("down from 3") << 1 << 3 << false << 0 << 0.0;
        QTest::newRow("up from 50") << 1 << 50 << true << 55 << 0.5 * 0.55;
        QTest::newRow("down from 50") << 1 << 50 << false << 45 << 0.5 * 0.45;
        QTest::newRow("current tab, up from 20") << 0 << 20 << true << 25 << 0.5 * 0.25;
    }
    void volumeKeyEnds()
    {
        QFETCH(int, tab);
        QFETCH(int, slider);
        QFETCH(bool, up);
        QFETCH(int, sliderAfter);
        QFETCH(double, gain);
        Session s = board(2);
        s.tabs[tab].buttons[0].volume = 0.5;
        s.tabs[tab].volume = slider / 100.0;
        start(s, 0);
        const QString id = s.tabs[tab].buttons[0].id;
        QCOMPARE(A::panels(w)[tab].header->m_volSlider->value(), slider);
        rec.reset();
        rec.audio.insert(id);
        QTest::keySequence(w, QKeySequence((up ? QStringLiteral("Alt+") : QStringLiteral("Alt+Shift+")) + letter(tab)));
        const QStringList byKey = callsNaming(rec.take(), QStringLiteral("audio.buttonVolume "));
        QCOMPARE(session().tabs[tab].volume, sliderAfter / 100.0);
        QCOMPARE(rec.tabVol.value(tab, -1.0), sliderAfter / 100.0);
        QCOMPARE(session().tabs[tab].buttons[0].volume, 0.5);
        if (gain < 0)
            QVERIFY2(byKey.isEmpty(), qPrintable(byKey.join(QLatin1String(", "))));
        else
            QCOMPARE(byKey, QStringList{QStringLiteral("audio.buttonVolume %1 %2").arg(id).arg(gain)});
        QCOMPARE(A::panels(w)[tab].header->m_volSlider->value(), sliderAfter);
        // The fader moved by hand to the same value sends the same.
        A::panels(w)[tab].header->m_volSlider->setValue(slider);
        rec.take();
        A::panels(w)[tab].header->m_volSlider->setValue(sliderAfter);
        QCOMPARE(callsNaming(rec.take(), QStringLiteral("audio.buttonVolume ")), byKey);
    }

    // Gives tab t a key of the kind ("stop", "up", "down") through its
    // header's menu and prompt (an invalid answer cancels the prompt); every
    // request asked.
    QList<Script::Asked> giveTabKey(int t, const QString& kind, const QVariant& key)
    {
        const QString entry = kind == QLatin1String("stop") ? QStringLiteral("Assign Keyboard Shortcut")
                              : kind == QLatin1String("up") ? QStringLiteral("Assign Shortcut — Volume Up")
                                                             : QStringLiteral("Assign Shortcut — Volume Down");
        Script script;
        script.answers.append([entry](const Modal::Request& r) {
            for (QAction* a : r.menu->actions())
                if (a->text() == entry)
                    return QVariant::fromValue(a);
            return QVariant();
        });
        script.answer(key);
        GridHeader* h = A::panels(w)[t].header;
        QWidget* opener = kind == QLatin1String("stop") ? static_cast<QWidget*>(h->stopButton()) : h->m_volSlider;
        emit opener->customContextMenuRequested(QPoint(2, 2));
        return script.asked;
    }

    static const QString& tabKey(const TabData& t, const QString& kind)
    {
        return kind == QLatin1String("stop") ? t.stopKey : kind == QLatin1String("up") ? t.volUpKey : t.volDnKey;
    }

    // Every key the shown window has, as (key, what it does): its shortcuts
    // and actions other than the tab keys, its buttons' mnemonics, and the
    // keys its menus show for the window's own key handling.
    QList<std::pair<QString, QString>> windowKeys()
    {
        QList<std::pair<QString, QString>> keys;
        auto named = [](QString text) {
            text = text.section(QLatin1Char('\t'), 0, 0).remove(QLatin1Char('&')).remove(QStringLiteral("…"));
            return text.startsWith(QLatin1String("+ ")) ? text.mid(2) : text;
        };
        for (QShortcut* sc : w->findChildren<QShortcut*>())
            if (sc->isEnabled() && !A::tabStopShortcuts(w).contains(sc) && !A::tabVolShortcuts(w).contains(sc))
                keys.append({sc->key().toString(QKeySequence::NativeText), sc->whatsThis()});
        for (QAction* a : w->findChildren<QAction*>()) {
            if (!a->isEnabled())
                continue;
            if (!a->shortcut().isEmpty())
                keys.append({a->shortcut().toString(QKeySequence::NativeText), named(a->text())});
            else if (a->text().contains(QLatin1Char('\t')))
                keys.append({a->text().section(QLatin1Char('\t'), 1), named(a->text())});
        }
        for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
            if (!b->shortcut().isEmpty())
                keys.append({b->shortcut().toString(QKeySequence::NativeText), named(b->text())});
        return keys;
    }

    // Each key of the window, given to tab 1 as its stop key and as its
    // volume keys, is refused with a message that names what holds it;
    // the tab keeps its keys.
    void checkWindowKeysRefused()
    {
        const QList<std::pair<QString, QString>> keys = windowKeys();
        QVERIFY2(keys.size() >= 20, qPrintable(QString::number(keys.size())));
        const TabData before = session().tabs[1];
        for (const auto& [key, name] : keys) {
            for (const QString kind : {QStringLiteral("stop"), QStringLiteral("up"), QStringLiteral("down")}) {
                const QList<Script::Asked> asked = giveTabKey(1, kind, key);
                QCOMPARE(asked.size(), 3);
                QCOMPARE(asked[2].kind, Modal::Kind::MessageBox);
                QCOMPARE(asked[2].title, asked[1].title);
                const QString expected =
                    QStringLiteral("Key \"%1\" is already assigned to \"%2\".").arg(key, name);
                QVERIFY2(asked[2].text.startsWith(expected), qPrintable(asked[2].text + QStringLiteral(" / ") + key));
                QCOMPARE(tabKey(session().tabs[1], kind), tabKey(before, kind));
            }
        }
        QCOMPARE(session().tabs[1], before);
        QCOMPARE(A::panels(w)[1].header->m_stopKey, before.stopKey);
        QCOMPARE(A::panels(w)[1].header->m_volUpKey, before.volUpKey);
        QCOMPARE(A::panels(w)[1].header->m_volDnKey, before.volDnKey);
        QCOMPARE(A::tabStopShortcuts(w).size(), 2);
        QCOMPARE(A::tabVolShortcuts(w).size(), 4);
    }

    // The keys each prompt offers as examples are taken and do their work
    // on tab 1 (volume 15).
    void checkPromptExamples()
    {
        for (const QString kind : {QStringLiteral("stop"), QStringLiteral("up"), QStringLiteral("down")}) {
            const QList<Script::Asked> asked = giveTabKey(1, kind, QVariant());
            QCOMPARE(asked.size(), 2);
            const QRegularExpressionMatch m =
                QRegularExpression(QStringLiteral("\\(e\\.g\\. (.+)\\):$")).match(asked[1].label);
            QVERIFY2(m.hasMatch(), qPrintable(asked[1].label));
            const QStringList examples = m.captured(1).split(QStringLiteral(", "));
            QVERIFY(examples.size() >= 2);
            for (const QString& example : examples) {
                QCOMPARE(giveTabKey(1, kind, example).size(), 2); // nothing said
                QCOMPARE(tabKey(session().tabs[1], kind), example);
                rec.reset();
                A::panels(w)[1].header->m_volSlider->setValue(15);
                rec.take();
                QTest::keySequence(w, QKeySequence(example));
                if (kind == QLatin1String("stop")) {
                    const QStringList stops = callsNaming(rec.take(), QStringLiteral("audio.stop "));
                    QVERIFY2(stops.size() == 24 && stops.first().startsWith(QStringLiteral("audio.stop t1")),
                             qPrintable(example + QLatin1Char(' ') + stops.join(QLatin1Char('|'))));
                } else {
                    QVERIFY2(A::panels(w)[1].header->m_volSlider->value() == (kind == QLatin1String("up") ? 20 : 10),
                             qPrintable(example));
                }
            }
        }
    }

    // Tab keys given through a header. One stop key on two tabs: a file
    // that gives it to both gets one shortcut that stops both; the header
    // moves it to the tab it is given to, and says from which tab. Never a
    // key that stops nothing. A key that a window command, a button or
    // another tab key holds is refused with a message that names the holder
    // ("every window key": each key of the shown window's shortcut map);
    // the keys the prompts give as examples all work.
    void tabKeysFromTheHeader_data()
    {
        QTest::addColumn<bool>("fromFile");
        QTest::addColumn<int>("assignTo"); // the tab whose header is given the key; -1: none
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("key"); // empty: tab 0's stop key
        QTest::addColumn<QList<int>>("stopped");
        QTest::addColumn<int>("shortcuts");
        QTest::addColumn<QString>("said"); // how the refusal starts; empty: none
        QTest::addColumn<QString>("toastText");
        const QString stop = QStringLiteral("stop");
        QTest::newRow("from a file") << true << -1 << stop << QString() << QList<int>{0, 1} << 1 << QString()
                                     << QString();
        QTest::newRow("from the header") << false << 1 << stop << QString() << QList<int>{1} << 1 << QString()
                                         << "⌨️  Stop key Ctrl+Alt+Shift+A moved from tab 'Tab 1'";
        QTest::newRow("own key again") << false << 0 << stop << QString() << QList<int>{0} << 2 << QString()
                                       << QString();
        QTest::newRow("every window key") << false << 1 << stop << "every window key" << QList<int>{0} << 2
                                          << QString() << QString();
        QTest::newRow("the prompts' examples") << false << 1 << stop << "examples" << QList<int>{0} << 2
                                               << QString() << QString();
        auto taken = [](const QString& key, const QString& holder) {
            return QStringLiteral("Key \"%1\" is already assigned to %2.\n\nChoose another key.").arg(key, holder);
        };
        QTest::newRow("Ctrl+1, go to tab 1") << false << 1 << stop << "Ctrl+1" << QList<int>{0} << 2
                                             << taken("Ctrl+1", "\"Go to Tab 1\"") << QString();
        QTest::newRow("shifted Space") << false << 1 << stop << "Shift+Space" << QList<int>{0} << 2
                                       << taken("Shift+Space", "\"Stop All\"") << QString();
        QTest::newRow("a button's key") << false << 1 << stop << "B" << QList<int>{0} << 2
                                        << taken("B", "button \"Sound t1b1\" on tab 'Tab 2'") << QString();
        QTest::newRow("a button's key typed lower-case") << false << 1 << "down" << "b" << QList<int>{0} << 2
                                                         << taken("B", "button \"Sound t1b1\" on tab 'Tab 2'")
                                                         << QString();
        QTest::newRow("another tab's volume key") << false << 1 << stop << "Alt+A" << QList<int>{0} << 2
                                                  << taken("Alt+A", "the volume up key of tab 'Tab 1'") << QString();
        QTest::newRow("a name of no key") << false << 1 << stop << "Ctrl+Foo" << QList<int>{0} << 2
                                          << "\"Ctrl+Foo\" names no key: it would do nothing." << QString();
        QTest::newRow("volume up on another tab's stop key")
            << false << 1 << "up" << "Ctrl+Alt+Shift+A" << QList<int>{0} << 2
            << taken("Ctrl+Alt+Shift+A", "the Stop Tab key of tab 'Tab 1'") << QString();
        QTest::newRow("volume down on the tab's own volume up")
            << false << 1 << "down" << "Alt+B" << QList<int>{0} << 2
            << taken("Alt+B", "the volume up key of tab 'Tab 2'") << QString();
        QTest::newRow("volume up on F1 of a button") << false << 1 << "up" << "F1" << QList<int>{0} << 2
                                                    << taken("F1", "button \"Sound t0b0\" on tab 'Tab 1'")
                                                    << QString();
    }
    void tabKeysFromTheHeader()
    {
        QFETCH(bool, fromFile);
        QFETCH(int, assignTo);
        QFETCH(QString, kind);
        QFETCH(QString, key);
        QFETCH(QList<int>, stopped);
        QFETCH(int, shortcuts);
        QFETCH(QString, said);
        QFETCH(QString, toastText);
        Session s = board(2);
        s.tabs[0].buttons[0].key = QStringLiteral("F1");
        const QString stopKey = s.tabs[0].stopKey;
        if (fromFile)
            s.tabs[1].stopKey = stopKey;
        start(s, 0);
        if (key == QLatin1String("every window key"))
            checkWindowKeysRefused();
        else if (key == QLatin1String("examples"))
            checkPromptExamples();
        if (key == QLatin1String("every window key") || key == QLatin1String("examples"))
            return;
        const TabData before = session().tabs.value(assignTo);
        if (assignTo >= 0) {
            const QList<Script::Asked> asked = giveTabKey(assignTo, kind, key.isEmpty() ? stopKey : key);
            QCOMPARE(asked.size(), said.isEmpty() ? 2 : 3);
            QCOMPARE(asked[0].title, QString());
            if (!said.isEmpty()) {
                QVERIFY2(asked[2].text.startsWith(said), qPrintable(asked[2].text));
                QCOMPARE(session().tabs[assignTo], before);
                QCOMPARE(A::panels(w)[assignTo].header->m_stopKey, before.stopKey);
                QCOMPARE(A::panels(w)[assignTo].header->m_volUpKey, before.volUpKey);
                QCOMPARE(A::panels(w)[assignTo].header->m_volDnKey, before.volDnKey);
            }
        }
        QCOMPARE(toastShown(toastText), !toastText.isEmpty());
        for (int t = 0; t < 2; ++t) {
            const bool holds = stopped.contains(t);
            QCOMPARE(session().tabs[t].stopKey == stopKey, holds);
            QCOMPARE(A::panels(w)[t].header->m_stopKey == stopKey, holds);
        }
        QCOMPARE(A::tabStopShortcuts(w).size(), shortcuts);
        rec.reset();
        QTest::keySequence(w, QKeySequence(stopKey));
        const QStringList stops = callsNaming(rec.take(), QStringLiteral("audio.stop "));
        QCOMPARE(stops.size(), 24 * stopped.size());
        for (const QString& c : stops)
            QVERIFY2(stopped.contains(c.mid(12, 1).toInt()), qPrintable(c));
    }

    void midiTargetsFollowTheirTabs_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("current");
        QTest::addColumn<QStringList>("after");
        QTest::addColumn<int>("saves");
        QTest::addColumn<QString>("armed");      // the learn target armed before the command
        QTest::addColumn<QString>("armedAfter"); // empty: learn cancelled
        const QStringList afterDelete{"__tab_stop_0__", "__tab_vol_1__", "__tab_stop_1__", "btn"};
        QTest::newRow("delete tab 2") << "delete" << 1 << afterDelete << 1 << "__tab_stop_2__" << "__tab_stop_1__";
        QTest::newRow("delete tab 2, learning a button") << "delete" << 1 << afterDelete << 1 << "btn" << "btn";
        QTest::newRow("delete tab 2, learning its stop") << "delete" << 1 << afterDelete << 1 << "__tab_stop_1__"
                                                         << "";
        QTest::newRow("duplicate tab 1") << "dup" << 0
                                         << QStringList{"__tab_stop_0__", "__tab_stop_2__", "__tab_vol_3__",
                                                        "__tab_stop_3__", "btn", "__tab_vol_2__"}
                                         << 1 << "__tab_vol_1__" << "__tab_vol_2__";
        QTest::newRow("delete the last") << "delete" << 3
                                         << QStringList{"__tab_stop_0__", "__tab_stop_1__", "__tab_vol_2__",
                                                        "__tab_stop_2__", "btn", "__tab_vol_1__"}
                                         << 0 << "__tab_vol_3__" << "";
        QTest::newRow("add") << "add" << 0
                             << QStringList{"__tab_stop_0__", "__tab_stop_1__", "__tab_vol_2__", "__tab_stop_2__",
                                            "btn", "__tab_vol_1__"}
                             << 0 << "__tab_stop_1__" << "__tab_stop_1__";
    }
    void midiTargetsFollowTheirTabs()
    {
        QFETCH(QString, command);
        QFETCH(int, current);
        QFETCH(QStringList, after);
        QFETCH(int, saves);
        QFETCH(QString, armed);
        QFETCH(QString, armedAfter);
        start(board(4), current);
        MidiManager* mm = MidiManager::instance();
        mm->replaceMappings({tabTarget(QStringLiteral("__tab_stop_0__"), 1, false),
                             tabTarget(QStringLiteral("__tab_stop_1__"), 2, false),
                             tabTarget(QStringLiteral("__tab_vol_2__"), 3, true),
                             tabTarget(QStringLiteral("__tab_stop_2__"), 4, false),
                             tabTarget(QStringLiteral("btn"), 5, false),
                             tabTarget(QStringLiteral("__tab_vol_1__"), 6, true)});
        mm->startLearn(armed);
        QSignalSpy changed(mm, &MidiManager::mappingChanged);
        Script script;
        script.answer(QMessageBox::Yes);
        if (command == QLatin1String("delete"))
            w->onDeleteTab();
        else if (command == QLatin1String("dup"))
            w->onDuplicateTab();
        else
            w->onAddTab();
        QCOMPARE(targets(), after);
        QCOMPARE(changed.count(), saves);
        // An armed learn follows its tab, or ends with a word when the tab is gone.
        QCOMPARE(mm->isLearning(), !armedAfter.isEmpty());
        QCOMPARE(mm->learnTarget(), armedAfter);
        QCOMPARE(toastShown(QStringLiteral("🎹  MIDI Learn cancelled — its tab was deleted")), armedAfter.isEmpty());
        mm->stopLearn();
        mm->clearAllMappings();
    }
};

QTEST_MAIN(TestTabCommands)
#include "tst_tab_commands.moc"
