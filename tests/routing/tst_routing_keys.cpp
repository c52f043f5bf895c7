// Keys on the recorder: the application filter and the window's own key
// handling, with text and number fields, with a modal dialog open, repeats,
// the hot-key guard, F-keys, the Control commands and the tab strip's wheel.
#include <QAbstractItemView>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMenu>
#include <QScopeGuard>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QtTest>

#include <memory>
#include <tuple>

#include "AppSettings.h"
#include "RoutingSupport.h"
#include "TestSupport.h"

using A = RoutingTestAccess;
using namespace RoutingTest;

namespace {

qint64 g_now = 5'000'000;

bool sendKey(QObject* to, int key, const QString& text, bool autoRepeat = false,
             Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QKeyEvent e(QEvent::KeyPress, key, mods, text, autoRepeat);
    QCoreApplication::sendEvent(to, &e);
    return e.isAccepted();
}

// A popup of the kind, opened for real over the window: the pane header's
// output chooser and tab chooser, the music panel's device and fade choosers,
// or a menu.
QWidget* openPopup(MainWindow* w, const QString& kind, std::unique_ptr<QMenu>& menu)
{
    if (kind == QLatin1String("menu")) {
        menu = std::make_unique<QMenu>(w);
        menu->addAction(QStringLiteral("One"));
        menu->addAction(QStringLiteral("Two"));
        menu->popup(w->mapToGlobal(QPoint(40, 40)));
        return menu.get();
    }
    QComboBox* combo = nullptr;
    if (kind.startsWith(QLatin1String("header"))) {
        const QList<QComboBox*> boxes =
            RoutingTestAccess::panels(w)[0].header->findChildren<QComboBox*>(QStringLiteral("gridHeaderCombo"));
        combo = boxes.value(kind == QLatin1String("header output") ? 0 : 1);
    } else if (kind == QLatin1String("music device")) {
        combo = w->findChild<QComboBox*>(QStringLiteral("musicDevComboBox"));
    } else {
        for (QComboBox* c : w->findChildren<QComboBox*>())
            if (c->findText(QStringLiteral("2s fade")) >= 0)
                combo = c;
    }
    if (!combo)
        return nullptr;
    if (combo->count() == 0)
        combo->addItems({QStringLiteral("one"), QStringLiteral("two")});
    // The music panel's bars show with their panel and mode; here they are
    // simply shown.
    for (QWidget* p = combo; p && p != w; p = p->parentWidget())
        if (p->isHidden())
            p->show();
    combo->showPopup();
    return combo->view() ? combo->view()->window() : nullptr;
}

// A press or release as the window system sends it, with its time stamp
// and without the auto-repeat flag.
bool sendStamped(QObject* to, QEvent::Type type, int key, const QString& text, quint64 stamp)
{
    QKeyEvent e(type, key, Qt::NoModifier, text, false);
    e.setTimestamp(stamp);
    QCoreApplication::sendEvent(to, &e);
    return e.isAccepted();
}

// Records the pads do not show: tab 1 is filled to the 24 the session shows
// and then holds H (key H); tab 2 likewise holds J (key J) and HK, whose
// key K is also O's (a later record wins the key, but a hidden one never).
void addHiddenRecords(Session& s)
{
    const QStringList hidden[] = {{QStringLiteral("H")}, {QStringLiteral("J"), QStringLiteral("HK")}};
    for (int t = 0; t < 2; ++t) {
        QList<ButtonData>& buttons = s.tabs[t].buttons;
        while (buttons.size() < s.buttonsPerTab) {
            ButtonData filler;
            filler.id = QStringLiteral("pad-%1-%2").arg(t).arg(buttons.size());
            buttons << filler;
        }
        for (const QString& id : hidden[t]) {
            ButtonData b = RoutingTest::button(id, QStringLiteral("/x/hidden.wav"));
            b.key = id.right(1);
            buttons << b;
        }
    }
}

int countOf(const QStringList& calls, const QString& prefix)
{
    int n = 0;
    for (const QString& c : calls)
        n += c.startsWith(prefix) ? 1 : 0;
    return n;
}

} // namespace

class TestRoutingKeys : public QObject
{
    Q_OBJECT
    MainWindow* w = nullptr;
    RecordingEngines rec;

    QWidget* grid(int pane) { return A::panels(w)[pane].grid; }

private slots:
    void initTestCase()
    {
        MainWindow::setWallClock([] { return g_now; });
        w = windowOn(rec);
        Session s = twoTabs();
        s.tabs[0].buttons[0].key = QStringLiteral("A");   // P, current tab
        s.tabs[0].buttons[1].key = QStringLiteral("F5");  // S
        s.tabs[1].buttons[0].key = QStringLiteral("K");   // O, other tab
        s.tabs[1].buttons[1].key = QStringLiteral("R");   // M, other tab, rapid
        s.tabs[1].buttons[1].rapid = true;
        addHiddenRecords(s);
        load(s);
        w->show();
        QVERIFY(QTest::qWaitForWindowActive(w));
        A::toggle(w, 1)->setChecked(true); // Restart on Re-Click
    }
    void cleanupTestCase() { closeWindow(w); }
    void init()
    {
        rec.reset();
        A::currentTab(w) = 0;
        w->setFocus();
        g_now += 10'000;
    }

    // The current tab's key fires through the filter (no latency stamp); a
    // key of another tab reaches the window's own lookup (stamped).
    void currentAndOtherTabKeys()
    {
        QVERIFY(sendKey(grid(0), Qt::Key_A, QStringLiteral("a")));
        QStringList calls = rec.take();
        QVERIFY(calls.contains(QStringLiteral("audio.playRapid P 1 ")));
        QVERIFY(!calls.contains(QStringLiteral("wasapi.stamp")));

        QVERIFY(sendKey(grid(0), Qt::Key_F5, QString()));
        QVERIFY(rec.take().contains(QStringLiteral("audio.playRapid S 1 ")));

        QVERIFY(sendKey(grid(0), Qt::Key_K, QStringLiteral("k")));
        calls = rec.take();
        QCOMPARE(calls.value(0), QStringLiteral("wasapi.stamp"));
        QVERIFY(calls.contains(QStringLiteral("audio.playRapid O 1 ")));

        QVERIFY(!sendKey(grid(0), Qt::Key_Z, QStringLiteral("z"))); // bound nowhere
        QVERIFY(rec.take().isEmpty());
    }

    // A held normal key fires once, a rapid one on every repeat; two presses
    // of a normal key 5 ms apart fire once.
    void repeatsAndGuard()
    {
        sendKey(w, Qt::Key_K, QStringLiteral("k"));
        for (int i = 0; i < 3; ++i) {
            g_now += 30;
            sendKey(w, Qt::Key_K, QStringLiteral("k"), true);
        }
        QCOMPARE(countOf(rec.take(), QStringLiteral("audio.playRapid O")), 1);

        g_now += 1000;
        sendKey(w, Qt::Key_K, QStringLiteral("k"));
        g_now += 5;
        sendKey(w, Qt::Key_K, QStringLiteral("k"));
        QCOMPARE(countOf(rec.take(), QStringLiteral("audio.playRapid O")), 1);
        g_now += 10;
        sendKey(w, Qt::Key_K, QStringLiteral("k"));
        QCOMPARE(countOf(rec.take(), QStringLiteral("audio.playRapid O")), 1);

        sendKey(w, Qt::Key_R, QStringLiteral("r"));
        for (int i = 0; i < 3; ++i)
            sendKey(w, Qt::Key_R, QStringLiteral("r"), true);
        QCOMPARE(countOf(rec.take(), QStringLiteral("audio.playRapid M")), 4);

        // The current tab's key, matched by the filter, is under the same
        // guard: with Restart off a double fire would start and stop at once.
        A::toggle(w, 1)->setChecked(false);
        for (const auto& [key, text, id] : {std::tuple(Qt::Key_A, QStringLiteral("a"), QStringLiteral("P")),
                                            std::tuple(Qt::Key_F5, QString(), QStringLiteral("S"))}) {
            g_now += 1000;
            sendKey(grid(0), key, text);
            rec.audio.insert(id); // now playing
            g_now += 5;
            sendKey(grid(0), key, text);
            const QStringList calls = rec.take();
            QCOMPARE(countOf(calls, QStringLiteral("audio.playRapid ") + id), 1);
            QVERIFY2(!calls.contains(QStringLiteral("audio.stop ") + id), qPrintable(calls.join(", ")));
            g_now += 10; // past the guard: the press stops the playing sound
            sendKey(grid(0), key, text);
            QVERIFY(rec.take().contains(QStringLiteral("audio.stop ") + id));
            rec.audio.remove(id);
        }
        A::toggle(w, 1)->setChecked(true);
    }

    // A held key whose repeats come as a release and a press of one time
    // stamp, without the repeat flag: a normal button fires once, a rapid one
    // on every repeat, on both paths (the current tab's keys through the
    // application filter, the other tab's through the window's own lookup).
    // The next real press, at a time stamp of its own, fires again.
    void unflaggedRepeats_data()
    {
        QTest::addColumn<bool>("toGrid");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("id");
        QTest::addColumn<bool>("rapid");
        QTest::newRow("current tab, normal") << true << int(Qt::Key_A) << "a" << "P" << false;
        QTest::newRow("current tab, F-key") << true << int(Qt::Key_F5) << "" << "S" << false;
        QTest::newRow("current tab, rapid") << true << int(Qt::Key_A) << "a" << "P" << true;
        QTest::newRow("other tab, normal") << false << int(Qt::Key_K) << "k" << "O" << false;
        QTest::newRow("other tab, rapid") << false << int(Qt::Key_R) << "r" << "M" << true;
    }
    void unflaggedRepeats()
    {
        QFETCH(bool, toGrid);
        QFETCH(int, key);
        QFETCH(QString, text);
        QFETCH(QString, id);
        QFETCH(bool, rapid);
        ButtonData& p = SessionManager::instance()->session().tabs[0].buttons[0];
        if (id == QLatin1String("P"))
            p.rapid = rapid;
        const auto restore = qScopeGuard([&p] { p.rapid = false; });
        QObject* to = toGrid ? static_cast<QObject*>(grid(0)) : w;
        static quint64 stamp = 700'000;
        stamp += 10'000;

        sendStamped(to, QEvent::KeyPress, key, text, stamp);
        const int repeats = 4;
        for (int i = 1; i <= repeats; ++i) {
            g_now += 33;
            stamp += 33;
            sendStamped(to, QEvent::KeyRelease, key, text, stamp);
            sendStamped(to, QEvent::KeyPress, key, text, stamp);
        }
        QCOMPARE(countOf(rec.take(), QStringLiteral("audio.playRapid ") + id), rapid ? 1 + repeats : 1);

        // Let go, and pressed again.
        g_now += 200;
        stamp += 33;
        sendStamped(to, QEvent::KeyRelease, key, text, stamp);
        stamp += 200;
        sendStamped(to, QEvent::KeyPress, key, text, stamp);
        sendStamped(to, QEvent::KeyRelease, key, text, stamp + 80);
        QCOMPARE(countOf(rec.take(), QStringLiteral("audio.playRapid ") + id), 1);
    }

    // Only the records a pad shows play by their keys; the hidden ones stay
    // in the session. Once the tabs show more buttons, they play.
    void hiddenRecordsFireNothing_data()
    {
        QTest::addColumn<bool>("toGrid");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("fired"); // with 24 shown; empty: nothing
        QTest::addColumn<QString>("firedAt48");
        QTest::newRow("current tab") << true << int(Qt::Key_H) << "h" << "" << "H";
        QTest::newRow("other tab") << false << int(Qt::Key_J) << "j" << "" << "J";
        QTest::newRow("a shown button's key") << false << int(Qt::Key_K) << "k" << "O" << "HK";
    }
    void hiddenRecordsFireNothing()
    {
        QFETCH(bool, toGrid);
        QFETCH(int, key);
        QFETCH(QString, text);
        QFETCH(QString, fired);
        QFETCH(QString, firedAt48);
        QObject* to = toGrid ? static_cast<QObject*>(grid(0)) : w;
        sendKey(to, key, text);
        QStringList calls = rec.take();
        QVERIFY2(fired.isEmpty() ? calls.isEmpty() : calls.contains(QStringLiteral("audio.playRapid %1 1 ").arg(fired)),
                 qPrintable(calls.join(QLatin1String(", "))));
        QCOMPARE(countOf(calls, QStringLiteral("audio.playRapid ")), fired.isEmpty() ? 0 : 1);
        QCOMPARE(record(QStringLiteral("H")).key, QStringLiteral("H")); // still in the session

        // 48 a tab: every record shows now.
        Session before = SessionManager::instance()->session();
        const auto restore = qScopeGuard([&] {
            load(before);
            A::toggle(w, 1)->setChecked(true);
        });
        w->setButtonsPerTab(48);
        rec.reset();
        g_now += 1000;
        sendKey(to, key, text);
        calls = rec.take();
        QVERIFY2(calls.contains(QStringLiteral("audio.playRapid %1 1 ").arg(firedAt48)),
                 qPrintable(calls.join(QLatin1String(", "))));
    }

    // Text and number fields keep their keys: letters type, Space types a
    // space, nothing fires or stops.
    void fieldsKeepTheirKeys()
    {
        QLineEdit search(w);
        QSpinBox number(w);
        search.show();
        number.show();
        search.setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), &search);
        QTest::keyClicks(&search, QStringLiteral("a a"));
        QCOMPARE(search.text(), QStringLiteral("a a"));
        number.setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), &number);
        QTest::keyClick(&number, Qt::Key_Space);
        QTest::keyClick(&number, Qt::Key_A);
        QVERIFY(rec.take().isEmpty());
    }

    // With a modal dialog open the application's keys stay out of it: Esc
    // closes the dialog instead of a panic, letters fire nothing.
    void modalDialogOwnsTheKeys()
    {
        QDialog dialog(w);
        dialog.setModal(true);
        auto* field = new QLineEdit(&dialog);
        Q_UNUSED(field);
        dialog.show();
        QTRY_VERIFY(QApplication::activeModalWidget() == &dialog);
        sendKey(&dialog, Qt::Key_A, QStringLiteral("a"));
        sendKey(&dialog, Qt::Key_Space, QStringLiteral(" "));
        sendKey(&dialog, Qt::Key_Escape, QString());
        QVERIFY(!dialog.isVisible());
        QVERIFY(rec.take().isEmpty());
        QVERIFY(rec.pending.isEmpty()); // no panic queued
    }

    // With a popup open every key is the popup's, whichever way it arrives
    // (sent to the window as the window system sends it): Esc only closes
    // the popup, and Space, a hot key of the current tab or of another tab
    // and an F-key neither stop nor fire anything. The same keys with no
    // popup act on the sounds.
    void popupsKeepTheirKeys_data()
    {
        QTest::addColumn<QString>("popup");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("fired"); // with no popup open
        const QList<QPair<int, QString>> keys = {{Qt::Key_Escape, QStringLiteral("later 0")},
                                                 {Qt::Key_Space, QStringLiteral("ds.stop P")},
                                                 {Qt::Key_A, QStringLiteral("audio.playRapid P")},
                                                 {Qt::Key_K, QStringLiteral("audio.playRapid O")},
                                                 {Qt::Key_F5, QStringLiteral("audio.playRapid S")}};
        for (const char* popup : {"header output", "header tab", "music device", "auto-mix fade", "menu", "none"})
            for (const auto& [key, fired] : keys)
                QTest::addRow("%s %s", popup, qPrintable(QKeySequence(key).toString()))
                    << QString::fromLatin1(popup) << key << fired;
    }

    void popupsKeepTheirKeys()
    {
        QFETCH(QString, popup);
        QFETCH(int, key);
        QFETCH(QString, fired);
        std::unique_ptr<QMenu> menu;
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        QWidget* open = nullptr;
        if (popup != QLatin1String("none")) {
            open = openPopup(w, popup, menu);
            QVERIFY2(open, qPrintable(popup));
            QTRY_COMPARE(QApplication::activePopupWidget(), open);
        }
        rec.take();
        const bool heldEsc = open && key == Qt::Key_Escape;
        if (heldEsc) {
            // Held down: the repeats that follow the close are the popup's too.
            QTest::keyPress(w->windowHandle(), Qt::Key_Escape);
            for (int i = 0; i < 2; ++i) {
                QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier, QString(), true);
                QCoreApplication::sendEvent(w->windowHandle(), &repeat);
            }
            QTest::keyRelease(w->windowHandle(), Qt::Key_Escape);
        } else {
            QTest::keyClick(w->windowHandle(), Qt::Key(key));
        }
        const QStringList calls = rec.take();
        if (open) {
            QVERIFY2(calls.isEmpty(), qPrintable(calls.join(QLatin1String(", "))));
            QVERIFY(rec.pending.isEmpty()); // no panic queued
            QCOMPARE(QApplication::activePopupWidget() == nullptr, key == Qt::Key_Escape);
            if (QWidget* still = QApplication::activePopupWidget())
                still->close();
            if (heldEsc) { // released: the next Esc is a panic again
                QTest::keyClick(w->windowHandle(), Qt::Key_Escape);
                QCOMPARE(rec.take(), QStringList{QStringLiteral("later 0")});
                rec.runLater();
            }
        } else {
            QVERIFY2(countOf(calls, fired) == 1, qPrintable(calls.join(QLatin1String(", "))));
            rec.runLater();
        }
        QTRY_VERIFY(!QApplication::activePopupWidget());
    }

    void spaceAndEsc()
    {
        rec.ready << QStringLiteral("P");
        sendKey(grid(0), Qt::Key_A, QStringLiteral("a"));
        rec.take();
        QVERIFY(sendKey(grid(0), Qt::Key_Space, QStringLiteral(" ")));
        QVERIFY(rec.take().contains(QStringLiteral("ds.stop P")));
        QVERIFY(!widget(w, QStringLiteral("P"))->isPlaying());
        QVERIFY(sendKey(grid(0), Qt::Key_Escape, QString()));
        QCOMPARE(rec.take(), QStringList{QStringLiteral("later 0")});
        rec.runLater();
        rec.ready.clear();
    }

    // Ctrl+Comma picks up a changed output device for the next press;
    // Ctrl+[ toggles the library panel.
    void controlKeys()
    {
        // The settings window opens and is closed at once.
        TestSupport::ModalScript closeDialogs([](const Modal::Request&) { return QVariant(); });
        {
            AppSettings s;
            s.setValue(QStringLiteral("audio/device"), QStringLiteral("usb-out"));
        }
        QVERIFY(sendKey(grid(0), Qt::Key_Comma, QStringLiteral(","), false, Qt::ControlModifier));
        sendKey(grid(0), Qt::Key_A, QStringLiteral("a"));
        QVERIFY(rec.take().contains(QStringLiteral("audio.playRapid P 1 usb-out")));
        {
            AppSettings s;
            s.remove(QStringLiteral("audio/device"));
        }
        w->openSettingsDialog();

        const bool before = A::leftPanelVisible(w);
        QVERIFY(sendKey(w, Qt::Key_BracketLeft, QStringLiteral("["), false, Qt::ControlModifier));
        QCOMPARE(A::leftPanelVisible(w), !before);
        sendKey(w, Qt::Key_BracketLeft, QStringLiteral("["), false, Qt::ControlModifier);
    }

    void wheelScrollsTheTabStrip()
    {
        QScrollArea* area = A::tabStripScroll(w);
        QScrollBar* bar = area->horizontalScrollBar();
        bar->setRange(0, 500);
        bar->setValue(0);
        QWheelEvent e(QPointF(5, 5), area->viewport()->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QVERIFY(QCoreApplication::sendEvent(area->viewport(), &e));
        QCOMPARE(bar->value(), 120);
    }
};

QTEST_MAIN(TestRoutingKeys)
#include "tst_routing_keys.moc"
