// The way back to the display and every stop, on the recorder: pre-decoded
// sounds that end by themselves, the now-playing strip, positions, the stop
// commands with their guards and feedback, the volumes, and the state derived
// from tab positions and keys.
#include <QListWidget>
#include <QScopeGuard>
#include <QtTest>

#include <functional>

#include "AudioEngine.h"
#include "EventLog.h"
#include "Modal.h"
#include "MonoClock.h"
#include "SettingsDialog.h"
#include "TrimDialog.h"
#include "NowPlayingBar.h"
#include "ToolbarWaveformWidget.h"
#include "RoutingSupport.h"
#include "ThemeManager.h"
#include "WasapiEngine.h"

using A = RoutingTestAccess;
using namespace RoutingTest;

namespace {

qint64 g_now = 1'000'000;

} // namespace

class TestRoutingDisplay : public QObject
{
    Q_OBJECT
    MainWindow* w = nullptr;
    EventLog* log = nullptr;
    RecordingEngines rec;

    void press(const QString& id) { w->onPlayRequested(record(id)); }

    // S, its header unread, pressed under Auto-Stop while P plays: its stop
    // of P waits until it is heard. stopAll stops everything; P is pressed
    // again; then S's start is heard: P plays on, S is not shown playing.
    void heldPressLetGo(const std::function<void()>& stopAll)
    {
        QPushButton* autoStop = A::toggle(w, 0);
        const bool autoStopWas = autoStop->isChecked();
        autoStop->setChecked(true);
        const auto restore = qScopeGuard([&] {
            autoStop->setChecked(autoStopWas);
            rec.unread.clear();
            rec.ready << QStringLiteral("S");
        });
        rec.ready.remove(QStringLiteral("S"));
        rec.ready << QStringLiteral("P");
        rec.unread << QStringLiteral("S");
        press(QStringLiteral("P"));
        press(QStringLiteral("S"));
        QVERIFY(rec.dsIsPlaying(QStringLiteral("P")));
        QVERIFY(!widget(w, QStringLiteral("S"))->isPlaying());
        stopAll();
        QVERIFY(!rec.dsIsPlaying(QStringLiteral("P")));
        press(QStringLiteral("P"));
        QVERIFY(rec.dsIsPlaying(QStringLiteral("P")));
        log->clear();
        rec.take();
        w->onStartHeard(QStringLiteral("S"));
        QVERIFY(rec.dsIsPlaying(QStringLiteral("P")));
        QVERIFY(widget(w, QStringLiteral("P"))->isPlaying());
        QVERIFY(!widget(w, QStringLiteral("S"))->isPlaying());
        QCOMPARE(log->list()->count(), 0);
        QCOMPARE(rec.take(), QStringList());
    }

    // The pad of id made rapid and held down with the left button: it repeats.
    SoundButton* holdRapid(const QString& id)
    {
        SoundButton* pad = widget(w, id);
        ButtonData d = pad->buttonData();
        d.rapid = true;
        pad->setButtonData(d);
        QMouseEvent e(QEvent::MouseButtonPress, QPointF(30, 30), pad->mapToGlobal(QPointF(30, 30)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(pad, &e);
        return pad->isRepeating() ? pad : nullptr;
    }

private slots:
    void initTestCase()
    {
        MainWindow::setWallClock([] { return g_now; });
        w = windowOn(rec);
        log = new EventLog(w);
        A::setEventLog(w, log);
        load(twoTabs());
        // Auto-Stop and Cross-Tab Stop off: sounds pile up.
        A::toggle(w, 0)->setChecked(false);
        A::toggle(w, 2)->setChecked(false);
    }
    void cleanupTestCase() { closeWindow(w); }
    void init()
    {
        rec.reset();
        rec.ready = {QStringLiteral("P"), QStringLiteral("S"), QStringLiteral("O")};
        showAllIdle(w);
        A::musicId(w).clear();
        log->clear();
        g_now += 10'000;
    }

    // A pre-decoded sound that ends by itself gives its button, its header
    // and the strip back, as an AudioEngine sound does.
    void predecodedEndReturnsToIdle()
    {
        press(QStringLiteral("P"));
        press(QStringLiteral("S"));
        QVERIFY(headerLit(w, 0));
        QCOMPARE(A::nowPlayingId(w), QStringLiteral("S"));
        w->onPositionChanged(QStringLiteral("S"), 2000, 9000);
        QTimer* watch = A::dsEndWatch(w);
        QVERIFY(watch && watch->isActive());

        rec.dsMaster.remove(QStringLiteral("S")); // ran out
        TestSupport::fireTimer(watch);
        QVERIFY(!widget(w, QStringLiteral("S"))->isPlaying());
        QVERIFY(widget(w, QStringLiteral("P"))->isPlaying());
        QVERIFY(headerLit(w, 0));
        QCOMPARE(A::nowPlayingId(w), QStringLiteral("P")); // the strip takes the other sound
        QCOMPARE(A::npTitle(w), QStringLiteral("Sound P"));
        QVERIFY(A::npTime(w).isEmpty()); // not the time of the sound that ended
        w->onPositionChanged(QStringLiteral("P"), 2000, 9000);

        rec.dsMaster.remove(QStringLiteral("P"));
        TestSupport::fireTimer(watch);
        QVERIFY(!widget(w, QStringLiteral("P"))->isPlaying());
        QVERIFY(!headerLit(w, 0));
        QVERIFY(A::nowPlayingId(w).isEmpty());
        QVERIFY(A::npDotStyle(w).contains(ThemeManager::instance()->colors().textMuted.name()));
        QCOMPARE(A::npTitle(w), QStringLiteral("No Track"));
        QVERIFY(A::npTime(w).isEmpty());
        QVERIFY(!watch->isActive());
    }

    // One start, one event-log line, however many start reports arrive.
    void oneLogLinePerStart()
    {
        rec.ready.clear();
        rec.started = [this](const QString& id) {
            w->onPlayStarted(id);
            w->onPlayStarted(id); // the engine's own report besides the routing's
        };
        press(QStringLiteral("P"));
        rec.started = [this](const QString& id) { w->onPlayStarted(id); };
        QCOMPARE(log->list()->count(), 1);
        QVERIFY(log->list()->item(0)->text().endsWith(QLatin1String("Audio: Playing: Sound P")));
        // A start that did not come through the routing is logged as well.
        w->onPlayStarted(QStringLiteral("O"));
        QCOMPARE(log->list()->count(), 2);
    }

    // The music panel's bar shows what the window shows playing, moves with
    // its positions and follows the window's restyle.
    void nowPlayingBarFollowsTheWindow()
    {
        NowPlayingBar bar;
        A::setNowPlayingBar(w, &bar);
        rec.ready.clear();
        press(QStringLiteral("P"));
        QCOMPARE(bar.titleLabel()->text(), QStringLiteral("Sound P"));
        QVERIFY(bar.hasTrack());
        w->onPositionChanged(QStringLiteral("P"), 75000, 200000);
        QCOMPARE(bar.remainingLabel()->text(), QStringLiteral("-2:05 remaining"));
        QCOMPARE(bar.strip()->progress(), 0.375);
        w->onPositionChanged(QStringLiteral("S"), 10000, 200000); // not the one shown
        QCOMPARE(bar.strip()->progress(), 0.375);
        // The trim dialog's preview is not on air: the bar and the strip stay
        // with the button that plays, title and time.
        const QString time = A::npTime(w);
        w->onPlayStarted(TrimDialog::kPreviewId);
        w->onPositionChanged(TrimDialog::kPreviewId, 5000, 8000);
        QCOMPARE(A::nowPlayingId(w), QStringLiteral("P"));
        QCOMPARE(bar.titleLabel()->text(), QStringLiteral("Sound P"));
        QCOMPARE(A::npTitle(w), QStringLiteral("Sound P"));
        QCOMPARE(bar.strip()->progress(), 0.375);
        QCOMPARE(A::npTime(w), time);
        w->onPlayStopped(TrimDialog::kPreviewId);
        QCOMPARE(A::npTitle(w), QStringLiteral("Sound P"));
        bar.dot()->setStyleSheet(QString());
        w->applyThemeToWidgets();
        QVERIFY(bar.dot()->styleSheet().contains(ThemeManager::instance()->colors().accent.name()));
        A::setNowPlayingBar(w, nullptr);
        w->onPlayStopped(QStringLiteral("P"));
    }

    // The strip goes back to the music track by the name it was started
    // with, whatever the rows of the list hold meanwhile.
    void stripFallsBackToMusic()
    {
        QListWidget* list = w->musicList;
        QVERIFY(list);
        list->clear();
        auto* row = new QListWidgetItem(QStringLiteral("theme\n/music"), list);
        row->setData(Qt::UserRole, QStringLiteral("/music/Morning Theme.mp3"));
        emit list->itemDoubleClicked(row);
        QVERIFY(rec.audio.contains(A::musicId(w)));
        row->setText(QStringLiteral("another row"));
        rec.ready.clear();
        press(QStringLiteral("O"));
        QCOMPARE(A::npTitle(w), QStringLiteral("Sound O"));
        w->onPlayStopped(QStringLiteral("O"));
        QCOMPARE(A::npTitle(w), QStringLiteral("Morning Theme"));
        rec.audio.remove(A::musicId(w));
        A::musicId(w).clear();
        list->clear();
    }

    // A sound of the float stream stops: AudioEngine reports it, the
    // window's second connection reports it once more, and the strip moves
    // on to what still plays.
    void floatStreamStopIsReportedTwice()
    {
        rec.ready.clear();
        press(QStringLiteral("S"));
        press(QStringLiteral("P"));
        rec.audio.remove(QStringLiteral("P")); // the stream's voice, not a player
        rec.take();
        QSignalSpy reports(AudioEngine::instance(), &AudioEngine::playStopped);
        emit WasapiEngine::instance()->stopped(QStringLiteral("P"));
        QCOMPARE(reports.count(), 1); // the first connection: AudioEngine itself
        QCOMPARE(rec.take(), QStringList{QStringLiteral("audio.notifyStop P")});
        QVERIFY(!widget(w, QStringLiteral("P"))->isPlaying());
        QCOMPARE(A::nowPlayingId(w), QStringLiteral("S"));
        QCOMPARE(A::npTitle(w), QStringLiteral("Sound S"));
    }

    void positions()
    {
        press(QStringLiteral("P"));
        w->onPositionChanged(QStringLiteral("P"), 75500, 200000);
        QCOMPARE(A::npTime(w), QStringLiteral("1:15 / 3:20  -2:05"));
        w->onPositionChanged(QStringLiteral("P"), 1000, 0); // no duration: the time stays
        QCOMPARE(A::npTime(w), QStringLiteral("1:15 / 3:20  -2:05"));
        w->onPositionChanged(QStringLiteral("S"), 5000, 10000); // not the strip's sound
        QCOMPARE(A::npTime(w), QStringLiteral("1:15 / 3:20  -2:05"));
        w->onPositionChanged(QStringLiteral("P"), 610000, 600000); // past the end
        QCOMPARE(A::npTime(w), QStringLiteral("10:10 / 10:00  -0:00"));
    }

    // Stop Tab, the stop key and a MIDI tab stop reach the pre-decoded
    // engine too; the header shows idle at once.
    void stopTabReachesEveryEngine()
    {
        press(QStringLiteral("P"));
        rec.ready.clear();
        press(QStringLiteral("S"));
        SoundButton* held = holdRapid(QStringLiteral("Q"));
        QVERIFY(held);
        A::panels(w)[0].header->stopButton()->click();
        QVERIFY(!held->isRepeating()); // a held rapid pad stops repeating too
        QVERIFY(rec.dsMaster.isEmpty() && !rec.audio.contains(QStringLiteral("S")));
        QVERIFY(!headerLit(w, 0));
        QVERIFY(!widget(w, QStringLiteral("P"))->isPlaying());

        rec.ready = {QStringLiteral("O")};
        press(QStringLiteral("O"));
        rec.take();
        w->stopTab(1);
        const QStringList calls = rec.take();
        for (const char* c : {"audio.cancelFade O", "audio.stop O", "wasapi.stop O", "pcm.stop O", "ds.stop O"})
            QVERIFY2(calls.contains(QLatin1String(c)), c);
        QVERIFY(!headerLit(w, 1));
        w->stopTab(7); // no such tab: nothing
        QVERIFY(rec.take().isEmpty());
    }

    // Space three times within a second stops three times, toasts once; the
    // music track plays on and keeps the strip.
    void stopAllKeepsMusic()
    {
        const QString text = QStringLiteral("⏹  Stopped all audio");
        A::musicId(w) = QStringLiteral("M");
        rec.audio << QStringLiteral("M");
        press(QStringLiteral("P"));
        w->onStopAll();
        QVERIFY(toastShown(text));
        QVERIFY(!rec.dsIsPlaying(QStringLiteral("P")));
        QVERIFY(rec.audio.contains(QStringLiteral("M")));
        QVERIFY(!headerLit(w, 0));
        QCOMPARE(A::nowPlayingId(w), QStringLiteral("M")); // the music takes the strip
        g_now += 500;
        w->onStopAll();
        QVERIFY(!toastShown(text));
        g_now += 1000;
        w->onStopAll();
        QVERIFY(!toastShown(text));
        g_now += 1;
        w->onStopAll();
        QVERIFY(toastShown(text));
        QCOMPARE(log->list()->count(), 5); // the start and four stops

        // Each test holds a pad of its own: the pads' press debounce runs on
        // the real clock.
        SoundButton* held = holdRapid(QStringLiteral("S"));
        QVERIFY(held);
        w->onStopAll();
        QVERIFY(!held->isRepeating()); // a held rapid pad stops repeating too

        // Without music, Stop All leaves the strip idle: no title, no time.
        rec.audio.remove(QStringLiteral("M"));
        A::musicId(w).clear();
        press(QStringLiteral("P"));
        w->onPositionChanged(QStringLiteral("P"), 3000, 4000);
        QVERIFY(!A::npTime(w).isEmpty());
        w->onStopAll();
        // The player's last report, read after the stop, finds the pad idle.
        w->onPositionChanged(QStringLiteral("P"), 3500, 4000);
        QVERIFY(A::nowPlayingId(w).isEmpty());
        QCOMPARE(A::npTitle(w), QStringLiteral("No Track"));
        QVERIFY(A::npTime(w).isEmpty());
        QCOMPARE(widget(w, QStringLiteral("P"))->positionMs(), qint64(0));
        QCOMPARE(widget(w, QStringLiteral("P"))->durationMs(), qint64(0));

        // A press whose stops wait until it is heard is let go by Stop All,
        // whatever the engine reports after: its start, heard late (its stop
        // report still to come), stops nothing pressed since, nor shows it.
        rec.stopped = nullptr;
        heldPressLetGo([this] { w->onStopAll(); });
        rec.stopped = [this](const QString& id) { w->onPlayStopped(id); };
    }

    void panicGuardAndDisplay()
    {
        press(QStringLiteral("P"));
        rec.ready.clear();
        press(QStringLiteral("O"));
        w->onPositionChanged(QStringLiteral("O"), 3000, 4000);
        SoundButton* held = holdRapid(QStringLiteral("M"));
        QVERIFY(held);
        rec.take();
        w->onPanic();
        w->onPanic(); // still running
        QCOMPARE(rec.take(), QStringList{QStringLiteral("later 0")});
        QVERIFY(widget(w, QStringLiteral("P"))->isPlaying()); // the body runs next
        rec.runLater();
        QCOMPARE(rec.take(), (QStringList{QStringLiteral("wasapi.stopAll"), QStringLiteral("audio.panic"),
                                          QStringLiteral("pcm.stopAll"), QStringLiteral("ds.stopAll")}));
        QVERIFY(!widget(w, QStringLiteral("P"))->isPlaying() && !widget(w, QStringLiteral("O"))->isPlaying());
        QVERIFY(!held->isRepeating());
        QVERIFY(!headerLit(w, 0) && !headerLit(w, 1));
        QVERIFY(A::nowPlayingId(w).isEmpty());
        QVERIFY(A::npDotStyle(w).contains(ThemeManager::instance()->colors().textMuted.name()));
        QCOMPARE(A::npTitle(w), QStringLiteral("No Track"));
        QVERIFY(A::npTime(w).isEmpty());
        QVERIFY(toastShown(QStringLiteral("🛑  Panic stop")));

        g_now += 149;
        w->onPanic();
        QVERIFY(rec.take().isEmpty());
        g_now += 51; // 200 ms after the accepted one
        w->onPanic();
        QCOMPARE(rec.take(), QStringList{QStringLiteral("later 0")});
        rec.runLater();
        rec.take();

        // A sound started since the last panic makes a quick second request
        // no repeat: Esc, a press 30 ms later, Esc 30 ms after that.
        g_now += 30;
        press(QStringLiteral("P"));
        rec.take();
        g_now += 30;
        w->onPanic();
        QCOMPARE(rec.take(), QStringList{QStringLiteral("later 0")});
        rec.runLater();
        QVERIFY(!widget(w, QStringLiteral("P"))->isPlaying());
        rec.take();
        g_now += 30; // and with nothing started since, a repeat again
        w->onPanic();
        QVERIFY(rec.take().isEmpty());

        // A press whose stops wait until it is heard is let go by a panic,
        // which reports no stop of its own.
        g_now += 1000;
        heldPressLetGo([this] {
            w->onPanic();
            rec.runLater();
        });
    }

    void musicStopAndReset()
    {
        QListWidget* list = w->musicList;
        list->clear();
        for (int i = 0; i < 2; ++i) {
            auto* row = new QListWidgetItem(QStringLiteral("Track %1").arg(i), list);
            row->setData(Qt::UserRole + 2, true);
        }
        {
            QSignalBlocker quiet(w->autoMixBtn);
            w->autoMixBtn->setChecked(true);
        }
        w->autoMixIndex = 1;
        A::musicId(w) = QStringLiteral("music-2");
        rec.ready.clear();
        press(QStringLiteral("S"));
        rec.take();
        w->stopMusicOnly();
        QCOMPARE(rec.take(), (QStringList{QStringLiteral("wasapi.stop music-2"), QStringLiteral("audio.stop music-2"),
                                          QStringLiteral("pcm.stop music-2")}));
        QVERIFY(A::musicId(w).isEmpty() && !w->autoMixBtn->isChecked() && w->autoMixIndex == -1);
        QVERIFY(!list->item(1)->data(Qt::UserRole + 2).toBool());
        QCOMPARE(A::npTitle(w), QStringLiteral("Sound S")); // the button is back on the strip
        QVERIFY(rec.audio.contains(QStringLiteral("S")));
        w->onTransportStop(); // nothing left to stop of the music
        QVERIFY(rec.take().isEmpty());
        list->clear();
    }

    // Master volume on players and pre-decoded buttons; a tab slider on the
    // tab's playing sounds in both engines (a pre-decoded one in the other
    // tab, or idle, is left alone) and on the other pane showing the same
    // tab, without a second change.
    void volumes()
    {
        QSignalSpy dirty(SessionManager::instance(), &SessionManager::dirtyChanged);
        SessionManager::instance()->setDirty(false);
        A::volSlider(w)->setValue(40);
        QCOMPARE(rec.take(), (QStringList{QStringLiteral("audio.globalVolume 0.4"), QStringLiteral("ds.volume 0.4")}));
        QCOMPARE(SessionManager::instance()->session().globalVolume, 0.4);
        QVERIFY(SessionManager::instance()->isDirty());
        Session quiet = twoTabs();
        quiet.globalVolume = 0.25;
        load(quiet); // a load sets the master volume of both engines
        QVERIFY(rec.take().contains(QStringLiteral("ds.volume 0.25")));

        rec.ready.clear();
        press(QStringLiteral("P"));
        emit A::panels(w)[1].header->tabSwitchRequested(0); // the second pane shows tab 1 as well
        QSignalSpy changes(A::panels(w)[1].header.data(), &GridHeader::volumeChanged);
        rec.dsVoices << QStringLiteral("Q") << QStringLiteral("O");
        rec.take();
        A::panels(w)[0].header->m_volSlider->setValue(50);
        QCOMPARE(rec.take(), (QStringList{QStringLiteral("ds.soundVolume Q 0.5"),
                                          QStringLiteral("audio.buttonVolume P 0.5"),
                                          QStringLiteral("audio.buttonVolume P 0.5")}));
        rec.dsVoices.clear();
        QCOMPARE(rec.tabVol.value(0), 0.5);
        QCOMPARE(SessionManager::instance()->session().tabs[0].volume, 0.5);
        QCOMPARE(A::panels(w)[1].header->m_volSlider->value(), 50);
        QCOMPARE(changes.count(), 0);
        emit A::panels(w)[1].header->tabSwitchRequested(1);
    }

    // Keys and tab positions after a change of the tab list: the press of a
    // key reaches the tab the button is in now.
    void derivedStateFollowsTabs()
    {
        Session& s = SessionManager::instance()->session();
        s.tabs[1].buttons[0].key = QStringLiteral("K");
        s.tabs[1].volume = 0.3;
        s.tabs.move(1, 0); // tab order changed
        w->refreshTabDerivedState();
        QCOMPARE(A::tabIndexCache(w).value(QStringLiteral("O")), 0);
        QCOMPARE(A::keyButtonMap(w).value(QStringLiteral("K")).id, QStringLiteral("O"));
        QCOMPARE(rec.tabVol.value(0), 0.3);
        s.tabs.move(0, 1);
        s.tabs[1].buttons[0].key.clear();
        s.tabs[1].volume = 1.0;
        w->refreshTabDerivedState();
        QVERIFY(A::keyButtonMap(w).isEmpty());
    }

    // The old sound stops and leaves every engine before the new file is
    // queued, and nothing drops the new one afterwards (its decode would be
    // lost and the button left on the players).
    void droppedFileEvictsTheOldSound()
    {
        const ButtonData old = record(QStringLiteral("P"));
        press(QStringLiteral("P"));
        rec.take();
        emit widget(w, QStringLiteral("P"))->dropped(QStringLiteral("P"), QStringLiteral("/x/new.wav"));
        const QStringList calls = rec.take();
        const qsizetype evicted = calls.indexOf(QStringLiteral("ds.evict P"));
        const qsizetype queued = calls.indexOf(QStringLiteral("ds.preload P /x/new.wav loop=0"));
        QVERIFY2(evicted >= 0 && queued > evicted, qPrintable(calls.join(QLatin1String(", "))));
        QCOMPARE(calls.lastIndexOf(QStringLiteral("ds.evict P")), evicted);
        QCOMPARE(calls.count(QStringLiteral("pcm.evict P")), 1);
        QVERIFY(calls.indexOf(QStringLiteral("pcm.evict P")) < calls.indexOf(QStringLiteral("pcm.preload P /x/new.wav")));
        QVERIFY(!widget(w, QStringLiteral("P"))->isPlaying());
        // The next test starts from the session as it was.
        Session restored = SessionManager::instance()->session();
        for (TabData& t : restored.tabs)
            for (ButtonData& b : t.buttons)
                if (b.id == old.id)
                    b = old;
        load(restored);
    }

    void bulkAssignToasts()
    {
        ButtonGrid* grid = A::panels(w)[0].grid;
        emit grid->bulkAssignComplete(0, 4);
        QVERIFY(toastShown(QStringLiteral("⚠️  No empty pads available on this tab")));
        emit grid->bulkAssignComplete(1, 1);
        QVERIFY(toastShown(QStringLiteral("✅  Assigned 1 sample to pads")));
        emit grid->bulkAssignComplete(3, 5);
        QVERIFY(toastShown(QStringLiteral("⚠️  Assigned 3 of 5 — ran out of empty pads on this tab")));
    }

    // A write in the settings dialog syncs the grids with the session: a
    // pad that plays on stays lit, with its progress and its mark.
    void settingsWriteKeepsPlayingPads()
    {
        rec.ready.clear();
        press(QStringLiteral("S")); // a long sound, on the players
        w->onPositionChanged(QStringLiteral("S"), 12000, 45000);
        SoundButton* pad = widget(w, QStringLiteral("S"));
        QVERIFY(pad->isPlaying());
        int writes = 0;
        Modal::setHandler([&writes](const Modal::Request& r) -> QVariant {
            if (auto* dialog = qobject_cast<SettingsDialog*>(r.dialog)) {
                emit dialog->settingsChanged();
                emit dialog->settingsChanged();
                writes += 2;
            }
            return int(QDialog::Rejected);
        });
        w->openSettingsDialog();
        Modal::setHandler(nullptr);
        QCOMPARE(writes, 2);
        QCOMPARE(widget(w, QStringLiteral("S")), pad);
        QVERIFY(pad->isPlaying());
        QCOMPARE(pad->triggerMark(), quint8(SoundButton::TriggeredByWindow));
        QCOMPARE(pad->positionMs(), 12000);
        QCOMPARE(pad->durationMs(), 45000);
        QVERIFY(headerLit(w, 0));
        QCOMPARE(A::npTitle(w), QStringLiteral("Sound S"));
        QVERIFY(!widget(w, QStringLiteral("P"))->isPlaying());
    }

    // The sound server goes, then another one answers: the players' server
    // is gone for this run, the pre-decoded output comes back. At the loss
    // the toast and the status bar say the server was lost (not that it is
    // back); at the return they say what works; never a reconnection of the
    // players. Last: the players stay gone for the rest of the process.
    void serverGoneLeavesShortSounds()
    {
        AudioEngine* audio = AudioEngine::instance();
        ScopedFakeClock clock;
        qint64 server = 4242;
        audio->setServerIdSource([&server] { return server; });
        audio->checkServer(); // the players' server, as the first press finds it
        QVERIFY(!audio->isServerGone());
        drainToasts();

        // It stalls: told once it has kept quiet for a second, and its
        // answer told too, for a while.
        bool answering = false;
        audio->setServerAnsweringSource([&answering] { return answering; });
        audio->checkOutput();
        QTimer* quiet = w->findChild<QTimer*>(QStringLiteral("serverQuietTimer"));
        QVERIFY(quiet && quiet->isActive());
        QCOMPARE(A::audioText(w), QStringLiteral("● Audio Ready"));
        TestSupport::fireTimer(quiet);
        QCOMPARE(A::audioText(w), QStringLiteral("● Sound server not answering"));
        answering = true;
        audio->checkOutput();
        QCOMPARE(A::audioText(w), QStringLiteral("● Audio Ready: the sound server answers again"));
        TestSupport::fireTimer(w->findChild<QTimer*>(QStringLiteral("serverBackTimer")));
        QCOMPARE(A::audioText(w), QStringLiteral("● Audio Ready"));
        // A moment's quiet is not told.
        answering = false;
        audio->checkOutput();
        answering = true;
        audio->checkOutput();
        QVERIFY(!quiet->isActive());
        QCOMPARE(A::audioText(w), QStringLiteral("● Audio Ready"));
        audio->setServerAnsweringSource({});
        press(QStringLiteral("P"));
        QCOMPARE(A::npTitle(w), QStringLiteral("Sound P"));

        // The pre-decoded output goes with the server; another server answers.
        server = 5151;
        clock.advanceMs(AudioEngine::kServerCheckMs);
        rec.dsMaster.clear();
        w->onAudioOutputLost(QStringLiteral("pre-decoded"), QStringLiteral("default"));
        QVERIFY(audio->isServerGone());
        QCOMPARE(A::audioText(w), QStringLiteral("● Audio Lost"));
        QCOMPARE(A::audioTip(w), QStringLiteral("The sound server was lost: sounds stopped. Short sounds come back "
                                                "with it; long sounds and music then need a restart of the program."));
        QStringList toasts = drainToasts();
        QCOMPARE(toasts, QStringList{QStringLiteral("⚠  Sound server lost: sounds stopped. Once it is back, long "
                                                    "sounds and music need a restart of the program")});
        QVERIFY(!widget(w, QStringLiteral("P"))->isPlaying());
        QCOMPARE(A::npTitle(w), QStringLiteral("No Track"));
        QVERIFY(A::npTime(w).isEmpty());

        // Short sounds are back; long sounds and music wait for a restart.
        w->onAudioOutputRestored(QStringLiteral("pre-decoded"), QStringLiteral("default"));
        const QString backTip = QStringLiteral("The sound server was lost. Short sounds play; long sounds and music "
                                               "play again once the program is restarted.");
        QCOMPARE(A::audioText(w), QStringLiteral("● Long sounds off: restart"));
        QCOMPARE(A::audioTip(w), backTip);
        toasts = drainToasts();
        QCOMPARE(toasts, QStringList{QStringLiteral("✅  Short sounds ready. Long sounds and music: restart the "
                                                    "program")});
        w->applyThemeToWidgets(); // a restyle says the same
        QCOMPARE(A::audioText(w), QStringLiteral("● Long sounds off: restart"));
        QCOMPARE(A::audioTip(w), backTip);

        // The players' own report of the loss, come late, says nothing again.
        w->onAudioOutputLost(QStringLiteral("players"), QStringLiteral("default"));
        QCOMPARE(drainToasts(), QStringList());
        QCOMPARE(A::audioText(w), QStringLiteral("● Long sounds off: restart"));

        // A long sound that is pressed says why it does not play.
        QSignalSpy errors(audio, &AudioEngine::playbackError);
        audio->play(button(QStringLiteral("L"), QStringLiteral("/x/long.wav")), QString(), false);
        QTRY_COMPARE(errors.count(), 1);
        QVERIFY(errors.first().at(1).toString().contains(QLatin1String("until the program is restarted")));
        toasts = drainToasts();
        QCOMPARE(toasts.filter(QStringLiteral("reconnecting")).size(), 0);
        audio->setServerIdSource({});
    }
};

QTEST_MAIN(TestRoutingDisplay)
#include "tst_routing_display.moc"
