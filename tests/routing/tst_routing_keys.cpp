// Keys on the recorder: the application filter and the window's own key
// handling, with text and number fields, with a modal dialog open, repeats,
// the hot-key guard, F-keys, the Control commands and the tab strip's wheel.
#include <QDialog>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QtTest>

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
