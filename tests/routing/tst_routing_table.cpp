// The routing of one press as a table: rule source and the three rules, the
// pressed button playing or not, other sounds in its tab and in the other
// tab, rapid or not, pre-decoded sound ready or not; and the exact calls of
// the faded stops, volumes, devices and the tab lookup.
#include <QAudioDevice>
#include <QMediaDevices>
#include <QScopeGuard>
#include <QtTest>

#include "RoutingSupport.h"

using A = RoutingTestAccess;
using namespace RoutingTest;

namespace {

// Fading*: the pressed sound is on its stop fade (its pad already dark).
enum Pressed { Idle, OnAudio, OnDs, FadingAudio, FadingDs };

} // namespace

class TestRoutingTable : public QObject
{
    Q_OBJECT
    MainWindow* w = nullptr;
    RecordingEngines rec;

    void setRules(bool tabRules, bool as, bool rs, bool cts)
    {
        // The source not in use holds the opposite rules, so a row shows
        // which one the routing read.
        TabData& t = SessionManager::instance()->session().tabs[0];
        t.useTabPb = tabRules;
        t.pb_as = tabRules ? as : !as;
        t.pb_rs = tabRules ? rs : !rs;
        t.pb_cts = tabRules ? cts : !cts;
        A::toggle(w, 0)->setChecked(tabRules ? !as : as);
        A::toggle(w, 1)->setChecked(tabRules ? !rs : rs);
        A::toggle(w, 2)->setChecked(tabRules ? !cts : cts);
    }

    void reset()
    {
        rec.reset();
        rec.ready.clear();
        rec.dsUp = true;
        rec.wasapiUp = false;
        showAllIdle(w);
        A::musicId(w).clear();
        Session& s = SessionManager::instance()->session();
        for (TabData& t : s.tabs) {
            t.fadeMs = 0;
            t.useTabPb = false;
            t.soundCard.clear();
            for (ButtonData& b : t.buttons)
                b.rapid = false;
        }
        for (int t = 0; t < s.tabs.size(); ++t)
            rec.tabVol[t] = 1.0;
        setRules(false, false, true, true);
    }

private slots:
    void initTestCase()
    {
        w = windowOn(rec);
        load(twoTabs());
        QCOMPARE(A::panels(w).size(), 2);
    }
    void cleanupTestCase() { closeWindow(w); }
    void init() { reset(); }

    void rules_data()
    {
        QTest::addColumn<bool>("tabRules");
        QTest::addColumn<bool>("as");
        QTest::addColumn<bool>("rs");
        QTest::addColumn<bool>("cts");
        QTest::addColumn<int>("pressed");
        QTest::addColumn<bool>("others");
        QTest::addColumn<bool>("rapid");
        QTest::addColumn<bool>("ready");
        for (int bits = 0; bits < 128; ++bits) {
            const bool tabRules = bits & 1, as = bits & 2, rs = bits & 4, cts = bits & 8;
            const bool others = bits & 16, rapid = bits & 32, ready = bits & 64;
            for (int pressed : {Idle, OnAudio, OnDs, FadingAudio, FadingDs}) {
                if ((pressed == OnDs || pressed == FadingDs) && !ready)
                    continue; // a pre-decoded voice needs its decoded sound
                const char* const how[] = {"idle", "audio", "ds", "audio-fading", "ds-fading"};
                QTest::addRow("%s as%d rs%d cts%d pressed-%s others%d rapid%d ready%d",
                              tabRules ? "tab" : "global", as, rs, cts, how[pressed], others, rapid, ready)
                    << tabRules << as << rs << cts << pressed << others << rapid << ready;
            }
        }
    }
    void rules()
    {
        QFETCH(bool, tabRules);
        QFETCH(bool, as);
        QFETCH(bool, rs);
        QFETCH(bool, cts);
        QFETCH(int, pressed);
        QFETCH(bool, others);
        QFETCH(bool, rapid);
        QFETCH(bool, ready);

        setRules(tabRules, as, rs, cts);
        SessionManager::instance()->session().tabs[0].buttons[0].rapid = rapid;
        if (ready)
            rec.ready << QStringLiteral("P");
        if (pressed == OnAudio)
            rec.audio << QStringLiteral("P");
        if (pressed == OnDs)
            rec.dsMaster << QStringLiteral("P");
        if (pressed == FadingAudio) {
            rec.audio << QStringLiteral("P");
            rec.audioStopping << QStringLiteral("P");
        }
        if (pressed == FadingDs) {
            rec.dsMaster << QStringLiteral("P");
            rec.dsFading << QStringLiteral("P");
        }
        if (others) {
            rec.audio << QStringLiteral("S");    // same tab, players
            rec.dsMaster << QStringLiteral("Q"); // same tab, pre-decoded
            rec.dsMaster << QStringLiteral("O"); // other tab
        }
        // The music track is a button of the other tab here: never swept.
        rec.audio << QStringLiteral("M");
        A::musicId(w) = QStringLiteral("M");

        w->onPlayRequested(record(QStringLiteral("P")));
        const QStringList calls = rec.take();
        const bool pStartedDs = calls.contains(QStringLiteral("ds.triggerSingle P 1"));
        const bool pStartedAudio = calls.contains(QStringLiteral("audio.playRapid P 1 "));

        QVERIFY(rec.audio.contains(QStringLiteral("M")));
        if (rapid) {
            // Overlapping voices: no sweeps, no re-press, only the button lights.
            QCOMPARE(calls.contains(QStringLiteral("ds.trigger P 1")), ready);
            QCOMPARE(pStartedAudio, !ready);
            QVERIFY(!pStartedDs);
            QCOMPARE(rec.audio.contains(QStringLiteral("S")), others);
            QCOMPARE(rec.dsMaster.contains(QStringLiteral("O")), others);
            QVERIFY(!calls.contains(QStringLiteral("audio.notifyPlay P")));
            QVERIFY(widget(w, QStringLiteral("P"))->isPlaying());
            QVERIFY(!headerLit(w, 0));
            QVERIFY(A::nowPlayingId(w).isEmpty());
            return;
        }

        if (others) {
            QCOMPARE(!rec.audio.contains(QStringLiteral("S")), as);
            QCOMPARE(!rec.dsMaster.contains(QStringLiteral("Q")), as);
            QCOMPARE(!rec.dsMaster.contains(QStringLiteral("O")), cts);
        }

        if ((pressed == OnAudio || pressed == OnDs) && !rs) {
            // A second press stops it.
            QVERIFY(!rec.audio.contains(QStringLiteral("P")) && !rec.dsMaster.contains(QStringLiteral("P")));
            QVERIFY(!pStartedDs && !pStartedAudio);
            QVERIFY(!calls.contains(QStringLiteral("audio.notifyPlay P")));
            QVERIFY(!widget(w, QStringLiteral("P"))->isPlaying());
            return;
        }
        if (pressed == OnAudio) {
            // Restarted in place: no display work, no announcement.
            QVERIFY(pStartedAudio);
            QVERIFY(!pStartedDs);
            QVERIFY(!calls.contains(QStringLiteral("audio.notifyPlay P")));
            QVERIFY(A::nowPlayingId(w).isEmpty());
            return;
        }
        // A start: idle, a pre-decoded voice rewound, or a sound on its stop
        // fade (shown idle) started anew whatever the Restart rule.
        QCOMPARE(pStartedDs, ready);
        QCOMPARE(pStartedAudio, !ready);
        if (pressed == FadingAudio && !ready) { // the fading player gives way at once
            const qsizetype cut = calls.indexOf(QStringLiteral("audio.cancelFade P"));
            QVERIFY(cut >= 0 && cut < calls.indexOf(QStringLiteral("audio.playRapid P 1 ")));
        }
        QVERIFY(calls.contains(QStringLiteral("audio.notifyPlay P")));
        QVERIFY(widget(w, QStringLiteral("P"))->isPlaying());
        QCOMPARE(widget(w, QStringLiteral("P"))->triggerMark(), quint8(2));
        QVERIFY(headerLit(w, 0));
        QCOMPARE(A::nowPlayingId(w), QStringLiteral("P"));
        QCOMPARE(A::npTitle(w), QStringLiteral("Sound P"));
    }

    // The exact calls of a faded Auto-Stop: players fade, pre-decoded voices
    // fall in steps and are cut when the fade ends, a voice started again
    // meanwhile survives.
    void fadedStops()
    {
        setRules(false, true, true, false);
        SessionManager::instance()->session().tabs[0].fadeMs = 500.7;
        rec.audio << QStringLiteral("S");
        rec.dsMaster << QStringLiteral("Q");
        rec.ready << QStringLiteral("P") << QStringLiteral("Q");
        w->onPlayRequested(record(QStringLiteral("P")));
        QCOMPARE(rec.take().mid(0, 7), (QStringList{QStringLiteral("audio.fade S 500.7"),
                                                   QStringLiteral("audio.stop S"), QStringLiteral("later 500"),
                                                   QStringLiteral("audio.cancelFade Q"),
                                                   QStringLiteral("audio.stop Q"), QStringLiteral("ds.fade Q 500"),
                                                   QStringLiteral("later 500")}));
        QVERIFY(rec.dsMaster.contains(QStringLiteral("Q")));

        w->onPlayRequested(record(QStringLiteral("Q"))); // Q again before the cut
        rec.take();
        rec.runLater();
        QCOMPARE(rec.take(), QStringList{QStringLiteral("ds.stop S")} << QStringLiteral("ds.stop P"));
        QVERIFY(rec.dsMaster.contains(QStringLiteral("Q")));

        // A session file may hold any fade: the cut waits as long as a timer can.
        SessionManager::instance()->session().tabs[0].fadeMs = 1e12;
        rec.reset();
        rec.dsMaster << QStringLiteral("Q");
        w->onPlayRequested(record(QStringLiteral("P")));
        QVERIFY(rec.take().contains(QStringLiteral("later %1").arg(std::numeric_limits<int>::max())));
    }

    void fadeZeroStopsAtOnce()
    {
        setRules(false, false, false, true);
        rec.dsMaster << QStringLiteral("P");
        rec.ready << QStringLiteral("P");
        w->onPlayRequested(record(QStringLiteral("P")));
        QCOMPARE(rec.take(), (QStringList{QStringLiteral("audio.cancelFade P"), QStringLiteral("audio.stop P"),
                                          QStringLiteral("ds.stop P")}));
    }

    void volumes_data()
    {
        QTest::addColumn<double>("button");
        QTest::addColumn<double>("tab");
        QTest::addColumn<double>("passed");
        QTest::addColumn<double>("dsRapid");
        QTest::newRow("unity") << 1.0 << 1.0 << 1.0 << 1.0;
        QTest::newRow("button 2 on full tab") << 2.0 << 1.0 << 2.0 << 1.0;
        QTest::newRow("product capped") << 2.0 << 1.5 << 2.0 << 1.0;
        QTest::newRow("half tab") << 0.8 << 0.5 << 0.4 << 0.5;
        QTest::newRow("muted button") << 0.0 << 0.7 << 0.0 << 0.7;
        QTest::newRow("negative product") << -1.0 << 0.5 << 0.0 << 0.5;
    }
    void volumes()
    {
        QFETCH(double, button);
        QFETCH(double, tab);
        QFETCH(double, passed);
        QFETCH(double, dsRapid);
        rec.tabVol[0] = tab; // beyond 1 only through the recorder: the clamps are the window's
        ButtonData b = record(QStringLiteral("P"));
        b.volume = button;
        w->onPlayRequested(b);
        QVERIFY(rec.take().contains(QStringLiteral("audio.playRapid P %1 ").arg(passed)));

        rec.ready << QStringLiteral("P");
        rec.clearPlaying();
        w->onPlayRequested(b);
        QVERIFY(rec.take().contains(QStringLiteral("ds.triggerSingle P %1").arg(float(tab))));
        b.rapid = true;
        w->onPlayRequested(b);
        QVERIFY(rec.take().contains(QStringLiteral("ds.trigger P %1").arg(float(dsRapid))));
    }

    void device_data()
    {
        QTest::addColumn<QString>("buttonDevice");
        QTest::addColumn<QString>("tabDevice");
        QTest::addColumn<QString>("chosen");
        // A pre-decoded sound plays on the default output only: a device of
        // the button's or the tab's own takes the press to the players.
        QTest::addColumn<bool>("predecoded");
        QTest::addColumn<bool>("rapid");
        QTest::addColumn<QString>("windowDefault"); // the saved output; "system" for the system's default
        QTest::addColumn<bool>("onDs");
        // Pre-loading switched off: every press goes to the players.
        QTest::addColumn<bool>("preload");
        // The pre-decoded sound is of an earlier version of its file (saved
        // over since): the press plays the file as it is now through the
        // players, on whichever output, and has it decoded anew.
        QTest::addColumn<bool>("savedOver");
        QTest::newRow("button's own") << "btn-dev" << "tab-dev" << "btn-dev" << false << false << "" << false << true << false;
        QTest::newRow("tab's") << "" << "tab-dev" << "tab-dev" << false << false << "" << false << true << false;
        QTest::newRow("default") << "" << "" << "" << false << false << "" << false << true << false;
        QTest::newRow("button's own, pre-decoded") << "btn-dev" << "" << "btn-dev" << true << false << "" << false << true << false;
        QTest::newRow("tab's, pre-decoded") << "" << "tab-dev" << "tab-dev" << true << false << "" << false << true << false;
        QTest::newRow("tab's, pre-decoded rapid") << "" << "tab-dev" << "tab-dev" << true << true << "" << false << true << false;
        QTest::newRow("default, pre-decoded") << "" << "" << "" << true << false << "" << true << true << false;
        QTest::newRow("saved default elsewhere, pre-decoded") << "" << "" << "usb-dev" << true << false << "usb-dev"
                                                              << false << true << false;
        QTest::newRow("default, pre-decoded, pre-load off") << "" << "" << "" << true << false << "" << false << false << false;
        QTest::newRow("default, pre-decoded rapid, pre-load off") << "" << "" << "" << true << true << "" << false
                                                                  << false << false;
        QTest::newRow("saved default the system's, pre-decoded") << "" << "" << "system" << true << false << "system"
                                                                 << true << true << false;
        QTest::newRow("default, pre-decoded, saved over") << "" << "" << "" << true << false << "" << false << true
                                                          << true;
        QTest::newRow("default, pre-decoded rapid, saved over") << "" << "" << "" << true << true << "" << false
                                                                << true << true;
        QTest::newRow("button's own, pre-decoded, saved over") << "btn-dev" << "" << "btn-dev" << true << false << ""
                                                               << false << true << true;
    }
    void device()
    {
        QFETCH(QString, buttonDevice);
        QFETCH(QString, tabDevice);
        QFETCH(QString, chosen);
        QFETCH(bool, predecoded);
        QFETCH(bool, rapid);
        QFETCH(QString, windowDefault);
        QFETCH(bool, onDs);
        QFETCH(bool, preload);
        QFETCH(bool, savedOver);
        const QString system = QString::fromUtf8(QMediaDevices::defaultAudioOutput().id());
        if (windowDefault == QLatin1String("system"))
            windowDefault = chosen = system;
        A::defaultDevice(w) = windowDefault;
        A::preloadOn(w) = preload;
        auto restore = qScopeGuard([this] {
            A::defaultDevice(w).clear();
            A::preloadOn(w) = true;
        });
        SessionManager::instance()->session().tabs[0].soundCard = tabDevice;
        ButtonData b = record(QStringLiteral("P"));
        b.outputDevice = buttonDevice;
        b.rapid = rapid;
        if (predecoded)
            rec.ready << QStringLiteral("P");
        if (savedOver)
            rec.stale << QStringLiteral("P");
        rec.wasapiUp = true;
        rec.wasapiDev = QStringLiteral("stream-dev");
        w->onPlayRequested(b);
        const QStringList calls = rec.take();
        QCOMPARE(calls.join(' ').contains(QLatin1String("ds.trigger")), onDs);
        QCOMPARE(calls.join(' ').contains(QLatin1String("ds.preload P")), savedOver);
        if (savedOver) {
            // Decoded anew: the next press on the default output is pre-decoded again.
            QVERIFY(!rec.stale.contains(QStringLiteral("P")));
            rec.ready << QStringLiteral("P");
            if (chosen.isEmpty()) {
                rec.clearPlaying();
                w->onPlayRequested(b);
                const QString next = rec.take().join(' ');
                QVERIFY(next.contains(QLatin1String("ds.trigger")));
                QVERIFY(!next.contains(QLatin1String("ds.preload")));
            }
        }
        if (onDs)
            return;
        QVERIFY(calls.contains(QStringLiteral("audio.playRapid P 1 ") + chosen));
        if (rapid)
            return;
        // The float stream follows a named device after the press returns;
        // the players' default device is left alone.
        QCoreApplication::processEvents();
        const QStringList after = rec.take();
        QCOMPARE(after.contains(QStringLiteral("wasapi.reopen ") + chosen), !chosen.isEmpty());
        QVERIFY(!after.join(' ').contains(QLatin1String("defaultDevice")));
    }

    // A button moved to another tab behind the cache's back is still routed
    // with its own tab's rules; a button of no tab plays with the toolbar's.
    void tabLookup()
    {
        Session& s = SessionManager::instance()->session();
        s.tabs[1].buttons.append(s.tabs[0].buttons.takeAt(1)); // S into tab 2
        s.tabs[1].useTabPb = true;
        s.tabs[1].pb_as = true;
        s.tabs[1].pb_cts = false;
        A::toggle(w, 2)->setChecked(false);
        rec.audio << QStringLiteral("O");
        w->onPlayRequested(record(QStringLiteral("S")));
        QVERIFY(!rec.audio.contains(QStringLiteral("O"))); // tab 2's Auto-Stop
        QCOMPARE(A::tabIndexCache(w).value(QStringLiteral("S")), 1);
        s.tabs[0].buttons.insert(1, s.tabs[1].buttons.takeLast());
        w->refreshTabDerivedState();

        ButtonData stray = button(QStringLiteral("X"), QStringLiteral("/x/x.wav"));
        rec.audio << QStringLiteral("O");
        A::toggle(w, 2)->setChecked(true);
        w->onPlayRequested(stray);
        QVERIFY(!rec.audio.contains(QStringLiteral("O"))); // the toolbar's Cross-Tab Stop
        QVERIFY(rec.take().contains(QStringLiteral("audio.playRapid X 1 ")));
    }

    void emptyButtonPlaysNothing()
    {
        w->onPlayRequested(button(QStringLiteral("E"), QString()));
        QVERIFY(rec.take().isEmpty());
        QVERIFY(A::nowPlayingId(w).isEmpty());
    }
};

QTEST_MAIN(TestRoutingTable)
#include "tst_routing_table.moc"
