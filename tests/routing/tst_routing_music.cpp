// The music panel's player on the engine recorder: double-clicks, Auto-Mix,
// the now-playing bar's buttons and the music stops, with the timers fired
// by the test. The recorder reports a stop inside the stop call, as the
// engine does, so a stop of the panel's own that moves Auto-Mix on shows.
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include "EventLog.h"
#include "MusicItemDelegate.h"
#include "NowPlayingBar.h"
#include "RoutingSupport.h"

using A = RoutingTestAccess;
using namespace RoutingTest;

namespace {

qint64 g_now = 5'000'000;

QString trackPath(int row)
{
    return QStringLiteral("/m/t%1.mp3").arg(row);
}

int rowOfPath(const QString& path)
{
    const QString stem = QFileInfo(path).completeBaseName();
    return stem.mid(1).toInt();
}

} // namespace

class TestRoutingMusic : public QObject
{
    Q_OBJECT
    MainWindow* w = nullptr;
    RecordingEngines rec;
    // The sound the strip showed after the step before.
    QString lastShown;

    // One row per letter: F flagged, - not, H flagged but hidden, h hidden.
    // PLAYLIST holds the flagged rows' tracks in the same order.
    void fillRows(const QString& flags)
    {
        w->musicList->clear();
        w->playlistList->clear();
        w->playlistPaths.clear();
        for (int r = 0; r < flags.size(); ++r) {
            const QChar c = flags[r];
            auto* item = new QListWidgetItem(QStringLiteral("t%1\n/m").arg(r), w->musicList);
            item->setData(Qt::UserRole, trackPath(r));
            const bool flagged = c == QLatin1Char('F') || c == QLatin1Char('H');
            item->setData(MusicItemDelegate::kInPlaylistRole, flagged);
            item->setHidden(c == QLatin1Char('H') || c == QLatin1Char('h'));
            if (flagged) {
                w->playlistPaths.insert(trackPath(r));
                auto* p = new QListWidgetItem(QStringLiteral("t%1").arg(r), w->playlistList);
                p->setData(Qt::UserRole, trackPath(r));
            }
        }
    }

    QString& musicId() { return A::musicId(w); }

    // The music ids the players hold now.
    QSet<QString> soundingMusic() const
    {
        QSet<QString> ids;
        for (const ButtonData& b : rec.plays)
            if (rec.audio.contains(b.id))
                ids.insert(b.id);
        return ids;
    }

    // The current track ends by itself: it leaves the players, then the
    // engine reports it.
    void endCurrent()
    {
        const QString id = musicId();
        QVERIFY(rec.audio.remove(id));
        rec.stopped(id);
    }

    void run(const QString& step)
    {
        const QStringList p = step.split(QLatin1Char(' '));
        const QString op = p[0];
        const int n = p.size() > 1 ? p[1].toInt() : -1;
        if (op == QLatin1String("on"))
            w->autoMixBtn->setChecked(true);
        else if (op == QLatin1String("off"))
            w->autoMixBtn->setChecked(false);
        else if (op == QLatin1String("end"))
            endCurrent();
        else if (op == QLatin1String("bed"))
            w->onPlayRequested(record(QStringLiteral("P"))); // a long button sound, on the players
        else if (op == QLatin1String("bedend")) {
            QVERIFY(rec.audio.remove(QStringLiteral("P")));
            rec.stopped(QStringLiteral("P"));
        }
        else if (op == QLatin1String("fail")) {
            // The current track cannot play (its file went): the engine
            // reports the error, then the stop.
            const QString id = musicId();
            w->onPlaybackError(id, QStringLiteral("Could not open file"));
            rec.audio.remove(id);
            rec.stopped(id);
        }
        else if (op == QLatin1String("dbl"))
            emit w->musicList->itemDoubleClicked(w->musicList->item(n));
        else if (op == QLatin1String("pdbl"))
            emit w->playlistList->itemDoubleClicked(w->playlistList->item(n));
        else if (op == QLatin1String("next"))
            w->autoMixNext();
        else if (op == QLatin1String("prev"))
            w->autoMixPrev();
        else if (op == QLatin1String("play"))
            w->onNowPlayingPlay();
        else if (op == QLatin1String("stop"))
            w->onTransportStop();
        else if (op == QLatin1String("reset"))
            w->stopMusicOnly();
        else if (op == QLatin1String("panic")) {
            g_now += 1000;
            w->onPanic();
            rec.runLater();
        } else if (op == QLatin1String("fire"))
            rec.runLater();
        else
            QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
    }

    // What holds after every step: a track that sounds is the current one
    // or an earlier one still fading out; nothing sounds without an id.
    void checkOneCurrent(const QString& step)
    {
        const QSet<QString> sounding = soundingMusic();
        for (const QString& id : sounding)
            QVERIFY2(id == musicId() || A::musicFading(w).contains(id),
                     qPrintable(QStringLiteral("after '%1' a track plays that is neither current nor fading").arg(step)));
        QVERIFY2(musicId().isEmpty() || rec.audio.contains(musicId()) || step == QLatin1String("end"),
                 qPrintable(QStringLiteral("after '%1' the current id does not play").arg(step)));
    }

    // The strip and the bar show one sound that plays, its title and its
    // time, or nothing at all; a report of another sound moves nothing, and
    // a sound newly shown has no time until its own first report.
    void checkStrip(const QString& step)
    {
        const QString shown = A::nowPlayingId(w);
        NowPlayingBar* bar = A::nowPlayingBar(w);
        const QByteArray at = QStringLiteral(" after '%1'").arg(step).toUtf8();
        const bool bed = rec.audio.contains(QStringLiteral("P"));
        const bool music = !musicId().isEmpty() && rec.audio.contains(musicId());
        if (shown.isEmpty()) {
            QVERIFY2(!bed && !music, "idle while a sound plays" + at);
            QCOMPARE(A::npTitle(w), QStringLiteral("No Track"));
            QVERIFY2(A::npTime(w).isEmpty(), "a time on the idle strip" + at);
            QVERIFY(!bar->hasTrack() && bar->remainingLabel()->isHidden());
            lastShown.clear();
            return;
        }
        QVERIFY2(rec.audio.contains(shown), "the strip shows a sound that does not play" + at);
        QString title = record(shown).name;
        for (const ButtonData& b : std::as_const(rec.plays))
            if (b.id == shown)
                title = b.name;
        QCOMPARE(A::npTitle(w), title);
        QCOMPARE(bar->titleLabel()->text(), title);
        const QString before = A::npTime(w);
        if (shown != lastShown)
            QVERIFY2(before.isEmpty() && bar->remainingLabel()->isHidden(), "another sound's time" + at);
        for (const QString& id : std::as_const(rec.audio))
            if (id != shown)
                w->onPositionChanged(id, 9000, 10000);
        QCOMPARE(A::npTime(w), before);
        w->onPositionChanged(shown, 1000, 4000);
        QCOMPARE(A::npTime(w), QStringLiteral("0:01 / 0:04  -0:03"));
        QCOMPARE(bar->remainingLabel()->text(), QStringLiteral("-0:03 remaining"));
        lastShown = shown;
    }

    QString playedRows() const
    {
        QStringList rows;
        for (const ButtonData& b : rec.plays)
            rows << QString::number(rowOfPath(b.audioPath));
        return rows.join(QLatin1Char(' '));
    }

    int markedRow() const
    {
        int marked = -1;
        for (int r = 0; r < w->musicList->count(); ++r)
            if (w->musicList->item(r)->data(MusicItemDelegate::kPlayingRole).toBool()) {
                if (marked >= 0)
                    return -2;
                marked = r;
            }
        return marked;
    }

private slots:
    void initTestCase()
    {
        MainWindow::setWallClock([] { return g_now; });
        NowPlayingBar::setDecoder([](const QString&, int) { return QList<WaveBar>(); });
        w = windowOn(rec);
        load(twoTabs());
        QVERIFY(w->musicList && w->playlistList && w->autoMixBtn && w->musicFadeCombo);
    }
    void cleanupTestCase()
    {
        closeWindow(w);
        NowPlayingBar::setDecoder(nullptr);
    }
    void init()
    {
        // Back to nothing playing, Auto-Mix off, nothing recorded.
        QSignalBlocker block(w->autoMixBtn);
        w->autoMixBtn->setChecked(false);
        w->autoMixIndex = -1;
        musicId().clear();
        A::musicFading(w).clear();
        rec.reset();
        showAllIdle(w);
        A::showStripIdle(w);
        lastShown.clear();
        drainToasts();
    }

    // Auto-Mix, the double-clicks, the bar's buttons and the stops, each with
    // and without a fade. plays: the rows started, in order; at most one of
    // them sounds at any step apart from one fading out.
    void player_data()
    {
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QString>("plays");
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("autoMixOn");
        QTest::addColumn<int>("sounding");
        QTest::addColumn<bool>("bed");

        struct Case
        {
            const char* name;
            const char* flags;
            const char* script;
            const char* plays;
            int index;
            bool on;
            int sounding;
            bool bed = false; // the button's long sound P plays at the end
        };
        const Case cases[] = {
            {"switch on plays the first flagged row", "-F-FF", "on", "1", 1, true, 1},
            {"advance walks the flagged rows and stops after the last", "F-FF-", "on,end,end,end", "0 2 3", -1, false, 0},
            {"hidden flagged rows are passed over", "FHF", "on,end", "0 2", 2, true, 1},
            {"every flagged row hidden: the switch goes back off", "H-H", "on", "", -1, false, 0},
            {"no flagged row: the playing track stops, nothing lit", "---", "dbl 1,on", "1", -1, false, 0},
            {"switched off during a track: nothing follows", "F-F", "on,off,end", "0", -1, false, 0},
            {"double-click while Auto-Mix runs, then the advance goes on below it", "F-F-F", "on,dbl 1,end",
             "0 1 2", 2, true, 1},
            {"PLAYLIST double-click, then the advance goes on after the held row", "FF-F", "on,end,pdbl 0,end",
             "0 1 0 3", 3, true, 1},
            {"switch on with a track playing", "-FF", "dbl 0,on", "0 1", 1, true, 1},
            {"the bar's next during Auto-Mix", "F-F", "on,next", "0 1", 1, true, 1},
            {"the bar's next wraps from the last row", "---", "dbl 2,next", "2 0", 0, false, 1},
            {"the bar's previous wraps from row 0", "---", "dbl 0,prev", "0 2", 2, false, 1},
            {"next passes over hidden rows", "--hh-", "dbl 1,next", "1 4", 4, false, 1},
            {"play with no current row starts the first visible row", "h--", "play", "1", 1, false, 1},
            {"play starts the current row again under a new id", "---", "dbl 2,play", "2 2", 2, false, 1},
            {"the same row twice", "---", "dbl 1,dbl 1", "1 1", 1, false, 1},
            {"Stop during Auto-Mix", "FFF", "on,stop", "0", -1, false, 0},
            {"Reset during Auto-Mix", "FFF", "on,reset", "0", -1, false, 0},
            {"Stop just after a change ends the track fading out too", "FFF", "on,next,stop", "0 1", -1, false, 0},
            {"Reset just after a change ends the track fading out too", "FFF", "on,next,reset", "0 1", -1, false, 0},
            {"panic during Auto-Mix", "FFF", "on,panic", "0", -1, false, 0},
            {"a stop after the fade's timer has gone", "FFF", "on,next,fire,stop", "0 1", -1, false, 0},
            {"a double-clicked track that cannot play lets go of its row and the bar", "---", "dbl 1,fail", "1", -1,
             false, 0},
            {"Auto-Mix moves on past a track that cannot play", "FFF", "on,fail", "0 1", 1, true, 1},
            {"Auto-Mix's last track cannot play: nothing stays lit", "F-F", "on,end,fail", "0 2", -1, false, 0},
            {"the bar's next onto a track that cannot play", "---", "dbl 0,next,fail", "0 1", -1, false, 0},
            // A button's long sound beside the music: only the music changes.
            {"PLAYLIST double-click with a bed playing: the bed plays on", "FF-", "bed,pdbl 1", "1", -1, false, 1,
             true},
            {"PLAYLIST double-click over a track, with a bed playing", "FF-", "dbl 2,bed,pdbl 0", "2 0", 2, false, 1,
             true},
            {"ALL MUSIC double-click with a bed playing", "---", "bed,dbl 1", "1", 1, false, 1, true},
            {"Auto-Mix beside a bed: each new track takes the strip", "FF", "bed,on,end", "0 1", 1, true, 1, true},
            {"the bed ends: the music takes the strip back", "---", "dbl 0,bed,bedend", "0", 0, false, 1},
            {"Stop ends the music: the bed keeps the strip", "F", "on,bed,stop", "0", -1, false, 0, true},
            {"the music ends under a bed", "F-", "bed,on,end", "0", -1, false, 0, true},
            {"panic ends the bed and the music", "F", "on,bed,panic", "0", -1, false, 0},
        };
        for (const char* fade : {"No fade", "2s fade"})
            for (const Case& c : cases)
                QTest::addRow("%s, %s", c.name, fade)
                    << QString::fromLatin1(c.flags) << QString::fromLatin1(c.script) + QStringLiteral(",fade=") + fade
                    << QString::fromLatin1(c.plays) << c.index << c.on << c.sounding << c.bed;
    }
    void player()
    {
        QFETCH(QString, flags);
        QFETCH(QString, script);
        QFETCH(QString, plays);
        QFETCH(int, index);
        QFETCH(bool, autoMixOn);
        QFETCH(int, sounding);

        QStringList steps = script.split(QLatin1Char(','));
        const QString fade = steps.takeLast().mid(5);
        w->musicFadeCombo->setCurrentIndex(w->musicFadeCombo->findText(fade));
        QCOMPARE(w->musicFadeCombo->currentText(), fade);
        fillRows(flags);
        QFETCH(bool, bed);
        for (const QString& step : std::as_const(steps)) {
            run(step);
            checkOneCurrent(step);
            checkStrip(step);
        }
        // Every delayed stop runs; then exactly the expected tracks sound.
        rec.runLater();
        QCOMPARE(playedRows(), plays);
        QCOMPARE(w->autoMixIndex, index);
        QCOMPARE(w->autoMixBtn->isChecked(), autoMixOn);
        QCOMPARE(soundingMusic().size(), sounding);
        QCOMPARE(rec.audio.contains(QStringLiteral("P")), bed);
        QVERIFY(A::musicFading(w).isEmpty());
        checkStrip(QStringLiteral("the delayed stops"));
        if (sounding == 0 && steps.last() != QLatin1String("off") && steps.last() != QLatin1String("end")) {
            // Stopped or failed: nothing of the music stays lit.
            QVERIFY(musicId().isEmpty());
            QCOMPARE(markedRow(), -1);
            QCOMPARE(A::nowPlayingBar(w)->hasTrack(), bed);
        }
        if (steps.last() == QLatin1String("fail") && sounding == 1) {
            // The next track took the mark: only its row is lit.
            QCOMPARE(markedRow(), index);
        }
        if (sounding == 1) {
            QVERIFY(soundingMusic().contains(musicId()));
            // The bar's name is the track's.
            QCOMPARE(A::nowPlayingBar(w)->hasTrack(), true);
            // The mark is on the row of the track that plays.
            for (const ButtonData& b : std::as_const(rec.plays))
                if (b.id == musicId())
                    QCOMPARE(markedRow(), rowOfPath(b.audioPath));
        }
    }

    // A change of track with a fade: the old track keeps its id for one fade
    // length, then the delayed stop fades it; at once without a fade.
    void fadedChange_data()
    {
        QTest::addColumn<QString>("fadeText");
        QTest::addColumn<int>("fadeMs");
        QTest::newRow("2s") << QStringLiteral("2s fade") << 2000;
        QTest::newRow("1s") << QStringLiteral("1s fade") << 1000;
        QTest::newRow("3s") << QStringLiteral("3s fade") << 3000;
        QTest::newRow("none") << QStringLiteral("No fade") << 0;
        QTest::newRow("2s without its word") << QStringLiteral("2s") << 2000;
        QTest::newRow("not at the start") << QStringLiteral("fade 2s") << 0;
        QTest::newRow("upper case") << QStringLiteral("2S fade") << 0;
    }
    void fadedChange()
    {
        QFETCH(QString, fadeText);
        QFETCH(int, fadeMs);
        int i = w->musicFadeCombo->findText(fadeText);
        if (i < 0) {
            w->musicFadeCombo->addItem(fadeText);
            i = w->musicFadeCombo->count() - 1;
        }
        w->musicFadeCombo->setCurrentIndex(i);
        QCOMPARE(nowPlayingFadeMs(w->musicFadeCombo), fadeMs);
        fillRows(QStringLiteral("---"));
        w->autoMixPlayIdx(0, 0);
        const QString old = musicId();
        rec.take();
        w->autoMixNext();
        const QStringList calls = rec.take();
        if (fadeMs > 0) {
            QCOMPARE(calls.mid(0, 2), (QStringList{QStringLiteral("audio.fade %1 %2").arg(old).arg(fadeMs),
                                                    QStringLiteral("later %1").arg(fadeMs)}));
            QVERIFY(rec.audio.contains(old));
            rec.runLater();
            QCOMPARE(rec.take(), QStringList{QStringLiteral("audio.stop ") + old});
        } else {
            QCOMPARE(calls.first(), QStringLiteral("audio.stop ") + old);
        }
        QVERIFY(!rec.audio.contains(old));
        QCOMPARE(soundingMusic().size(), 1);
        if (i >= 4)
            w->musicFadeCombo->removeItem(i);
    }

    // What each road hands the players: a fresh record, the device, and the
    // engines in the road's order when the current track ends.
    void roads_data()
    {
        QTest::addColumn<QString>("road");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QStringList>("stops");
        QTest::newRow("ALL MUSIC double-click") << QStringLiteral("dbl 1") << QStringLiteral("dev-b")
                                                << QStringList{"wasapi.stop", "audio.stop", "pcm.stop"};
        // The music only, as from ALL MUSIC; the default device.
        QTest::newRow("PLAYLIST double-click") << QStringLiteral("pdbl 0") << QString()
                                               << QStringList{"wasapi.stop", "audio.stop", "pcm.stop"};
        QTest::newRow("Auto-Mix switched on") << QStringLiteral("on") << QStringLiteral("dev-b")
                                              << QStringList{"audio.stop", "pcm.stop", "wasapi.stop"};
        QTest::newRow("Stop") << QStringLiteral("stop") << QString()
                              << QStringList{"wasapi.stop", "audio.stop", "pcm.stop"};
        QTest::newRow("Reset") << QStringLiteral("reset") << QString()
                               << QStringList{"wasapi.stop", "audio.stop", "pcm.stop"};
    }
    void roads()
    {
        QFETCH(QString, road);
        QFETCH(QString, device);
        QFETCH(QStringList, stops);
        w->musicDevCombo->addItem(QStringLiteral("B"), QStringLiteral("dev-b"));
        w->musicDevCombo->setCurrentIndex(w->musicDevCombo->count() - 1);
        fillRows(QStringLiteral("F-F"));
        // A long sound button plays beside the music on the same players.
        w->onPlayRequested(record(QStringLiteral("P")));
        QVERIFY(rec.audio.contains(QStringLiteral("P")));
        emit w->musicList->itemDoubleClicked(w->musicList->item(2));
        const QString old = musicId();
        rec.take();
        rec.plays.clear();
        run(road);
        const QStringList calls = rec.take();
        QStringList seen;
        for (const QString& c : calls) {
            const QString name = c.section(QLatin1Char(' '), 0, 0);
            if (name.endsWith(QLatin1String(".stop")) || name == QLatin1String("audio.stopAll")) {
                seen << name;
                if (name != QLatin1String("audio.stopAll"))
                    QCOMPARE(c.section(QLatin1Char(' '), 1), old);
            }
        }
        QCOMPARE(seen, stops);
        // Every road ends the music only: the button plays on.
        QVERIFY(rec.audio.contains(QStringLiteral("P")));
        QVERIFY(widget(w, QStringLiteral("P"))->isPlaying());
        if (rec.plays.isEmpty()) {
            QVERIFY(musicId().isEmpty());
        } else {
            QCOMPARE(rec.plays.size(), 1);
            const ButtonData& b = rec.plays.first();
            QCOMPARE(calls.last(), QStringLiteral("audio.play %1 %2 %3").arg(b.id, b.audioPath, device));
            QCOMPARE(b.id, musicId());
            QVERIFY(b.id != old);
            QVERIFY(!b.id.contains(QLatin1Char('{')));
            QCOMPARE(b.name, QFileInfo(b.audioPath).completeBaseName());
            QCOMPARE(b.volume, 1.0);
            QCOMPARE(b.midiNote, -1);
            QVERIFY(b.fadeOut == 0 && !b.loop);
        }
        w->musicDevCombo->removeItem(w->musicDevCombo->count() - 1);
    }

    // When a sound ends while a music track plays on, the bar and the strip
    // go back to that track, by the name it was started with.
    void barReturnsToTheMusic()
    {
        fillRows(QStringLiteral("---"));
        emit w->musicList->itemDoubleClicked(w->musicList->item(1));
        // A PLAYLIST double-click starts another file; the held row stays 1.
        fillRows(QStringLiteral("FFF"));
        emit w->playlistList->itemDoubleClicked(w->playlistList->item(2));
        w->onPlayRequested(record(QStringLiteral("P")));
        rec.started(QStringLiteral("P"));
        QCOMPARE(A::nowPlayingBar(w)->titleLabel()->text().contains(QLatin1String("Sound P")), true);
        rec.audioStop(QStringLiteral("P"));
        QCOMPARE(A::nowPlayingBar(w)->titleLabel()->text(), QStringLiteral("t2"));
        QCOMPARE(A::npTitle(w), QStringLiteral("t2"));
    }

    // A run of tracks Auto-Mix cannot play: one toast named by the track,
    // one event-log line each; a good track in between starts a new run.
    void unplayableRun()
    {
        // A fifth row follows, so Auto-Mix still holds row 3 when it fails.
        fillRows(QStringLiteral("FFFFF"));
        EventLog* log = A::eventLog(w);
        QVERIFY(log);
        log->clear();
        w->autoMixBtn->setChecked(true);
        for (int i = 0; i < 3; ++i) {
            w->onPlaybackError(musicId(), QStringLiteral("bad data"));
            endCurrent();
        }
        QStringList toasts = drainToasts();
        QCOMPARE(toasts.filter(QStringLiteral("Cannot play")).size(), 1);
        QVERIFY(toasts.filter(QStringLiteral("Cannot play")).first().contains(QLatin1String("\"t0\"")));
        QCOMPARE(log->list()->count(), 3);
        // Row 3 plays; the end of Auto-Mix follows.
        QCOMPARE(w->autoMixIndex, 3);
        // A start report alone is no proof: unplayable files get one too.
        w->onPlayStarted(musicId());
        w->onPlaybackError(musicId(), QStringLiteral("device lost"));
        QCOMPARE(drainToasts().filter(QStringLiteral("Cannot play")).size(), 0);
        w->onPositionChanged(musicId(), 500, 3000);
        w->onPlaybackError(musicId(), QStringLiteral("device lost"));
        toasts = drainToasts();
        QCOMPARE(toasts.filter(QStringLiteral("\"t3\"")).size(), 1);
    }
};

QTEST_MAIN(TestRoutingMusic)
#include "tst_routing_music.moc"
