// The routing on the real engines (pre-decoded engine and float stream on the
// null output, the players on whatever output the machine has): a missing
// file, a pre-decoded sound that runs out, volumes on a playing sound, and
// the float stream's reopening after the outputs change.
#include "MediaPlayer.h"
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <QMediaDevices>
#include <QMutex>
#include <QScopeGuard>
#include <QSemaphore>
#include <QtTest>

#include <atomic>
#include <optional>

#include "AudioEngine.h"
#include "AudioOutput.h"
#include "BufferMixer.h"
#include "DirectSoundEngine.h"
#include "EventLog.h"
#include "FileCalls.h"
#include "FileHeads.h"
#include "KnownFiles.h"
#include "ManualOutput.h"
#include "ToastCapture.h"
#include "OpLog.h"
#include "RoutingSupport.h"
#include "SpecialFiles.h"
#include "WasapiEngine.h"

using A = RoutingTestAccess;
using namespace RoutingTest;

using TestSupport::logged;

class TestRoutingEngines : public QObject
{
    Q_OBJECT
    MainWindow* w = nullptr;
    QString dir;

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        dir = TestSupport::tempDir();
        const QString tone = dir + QStringLiteral("/short.wav");
        QVERIFY(TestSupport::writeWav16(tone, TestSupport::sine(440, 0.3, 2, 44100), 2, 44100));
        QVERIFY(TestSupport::writeWav16(dir + QStringLiteral("/long.wav"), TestSupport::sine(330, 4.0, 2, 44100), 2,
                                        44100));
        w = new MainWindow;
        QTRY_VERIFY_WITH_TIMEOUT(DirectSoundEngine::instance()->isInitialized(), 10000);
        Session s = twoTabs();
        s.tabs[0].buttons[0].audioPath = tone;                          // P
        s.tabs[0].buttons[1].audioPath = dir + QStringLiteral("/gone.wav"); // S: no such file
        s.tabs[0].buttons[2].audioPath = dir + QStringLiteral("/long.wav"); // Q
        s.tabs[1].buttons[0].audioPath = dir + QStringLiteral("/long.wav"); // O: a loop
        s.tabs[1].buttons[0].loop = true;
        // What each file's header says is read at the load, never on this thread.
        FileHeads* heads = FileHeads::instance();
        const int readsHere = heads->readsOnAppThread();
        load(s);
        QTRY_VERIFY_WITH_TIMEOUT(!heads->busy(), 30000);
        QVERIFY(heads->find(tone, nullptr));
        QVERIFY(heads->find(dir + QStringLiteral("/long.wav"), nullptr));
        QCOMPARE(heads->readsOnAppThread(), readsHere);
        QTRY_VERIFY_WITH_TIMEOUT(DirectSoundEngine::instance()->isReady(QStringLiteral("P")), 30000);
    }
    void cleanupTestCase() { delete w; }

    // A press that cannot sound: an error on screen and in the log, and the
    // button and its tab back to idle, never stuck playing. The file went
    // missing, is empty, holds a WAV header and no sound, random bytes under
    // a sound's name, is no regular file, or the button's trim-in lies past
    // the end of its file (a 1 s file, saved over a longer one or not); on
    // the default output (the pre-decoded engine has nothing of it, and the
    // players take the press), on a second output, with pre-loading off, and
    // for a rapid button: the players say why before anything is shown or
    // logged as playing. A press that cannot play stops nothing: a loop of
    // the other tab plays on under Cross-Tab Stop and Auto-Stop. A file
    // written just before the press, its header not read yet (the reads
    // held): the press neither waits for it nor reads it on the window's
    // thread; an empty one is refused by its size alone; any other waits
    // for its header, read on a thread of its own: a broken one is then
    // refused with its reason, and has stopped nothing, and a good one
    // ("tone") stops the other sound once it is heard, and only then shows
    // as playing. The players' output lost (every sound on them stood
    // still): a long sound, or any on a second output, is refused before
    // its stops, as the players would refuse it.
    void unplayablePress_data()
    {
        // "missing", "empty wav", "empty oga", "no sound" (header only),
        // "random mp3", "pipe", "past end" (trim-in 2 s), "output lost" (a
        // long sound, the players' output lost) or "tone" (plays)
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("device");
        QTest::addColumn<bool>("preload");
        QTest::addColumn<bool>("savedOver");
        QTest::addColumn<bool>("rapid");
        QTest::addColumn<bool>("unread");
        // Read among a big show's 2,100 other files, before them.
        QTest::addColumn<bool>("crowd");
        QTest::newRow("missing file") << "missing" << "" << true << false << false << false << false;
        QTest::newRow("missing file, second output") << "missing" << "second-output" << true << false << false << false << false;
        QTest::newRow("missing file, pre-load off") << "missing" << "" << false << false << false << false << false;
        QTest::newRow("empty wav") << "empty wav" << "" << true << false << false << false << false;
        QTest::newRow("empty wav, second output") << "empty wav" << "second-output" << true << false << false << false << false;
        QTest::newRow("empty oga") << "empty oga" << "" << true << false << false << false << false;
        QTest::newRow("empty oga, second output") << "empty oga" << "second-output" << true << false << false << false << false;
        QTest::newRow("header only") << "no sound" << "" << true << false << false << false << false;
        QTest::newRow("header only, second output") << "no sound" << "second-output" << true << false << false << false << false;
        QTest::newRow("header only, pre-load off") << "no sound" << "" << false << false << false << false << false;
        QTest::newRow("random bytes as mp3") << "random mp3" << "" << true << false << false << false << false;
        QTest::newRow("random bytes as mp3, second output") << "random mp3" << "second-output" << true << false << false << false << false;
        QTest::newRow("random bytes as mp3, rapid") << "random mp3" << "" << true << false << true << false << false;
        QTest::newRow("named pipe") << "pipe" << "" << true << false << false << false << false;
        QTest::newRow("named pipe, second output") << "pipe" << "second-output" << true << false << false << false << false;
        QTest::newRow("trim-in past the end, default output") << "past end" << "" << true << false << false << false << false;
        QTest::newRow("trim-in past the end, saved over, default output") << "past end" << "" << true << true << false << false << false;
        QTest::newRow("trim-in past the end, second output") << "past end" << "second-output" << true << false << false << false << false;
        QTest::newRow("trim-in past the end, pre-load off") << "past end" << "" << false << false << false << false << false;
        QTest::newRow("trim-in past the end, rapid") << "past end" << "" << true << false << true << false << false;
        QTest::newRow("empty wav, header unread") << "empty wav" << "" << true << false << false << true << false;
        QTest::newRow("random bytes as mp3, header unread") << "random mp3" << "" << true << false << false << true << false;
        QTest::newRow("random bytes as mp3, header unread, second output")
            << "random mp3" << "second-output" << true << false << false << true << false;
        QTest::newRow("random bytes as mp3, header unread, rapid") << "random mp3" << "" << true << false << true << true << false;
        QTest::newRow("good file, header unread") << "tone" << "" << true << false << false << true << false;
        QTest::newRow("good file, header unread, second output") << "tone" << "second-output" << true << false << false << true << false;
        QTest::newRow("random bytes as mp3, among 2,100 files read at load") << "random mp3" << "" << true << false << false << false << true;
        QTest::newRow("random bytes as mp3 saved over a good file read among 2,100, read again")
            << "random mp3" << "" << true << false << false << true << true;
        QTest::newRow("players' output lost") << "output lost" << "" << true << false << false << false << false;
        QTest::newRow("players' output lost, second output") << "output lost" << "second-output" << true << false << false << false << false;
        QTest::newRow("players' output lost, rapid") << "output lost" << "" << true << false << true << false << false;
    }
    void unplayablePress()
    {
        QFETCH(QString, file);
        QFETCH(QString, device);
        QFETCH(bool, preload);
        QFETCH(bool, savedOver);
        QFETCH(bool, rapid);
        QFETCH(bool, unread);
        QFETCH(bool, crowd);
        // A file changed after a big show was read is read again at once;
        // otherwise its new header is held unread until the press.
        const bool held = unread && !crowd;
        const QString id = QStringLiteral("S");
        const QString other = QStringLiteral("O");   // a loop of the other tab
        DirectSoundEngine* ds = DirectSoundEngine::instance();
        FileHeads* heads = FileHeads::instance();
        ButtonData& b = SessionManager::instance()->session().tabs[0].buttons[1];
        const ButtonData was = b;
        A::preloadOn(w) = preload;
        A::toggle(w, 0)->setChecked(true);   // Auto-Stop
        A::toggle(w, 2)->setChecked(true);   // Cross-Tab Stop
        const auto restore = qScopeGuard([&] {
            heads->setHeld(false);
            playersBack();
            w->onStopAll();
            b = was;
            A::preloadOn(w) = true;
            A::toggle(w, 0)->setChecked(false);
            ds->evict(id);
        });
        b.outputDevice = device;
        b.rapid = rapid;
        std::optional<TestSupport::SpecialFiles> special;
        QString why;
        if (unread)
            giveChangedFile(file, crowd, &b, &why);
        else
            giveFile(file, savedOver, crowd, &b, &special, &why);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(!ds->isReady(id));
        QCOMPARE(AudioEngine::instance()->headKnown(b.audioPath), !held || file.startsWith(QLatin1String("empty")));
        const bool outputLost = file == QLatin1String("output lost");
        if (outputLost)
            QTRY_VERIFY_WITH_TIMEOUT(ds->isReady(other), 30000);   // it plays on from memory
        w->onPlayRequested(record(other));
        QVERIFY(AudioEngine::instance()->isPlaying(other) || ds->isPlaying(other));
        QVERIFY(!ds->isReady(id));
        if (outputLost)
            losePlayersOutput();
        EventLog* log = A::eventLog(w);
        QVERIFY(log);
        log->clear();
        TestSupport::takeToasts();

        // No header is read on this thread, the press's or any other.
        const int readsHere = heads->readsOnAppThread();
        const int mark = OpLog::totalWritten();
        w->onPlayRequested(record(id));
        // Refused up front when its file is known to be unplayable, else held.
        QCOMPARE(loggedSince(mark).filter(QStringLiteral("its stops wait until it is heard")).size(),
                 qsizetype(held && !rapid && why.isEmpty()));
        // Nothing shown playing, or stopped, before the sound is heard.
        QVERIFY(AudioEngine::instance()->isPlaying(other) || ds->isPlaying(other));
        QVERIFY(widget(w, other)->isPlaying());
        QVERIFY(!widget(w, id)->isPlaying());
        QVERIFY(!headerLit(w, 0));
        if (unread && why.isEmpty()) {
            // It waits for its header: nothing is tried before it is read.
            QVERIFY(!AudioEngine::instance()->slotFor(id));
            heads->setHeld(false);
            if (file != QLatin1String("tone"))
                why = QStringLiteral("Not a sound file this program can read");
        }
        if (file == QLatin1String("tone"))
            pressHeardStopsOthers(id, other);
        else
            pressRefusedStopsNothing(id, other, why);
        QCOMPARE(heads->readsOnAppThread(), readsHere);
    }

    // A pre-decoded sound plays to its end; so does one whose file was
    // renamed away after it was decoded: from memory, the window's heal
    // leaving it be, and ready at once when the file is back unchanged. A
    // show's folder renamed away, back, and away again: the event log tells
    // each loss and each return once, in one line for the folder. A sound on
    // a second output plays to its end on the players, and its pad is left
    // idle with no time shown, whatever its player reports last. A faded stop
    // on an output that runs late falls to silence along its whole fall, past
    // the window's fade timer, following a tab volume change on the way.
    void soundRunsOut_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("pre-decoded") << "file there";
        QTest::newRow("pre-decoded, file renamed away") << "file away";
        QTest::newRow("pre-decoded, folder renamed away twice") << "folder away";
        QTest::newRow("pre-decoded, a second output's folder away, files deleted meanwhile") << "second output away";
        QTest::newRow("pre-loading off, a folder away, files deleted meanwhile") << "second output away: pre-load off";
        QTest::newRow("pre-decoded, a folder with long sounds on both outputs away") << "second output away: long";
        QTest::newRow("pre-decoded, a second output's folder away, its loss seen in two parts")
            << "second output away: told late";
        QTest::newRow("players, second output") << "second output";
        QTest::newRow("faded stop outlasting its timer") << "late fall";
    }
    void soundRunsOut()
    {
        QFETCH(QString, how);
        if (how == QLatin1String("file away"))
            playsWhileAway();
        else if (how == QLatin1String("folder away"))
            folderAwayTold();
        else if (how.startsWith(QLatin1String("second output away")))
            secondOutputAwayTold(how.section(QStringLiteral(": "), 1));
        else if (how == QLatin1String("second output"))
            playerEndsOnSecondOutput();
        else if (how == QLatin1String("late fall"))
            fallOutlastsItsTimer();
        else
            predecodedSoundEnds();
    }

private:
    // A press's file is read as a session's files are, long before it: the
    // row's file of its kind (see unplayablePress_data) into b's record, and
    // why a press of it is refused.
    void giveFile(const QString& file, bool savedOver, bool crowd, ButtonData* b,
                  std::optional<TestSupport::SpecialFiles>* special, QString* why)
    {
        DirectSoundEngine* ds = DirectSoundEngine::instance();
        *why = QStringLiteral("Could not open file");
        if (file == QLatin1String("no sound")) {
            b->audioPath = dir + QStringLiteral("/hollow.wav");
            writeTone(b->audioPath, 0.0);
            *why = QStringLiteral("The file holds no sound");
        } else if (file.startsWith(QLatin1String("empty"))) {
            b->audioPath = dir + QStringLiteral("/nothing.") + file.mid(6);
            writeBytes(b->audioPath, QByteArray());
            *why = QStringLiteral("The file is empty");
        } else if (file == QLatin1String("random mp3")) {
            b->audioPath = dir + QStringLiteral("/noise.mp3");
            writeBytes(b->audioPath, noise());
            *why = QStringLiteral("Not a sound file this program can read");
        } else if (file == QLatin1String("pipe")) {
            const QString folder = dir + QStringLiteral("/special-") + QString::fromUtf8(QTest::currentDataTag());
            QVERIFY(QDir().mkpath(folder));
            special->emplace(folder);
            b->audioPath = (*special)->path(QStringLiteral("pipe"));
            QVERIFY(!b->audioPath.isEmpty());
        } else if (file == QLatin1String("past end")) {
            const QString path = dir + QStringLiteral("/promo.wav");
            b->audioPath = path;
            b->trimStart = 2.0;
            // As the window makes it ready: from a 3 s version that the 1 s
            // file was then saved over, or from the 1 s file alone.
            ds->evict(b->id);
            writeTone(path, savedOver ? 3.0 : 1.0);
            ds->preload(b->id, b->audioPath, b->trimStart, b->trimEnd, float(b->volume), b->loop, b->fadeIn,
                        b->fadeOut);
            QTRY_VERIFY_WITH_TIMEOUT(ds->isSettled(b->id), 30000);
            QCOMPARE(ds->isReady(b->id), savedOver);
            if (savedOver) {
                writeTone(path, 1.0);
                // Known from the file's notice.
                QTRY_VERIFY(ds->isStale(b->id));
            }
            *why = QStringLiteral("Trim-in 2.0 s lies past the end of the file, 1.0 s");
        } else if (file == QLatin1String("output lost")) {
            b->audioPath = dir + QStringLiteral("/long.wav");
            *why = QStringLiteral("The audio output was lost");
        }
        if (!QTest::currentTestFailed())
            readHeads(b->audioPath);
        if (crowd)
            readBigShow();
    }

    // A file read as another version (a good one under a broken one's
    // name, or the other way round), saved over just before the press: its
    // change is seen, its new header not read yet (the reads are held). In
    // a crowd: read before a big show's files, and saved over after them,
    // the reads going on; its new header is read at once.
    void giveChangedFile(const QString& file, bool crowd, ButtonData* b, QString* why)
    {
        static int serial = 0;
        const QString ext = file == QLatin1String("random mp3") ? QStringLiteral(".mp3") : QStringLiteral(".wav");
        b->audioPath = dir + QStringLiteral("/late-%1").arg(++serial) + ext;
        const bool plays = file == QLatin1String("tone");
        if (plays)
            writeBytes(b->audioPath, noise());
        else
            writeTone(b->audioPath, 2.0);
        if (QTest::currentTestFailed())
            return;
        readHeads(b->audioPath);
        QVERIFY(AudioEngine::instance()->headKnown(b->audioPath));
        if (crowd)
            readBigShow();
        else
            FileHeads::instance()->setHeld(true);
        if (plays)
            writeTone(b->audioPath, 2.0);
        else
            writeBytes(b->audioPath, file == QLatin1String("empty wav") ? QByteArray() : noise());
        KnownFiles::instance()->lookNow(b->audioPath);
        if (crowd) {
            QTRY_VERIFY_WITH_TIMEOUT(!FileHeads::instance()->busy(), 30000);
            *why = QStringLiteral("Not a sound file this program can read");
        }
        // Known by its size alone; what else is wrong only the start tells.
        if (file == QLatin1String("empty wav"))
            *why = QStringLiteral("The file is empty");
    }

    // A big show's files (10 ms of tone each), each read as at the show's
    // load, every one known after. A folder of its own for each row, so
    // that each row's are read anew.
    void readBigShow()
    {
        constexpr int kShowFiles = 2100;
        static int shows = 0;
        const QString show = dir + QStringLiteral("/big-%1").arg(++shows);
        QVERIFY(QDir().mkpath(show));
        const QVector<qint16> tone = TestSupport::sine(440, 0.01, 2, 44100);
        QStringList paths;
        for (int i = 0; i < kShowFiles; ++i) {
            paths << show + QStringLiteral("/%1.wav").arg(i);
            QVERIFY(TestSupport::writeWav16(paths.last(), tone, 2, 44100));
        }
        AudioEngine::instance()->readHeadsAhead(paths);
        QTRY_VERIFY_WITH_TIMEOUT(!FileHeads::instance()->busy(), 60000);
        for (const QString& path : std::as_const(paths))
            QVERIFY(AudioEngine::instance()->headKnown(path));
    }

    // A sound of no button plays on the players, and stands still: no
    // report of it reaches the engine any more, and its last move lies the
    // stall limit back, as when the sound server stops taking sound. The
    // output check then takes the players' output for lost.
    void losePlayersOutput()
    {
        AudioEngine* audio = AudioEngine::instance();
        audio->warmupBackend();   // the silent file its probe plays to find the output again
        ButtonData b;
        b.id = QStringLiteral("stalled");
        b.audioPath = dir + QStringLiteral("/long.wav");
        audio->play(b, QString());
        const auto playing = [audio, &b] {
            const PlaybackSlot* s = audio->slotFor(b.id);
            return s && s->player && !s->startPending && s->player->playbackState() == QMediaPlayer::PlayingState;
        };
        QTRY_VERIFY_WITH_TIMEOUT(playing(), 30000);
        PlaybackSlot* s = audio->slotFor(b.id);
        QObject::disconnect(s->player, &MediaPlayer::positionChanged, audio, nullptr);
        audio->checkOutput();   // counted from here
        s->lastMoveAtMs -= AudioEngine::kStallLimitMs;
        audio->checkOutput();
        QVERIFY(audio->isOutputLost());
        QVERIFY(!audio->slotFor(b.id));
    }

    // The players' output found again by its probe, after losePlayersOutput.
    static void playersBack()
    {
        AudioEngine* audio = AudioEngine::instance();
        if (!audio->isOutputLost())
            return;
        if (QTimer* probe = audio->findChild<QTimer*>(QStringLiteral("audioProbe")); probe && probe->isActive())
            TestSupport::fireTimer(probe);
        QTRY_VERIFY_WITH_TIMEOUT(!audio->isOutputLost(), 30000);
    }

    // The headers of a session's files are read ahead, off this thread, of
    // each file as it is on disk now (a file written again with the same
    // size may not be seen changed yet).
    static void readHeads(const QString& path)
    {
        KnownFiles::instance()->lookNow(path);
        AudioEngine::instance()->readHeadsAhead({path});
        QTRY_VERIFY_WITH_TIMEOUT(!FileHeads::instance()->busy(), 30000);
        QVERIFY(AudioEngine::instance()->headKnown(path));
    }

    // A file looked at before is pressed as last seen: a file written again
    // is pressed once it is seen whole, not caught mid-write.
    static void seenWhole(const QString& path)
    {
        bool known = false;
        KnownFiles::instance()->lastSeen(path, &known);
        if (known)
            QTRY_COMPARE(KnownFiles::instance()->lastSeen(path).size, QFileInfo(path).size());
    }

    // A WAV of so many seconds of tone, dated an hour back.
    static void writeTone(const QString& path, double seconds)
    {
        QVERIFY(TestSupport::writeWav16(path, TestSupport::sine(440, seconds, 2, 44100), 2, 44100));
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        f.close();
        seenWhole(path);
    }

    static void writeBytes(const QString& path, const QByteArray& bytes)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(f.write(bytes), bytes.size());
        f.close();
        seenWhole(path);
    }

    // Random bytes, the same each time.
    static QByteArray noise()
    {
        QByteArray bytes(64 * 1024, Qt::Uninitialized);
        QRandomGenerator noise(84);
        for (char& c : bytes)
            c = char(noise.bounded(256));
        return bytes;
    }

    // The press was refused (before anything was started when why, the
    // refusal's words, is known ahead; else once its start failed): an error
    // on screen and in the log, nothing shown or logged playing, and the
    // other sound plays on.
    void pressRefusedStopsNothing(const QString& id, const QString& other, const QString& why)
    {
        DirectSoundEngine* ds = DirectSoundEngine::instance();
        const QString title = QStringLiteral("Sound ") + id;
        if (!why.isEmpty())
            QVERIFY(!AudioEngine::instance()->slotFor(id));
        QTRY_VERIFY_WITH_TIMEOUT(!logLines().filter(QStringLiteral("Cannot play: ") + title).isEmpty(), 30000);
        QVERIFY(logged(QStringLiteral("[onPlaybackError] id=") + id));
        QTRY_VERIFY(!widget(w, id)->isPlaying());
        QVERIFY(!headerLit(w, 0));
        QVERIFY(!AudioEngine::instance()->isPlaying(id));
        QVERIFY(!ds->isPlaying(id));
        const QStringList toasts = TestSupport::takeToasts().filter(title);
        QCOMPARE(toasts.size(), 1);
        QVERIFY2(toasts[0].startsWith(QStringLiteral("\u26a0  Cannot play \"%1\": %2").arg(title, why)),
                 qPrintable(toasts[0]));
        const QStringList lines = logLines();
        QCOMPARE(lines.filter(QStringLiteral("Cannot play: %1 (%2").arg(title, why)).size(), 1);
        QCOMPARE(lines.filter(QStringLiteral("Playing: ") + title).size(), 0);
        QVERIFY(AudioEngine::instance()->isPlaying(other) || ds->isPlaying(other));
        QVERIFY(widget(w, other)->isPlaying());
    }

    // The press's sound is heard: only then is the other sound stopped, and
    // the press shown and logged playing, once.
    void pressHeardStopsOthers(const QString& id, const QString& other)
    {
        DirectSoundEngine* ds = DirectSoundEngine::instance();
        QTRY_VERIFY_WITH_TIMEOUT(widget(w, id)->isPlaying(), 30000);
        QVERIFY(AudioEngine::instance()->isPlaying(id));
        QTRY_VERIFY_WITH_TIMEOUT(!AudioEngine::instance()->isPlaying(other) && !ds->isPlaying(other), 10000);
        QTRY_VERIFY(!widget(w, other)->isPlaying());
        QVERIFY(AudioEngine::instance()->isPlaying(id));
        const QString title = QStringLiteral("Sound ") + id;
        QCOMPARE(TestSupport::takeToasts().filter(title), QStringList());
        const QStringList lines = logLines();
        QCOMPARE(lines.filter(QStringLiteral("Playing: ") + title).size(), 1);
        QCOMPARE(lines.filter(QStringLiteral("Cannot play: ") + title).size(), 0);
    }

    // The operation log's lines written since mark (OpLog::totalWritten).
    static QStringList loggedSince(int mark)
    {
        return OpLog::entriesNewestFirst().mid(0, OpLog::totalWritten() - mark);
    }

    QStringList logLines() const
    {
        QStringList lines;
        EventLog* log = A::eventLog(w);
        for (int i = 0; i < log->list()->count(); ++i)
            lines << log->list()->item(i)->text();
        return lines;
    }

    // Frames of sound the pre-decoded engine's mixer put out (the players
    // play elsewhere): static, as the render thread may still read the tap's
    // context for one pass after it is taken away.
    static inline std::atomic<int> s_soundFrames{0};
    static void countSound(void*, const qint16* frames, int count)
    {
        int sound = 0;
        for (int i = 0; i < count; ++i)
            sound += frames[2 * i] != 0 || frames[2 * i + 1] != 0;
        s_soundFrames.fetch_add(sound, std::memory_order_relaxed);
    }

    void predecodedSoundEnds()
    {
        DirectSoundEngine* ds = DirectSoundEngine::instance();
        s_soundFrames.store(0);
        ds->mixer()->setRenderTap(&countSound, nullptr);
        auto untap = qScopeGuard([ds] { ds->mixer()->setRenderTap(nullptr, nullptr); });
        // The press makes no file call on this thread: the sound is in memory.
        FileCalls::start();
        w->onPlayRequested(record(QStringLiteral("P")));
        const int calls = FileCalls::stop();
        QVERIFY2(calls == 0,
                 qPrintable(QStringLiteral("%1 file calls, the last at %2").arg(calls).arg(FileCalls::lastPath())));
        QVERIFY(widget(w, QStringLiteral("P"))->isPlaying());
        QVERIFY(headerLit(w, 0));
        // 0.3 s of sound on the paced null output, whole, then the window's
        // watch. Judged by what was mixed, not by a look just after the
        // press: on a busy machine the press can be over by then.
        QTRY_VERIFY_WITH_TIMEOUT(s_soundFrames.load() >= int(0.29 * BufferMixer::kRate), 30000);
        QTRY_VERIFY_WITH_TIMEOUT(!ds->isPlaying(QStringLiteral("P")), 30000);
        QVERIFY(s_soundFrames.load() <= int(0.31 * BufferMixer::kRate));
        QTRY_VERIFY(!widget(w, QStringLiteral("P"))->isPlaying());
        QVERIFY(!headerLit(w, 0));
        QVERIFY(A::nowPlayingId(w).isEmpty());
    }

    void playsWhileAway()
    {
        DirectSoundEngine* ds = DirectSoundEngine::instance();
        KnownFiles* files = KnownFiles::instance();
        const QString id = QStringLiteral("P");
        const QString path = record(id).audioPath;
        QVERIFY(ds->isReady(id));
        const quint32 bytes = ds->slotView(id).pcmBytes;
        QVERIFY(bytes > 0);
        // Evicted and decoded anew, it would have other buffers.
        BufferMixer::Buffer* const master = ds->slotView(id).master;
        TestSupport::takeToasts();
        QVERIFY(QFile::rename(path, path + QStringLiteral(".away")));
        auto putBack = qScopeGuard([&] { QFile::rename(path + QStringLiteral(".away"), path); });
        QTRY_VERIFY(!files->lastSeen(path).exists());
        A::cacheHealTick(w);
        QCOMPARE(ds->slotView(id).master, master);
        predecodedSoundEnds();
        QCOMPARE(ds->slotView(id).pcmBytes, bytes);
        QVERIFY(!AudioEngine::instance()->isPlaying(id));
        QVERIFY(logged(QStringLiteral("[DSE] %1 cannot be seen on disk; P plays from memory").arg(path)));
        const QFileInfo folder(dir);
        const QString where = QStringLiteral(" (\u2026/%1/%2)").arg(folder.dir().dirName(), folder.fileName());
        QTRY_COMPARE(logLines(QStringLiteral("Audio: The file of \"Sound P\" cannot be seen on disk") + where
                           + QStringLiteral("; the sound plays from memory"))
                         .size(),
                     1);
        QVERIFY(!logged(QStringLiteral("[onPlaybackError] id=P")));
        // One toast for the loss, none refusing a press.
        QStringList toasts;
        QTRY_VERIFY((toasts << TestSupport::takeToasts()).filter(QStringLiteral("cannot be seen")).size() == 1);
        QCOMPARE(toasts.filter(QStringLiteral("Sound P")),
                 QStringList{QStringLiteral("⚠  The file of \"Sound P\" cannot be seen on disk") + where
                             + QStringLiteral("; the sound plays from memory")});

        putBack.dismiss();
        QVERIFY(QFile::rename(path + QStringLiteral(".away"), path));
        QTRY_VERIFY(files->lastSeen(path).exists());
        QVERIFY(ds->isReady(id));
        QTRY_COMPARE(logLines(QStringLiteral("Audio: The file of \"Sound P\" is back on disk") + where).size(), 1);
        QTRY_VERIFY((toasts << TestSupport::takeToasts()).filter(QStringLiteral("back on disk")).size() == 1);
        QCOMPARE(toasts.filter(QStringLiteral("back on disk")).first(),
                 QStringLiteral("✅  The file of \"Sound P\" is back on disk") + where);
        A::cacheHealTick(w);
        QCOMPARE(ds->slotView(id).master, master);
    }

    // The loudest sample of each 10 ms from frame `from` of what the output
    // was given, on the left channel.
    static QVector<int> peaks(const QByteArray& pcm, qint64 from, int blocks)
    {
        constexpr int kBlock = 441;
        QVector<int> out;
        const auto* s = reinterpret_cast<const qint16*>(pcm.constData());
        for (int b = 0; b < blocks; ++b) {
            int peak = 0;
            const qint64 first = from + qint64(b) * kBlock;
            for (qint64 f = first; f < first + kBlock && (f + 1) * 4 <= pcm.size(); ++f)
                peak = std::max(peak, std::abs(int(s[2 * f])));
            out << peak;
        }
        return out;
    }

    // Q stopped by the window with a fade of 200 ms while its output takes
    // no frame: the window's timer for the fade's end runs out before any
    // of the fall is heard. The voice is left to fall, and does so, frame
    // for frame, once the output takes frames again; half way through, the
    // tab's volume is halved, and the rest of the fall is at half.
    void fallOutlastsItsTimer()
    {
        DirectSoundEngine* ds = DirectSoundEngine::instance();
        const QString id = QStringLiteral("Q");
        QTRY_VERIFY_WITH_TIMEOUT(ds->isReady(id), 30000);
        w->onStopAll();   // Q alone is heard
        QCOMPARE(ds->mixer()->open(std::make_unique<ManualOutput>(BufferMixer::outputConfig())), BufferMixer::Ok);
        QCOMPARE(ds->mixer()->start(), BufferMixer::Ok);
        QSlider* tabVolume = A::panels(w)[0].header->m_volSlider;
        const int tabWas = tabVolume->value();
        const auto restore = qScopeGuard([&] {
            A::routedStop(w, id, 0);
            tabVolume->setValue(tabWas);
            // Back on the null output for the cases after this one.
            ds->mixer()->open(AudioOutput::openBackend(AudioOutput::Backend::Null, BufferMixer::outputConfig()));
            ds->mixer()->start();
        });
        ManualOutput* out = ManualOutput::lastOpened();
        // Lets the output take n frames, and waits until they are mixed again.
        const auto play = [&](int n) {
            const qint64 target = out->framesWritten() + n;
            out->consume(n);
            return QTest::qWaitFor([&] { return out->framesWritten() >= target; }, 30000);
        };
        w->onPlayRequested(record(id));
        QVERIFY(play(BufferMixer::kPeriodFrames));

        constexpr int kFadeMs = 200;
        constexpr int kFall = kFadeMs * BufferMixer::kRate / 1000;
        A::routedStop(w, id, kFadeMs);
        QVERIFY(ds->isFadingOut(id));
        // Timers that run out together run in the order they were set.
        bool timerRan = false;
        QTimer::singleShot(kFadeMs, w, [&] { timerRan = true; });
        QTRY_VERIFY_WITH_TIMEOUT(timerRan, 30000);
        QVERIFY(ds->isPlaying(id));
        QVERIFY(ds->isFadingOut(id));

        const qint64 from = out->framesWritten();   // the first frame of the fall
        while (out->framesWritten() < from + kFall / 2)
            QVERIFY(play(BufferMixer::kPeriodFrames));
        const float full = BufferMixer::gainForVolume(DirectSoundEngine::dsVolume(ds->volume()));
        tabVolume->setValue(50);
        const double halved = BufferMixer::gainForVolume(DirectSoundEngine::dsVolume(0.5f * ds->volume())) / full;
        const qint64 changed = out->framesWritten();
        while (out->framesWritten() < from + kFall + 10 * BufferMixer::kPeriodFrames)
            QVERIFY(play(BufferMixer::kPeriodFrames));

        // Each 10 ms at the fall's share of the level before it, (1 - x)^1.5
        // of the way x through the fall; after the change at the halved
        // volume; nothing after the fall.
        const QByteArray pcm = out->written();
        const double level = peaks(pcm, from - 441, 1).value(0);
        QVERIFY(level > 1000);
        const QVector<int> heard = peaks(pcm, from, kFall / 441 + 5);
        for (int b = 0; b < heard.size(); ++b) {
            const qint64 first = from + qint64(b) * 441;
            if (first < changed && first + 441 > changed)
                continue;   // the change falls inside this one
            const double x = double(b * 441) / kFall;
            const double share = x < 1.0 ? std::pow(1.0 - x, 1.5) * (first >= changed ? halved : 1.0) : 0.0;
            // The peak of 10 ms of a tone lies a little below its top.
            QVERIFY2(std::abs(heard[b] - level * share) <= 0.04 * level + 2,
                     qPrintable(QStringLiteral("at %1 of the fall: %2, not %3").arg(x).arg(heard[b]).arg(level * share)));
        }
        QTRY_VERIFY(!ds->isPlaying(id));
    }

    void playerEndsOnSecondOutput()
    {
        const QString own = qEnvironmentVariable("TR_PULSE_OWN_SINK");
        if (own.isEmpty() || QMediaDevices::audioOutputs().size() < 2)
            QSKIP("no second output: start scripts/sound-server (scripts/test does)");
        AudioEngine* audio = AudioEngine::instance();
        ButtonData b = record(QStringLiteral("P"));
        b.outputDevice = own;
        w->onPlayRequested(b);
        SoundButton* pad = widget(w, QStringLiteral("P"));
        QVERIFY(pad->isPlaying());
        QVERIFY(!DirectSoundEngine::instance()->isPlaying(QStringLiteral("P")));
        QVERIFY(audio->slotFor(QStringLiteral("P")));
        QTRY_VERIFY_WITH_TIMEOUT(!audio->isPlaying(QStringLiteral("P")), 30000);
        // Until the ended player has let go of its media: its last reports
        // come in that time.
        const auto letGo = [audio] {
            const PlaybackSlot* s = audio->slotFor(QStringLiteral("P"));
            return !s || !s->player || s->player->source().isEmpty();
        };
        QTRY_VERIFY_WITH_TIMEOUT(letGo(), 30000);
        QVERIFY(!pad->isPlaying());
        QVERIFY(!headerLit(w, 0));
        QCOMPARE(pad->positionMs(), qint64(0));
        QCOMPARE(pad->durationMs(), qint64(0));
    }

    // The event log's lines that hold part, oldest first.
    QList<QListWidgetItem*> logLines(const QString& part) const
    {
        QList<QListWidgetItem*> found;
        const QListWidget* list = A::eventLog(w)->list();
        for (int i = 0; i < list->count(); ++i)
            if (list->item(i)->text().contains(part))
                found << list->item(i);
        return found;
    }

    void folderAwayTold()
    {
        DirectSoundEngine* ds = DirectSoundEngine::instance();
        const QString show = dir + QStringLiteral("/Show");
        const QStringList ids{QStringLiteral("F1"), QStringLiteral("F2"), QStringLiteral("F3")};
        QVERIFY(QDir().mkpath(show));
        const auto writeDated = [](const QString& path) {
            QVERIFY(TestSupport::writeWav16(path, TestSupport::sine(440, 0.1, 2, 44100), 2, 44100));
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
        };
        for (const QString& id : ids) {
            writeDated(show + QStringLiteral("/%1.wav").arg(id));
            ds->preload(id, show + QStringLiteral("/%1.wav").arg(id), 0, 0, 1.0f, false, 0, 0);
        }
        // Watched, but no sound in memory was made of it.
        writeDated(show + QStringLiteral("/other.wav"));
        KnownFiles::instance()->lookNow(show + QStringLiteral("/other.wav"));
        for (const QString& id : ids)
            QTRY_VERIFY_WITH_TIMEOUT(ds->isReady(id), 30000);
        auto forget = qScopeGuard([&] {
            QDir().rename(show + QStringLiteral(".away"), show);
            for (const QString& id : ids)
                ds->evict(id);
        });
        A::eventLog(w)->clear();
        const QString where = QStringLiteral("(\u2026/%1/Show)").arg(QFileInfo(dir).fileName());
        const QString lost = QStringLiteral("Audio: 3 sounds' files cannot be seen on disk %1; they play from memory")
                                 .arg(where);
        const QString back = QStringLiteral("Audio: 3 sounds' files are back on disk %1").arg(where);
        const auto told = [this](const QString& part) {
            QStringList lines;
            for (const QListWidgetItem* line : logLines(part))
                lines << line->text();
            return lines.join(QLatin1String(" | "));
        };
        for (int round = 1; round <= 2; ++round) {
            QVERIFY(QDir().rename(show, show + QStringLiteral(".away")));
            QTRY_VERIFY2_WITH_TIMEOUT(logLines(lost).size() == round, qPrintable(told(QStringLiteral("on disk"))), 15000);
            QCOMPARE(logLines(lost).last()->foreground().color(), EventLog::statusColor(QStringLiteral("warn")));
            QVERIFY(QDir().rename(show + QStringLiteral(".away"), show));
            QTRY_COMPARE_WITH_TIMEOUT(logLines(back).size(), round, 15000);
            // Told once each, never file by file.
            QCOMPARE(logLines(QStringLiteral("on disk")).size(), 2 * round);
        }

        // A disk that sends no notice and answers slowly (a share): only the
        // sweep sees its folder go, and each look takes longer than the
        // engine gathers notices for, as can any look on a busy machine; the
        // sweep rests longer still between its runs. Still told in one line.
        const QString share = dir + QStringLiteral("/Share");
        const QStringList shared{QStringLiteral("S1"), QStringLiteral("S2"), QStringLiteral("S3")};
        QVERIFY(QDir().mkpath(share));
        KnownFiles* files = KnownFiles::instance();
        files->setWatchLimit(0);
        files->setLook([share](const QString& path) {
            if (path.startsWith(share))
                QThread::msleep(DirectSoundEngine::kSeenQuietMs + 50);
            return FileCheck::stampOf(path);
        });
        auto unshare = qScopeGuard([&] {
            files->setLook({});
            files->setWatchLimit(-1);
            QDir().rename(share + QStringLiteral(".away"), share);
            for (const QString& id : shared)
                ds->evict(id);
        });
        for (const QString& id : shared) {
            writeDated(share + QStringLiteral("/%1.wav").arg(id));
            ds->preload(id, share + QStringLiteral("/%1.wav").arg(id), 0, 0, 1.0f, false, 0, 0);
        }
        for (const QString& id : shared)
            QTRY_VERIFY_WITH_TIMEOUT(ds->isReady(id), 30000);
        QVERIFY(!files->isWatched(share + QStringLiteral("/S1.wav")));
        QVERIFY(QDir().rename(share, share + QStringLiteral(".away")));
        const QString shareLost = QStringLiteral("Audio: 3 sounds' files cannot be seen on disk (\u2026/%1/Share)")
                                      .arg(QFileInfo(dir).fileName());
        QTRY_VERIFY_WITH_TIMEOUT(!logLines(QStringLiteral("/Share)")).isEmpty(), 30000);
        // Whatever else is to come of it has come by then.
        QTest::qWait(DirectSoundEngine::kSeenHoldMs);
        const QList<QListWidgetItem*> shareLines = logLines(QStringLiteral("/Share)"));
        QVERIFY2(shareLines.size() == 1 && shareLines.first()->text().contains(shareLost),
                 qPrintable(told(QStringLiteral("/Share)"))));
    }

    // A tab on a second output plays through the players, which read the
    // file: its sounds cannot play while their folder is away, though the
    // pre-decoded engine holds them. One sound of the folder is on a tab of
    // the default output and plays from memory. Two files are deleted while
    // the folder is away; its return names them. how: "" as said; "pre-load
    // off": nothing is held in memory, and every sound cannot play; "long":
    // two sounds too long to hold in memory, one on each tab, go to the
    // players and are counted with the rest; "told late": the folder sends
    // no notice, and the loss is seen in two parts, the second told more
    // than a second after the first (as a sweep starved on a busy machine
    // tells what it saw), and is still told once.
    void secondOutputAwayTold(const QString& how)
    {
        DirectSoundEngine* ds = DirectSoundEngine::instance();
        KnownFiles* files = KnownFiles::instance();
        Session& session = SessionManager::instance()->session();
        const bool preload = how != QLatin1String("pre-load off");
        const bool late = how == QLatin1String("told late");
        const QString folderName = how.isEmpty() ? QStringLiteral("Show2")
                                                 : QStringLiteral("Show-") + QString(how).replace(QLatin1Char(' '), QLatin1Char('-'));
        const QString show = dir + QLatin1Char('/') + folderName;
        QVERIFY(QDir().mkpath(show));
        A::preloadOn(w) = preload;
        if (late)
            files->setWatchLimit(0);
        TabData tab;
        tab.id = QStringLiteral("tab-show");
        tab.name = QStringLiteral("Show");
        tab.soundCard = QStringLiteral("second-output");
        QStringList ids;
        const int count = how == QLatin1String("long") ? 8 : 6;
        for (int i = 1; i <= count; ++i) {
            const QString id = QStringLiteral("X%1").arg(i);
            const QString path = show + QStringLiteral("/%1.wav").arg(id);
            // X7 and X8 last 31 s: too long to be held in memory.
            if (i > 6)
                QVERIFY(TestSupport::writeWav16(path, TestSupport::sine(440, 31.0, 1, 8000), 1, 8000));
            else
                QVERIFY(TestSupport::writeWav16(path, TestSupport::sine(440, 0.1, 2, 44100), 2, 44100));
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
            files->lookNow(path);   // followed in this order
            if (i < 6 || i == 8)
                tab.buttons << button(id, path);
            else
                session.tabs[1].buttons << button(id, path);   // the default output
            if (preload)
                ds->preload(id, path, 0, 0, 1.0f, false, 0, 0);
            ids << id;
        }
        // A file of the folder that no sound has, followed after the others.
        const QString other = show + QStringLiteral("/other.wav");
        QVERIFY(TestSupport::writeWav16(other, TestSupport::sine(440, 0.1, 2, 44100), 2, 44100));
        files->lookNow(other);
        session.tabs << tab;
        const int onDefault = count == 8 ? 2 : 1;
        auto forget = qScopeGuard([&] {
            files->setLook({});
            files->setWatchLimit(-1);
            A::preloadOn(w) = true;
            QDir().rename(show + QStringLiteral(".away"), show);
            Session& s = SessionManager::instance()->session();
            s.tabs.removeLast();
            for (int i = 0; i < onDefault; ++i)
                s.tabs[1].buttons.removeLast();
            for (const QString& id : ids)
                ds->evict(id);
        });
        if (preload)
            for (const QString& id : ids)
                QTRY_VERIFY_WITH_TIMEOUT(ds->isSettled(id), 30000);
        A::eventLog(w)->clear();
        TestSupport::takeToasts();
        const QString where = QStringLiteral("(\u2026/%1/%2)").arg(QFileInfo(dir).fileName(), folderName);
        QString lost;
        if (!preload)
            lost = QStringLiteral("6 sounds' files cannot be seen on disk %1; they cannot play until their files are back")
                       .arg(where);
        else
            lost = QStringLiteral("%1 sounds' files cannot be seen on disk %2: \"Sound X6\" plays from "
                                  "memory; %3 cannot play until their files are back")
                       .arg(count)
                       .arg(where)
                       .arg(count - 1);

        // Told late: the sweep's first look at a file of the folder gone
        // waits while two other files are seen gone here and told at once;
        // the sweep then sees the rest gone, and its look at the other file,
        // its last, waits until the loss is told.
        struct Late
        {
            QSemaphore atFirst, go, told;
            QMutex mx;
            QString first;
            bool early = false;
        };
        const auto split = std::make_shared<Late>();
        const auto release = qScopeGuard([split] {
            split->go.release(100);
            split->told.release(100);
        });
        if (late) {
            files->setLook([split, show, other](const QString& p) {
                if (QThread::currentThread()->objectName() == QLatin1String("KnownFiles sweep") && p.startsWith(show)
                    && !QFileInfo::exists(show)) {
                    bool wait = false;
                    bool hold = false;
                    {
                        QMutexLocker lock(&split->mx);
                        wait = p != other && split->first.isEmpty();
                        if (wait)
                            split->first = p;
                        hold = p == other && split->early;
                    }
                    if (wait) {
                        split->atFirst.release();
                        split->go.acquire();
                    } else if (hold) {
                        split->told.tryAcquire(1, 10000);
                    }
                }
                return FileCheck::stampOf(p);
            });
        }
        QVERIFY(QDir().rename(show, show + QStringLiteral(".away")));
        if (late) {
            QVERIFY(split->atFirst.tryAcquire(1, 15000));
            QStringList seenHere;
            {
                QMutexLocker lock(&split->mx);
                for (int i = 1; i <= 6 && seenHere.size() < 2; ++i)
                    if (show + QStringLiteral("/X%1.wav").arg(i) != split->first)
                        seenHere << show + QStringLiteral("/X%1.wav").arg(i);
                split->early = true;
            }
            for (const QString& path : std::as_const(seenHere))
                QVERIFY(!files->lookNow(path).exists());
            split->go.release();
        }
        QTRY_VERIFY2_WITH_TIMEOUT(logLines(QStringLiteral("Audio: ") + lost).size() == 1,
                                  qPrintable(logLines().join(QStringLiteral(" | "))), 15000);
        QStringList toasts;
        QTRY_VERIFY((toasts << TestSupport::takeToasts()).filter(QStringLiteral("cannot be seen")).size() == 1);
        QCOMPARE(toasts.filter(QStringLiteral("cannot be seen")).first(), QStringLiteral("⚠  ") + lost);
        if (late) {
            split->told.release(100);
            // Whatever else is to come of it has come by then.
            QTest::qWait(DirectSoundEngine::kSeenHoldMs);
            QVERIFY2(logLines(QStringLiteral("cannot be seen")).size() == 1,
                     qPrintable(logLines().join(QStringLiteral(" | "))));
            QCOMPARE((toasts << TestSupport::takeToasts()).filter(QStringLiteral("cannot be seen")).size(), 1);
        }

        QVERIFY(QFile::remove(show + QStringLiteral(".away/X2.wav")));
        QVERIFY(QFile::remove(show + QStringLiteral(".away/X6.wav")));
        QVERIFY(QDir().rename(show + QStringLiteral(".away"), show));
        const QString back = QStringLiteral("%1 sounds' files are back on disk %2").arg(count - 2).arg(where);
        QTRY_COMPARE_WITH_TIMEOUT(logLines(QStringLiteral("Audio: ") + back).size(), 1, 15000);
        QCOMPARE(logLines(QStringLiteral("still missing")).size(), 2);
        QCOMPARE(logLines(QStringLiteral("Audio: The file of \"Sound X2\" is still missing (\u2026/%1/X2.wav); "
                                         "the sound cannot play until its file is back")
                              .arg(folderName))
                     .size(),
                 1);
        const QString x6 = preload ? QStringLiteral("plays from memory until the program closes")
                                   : QStringLiteral("cannot play until its file is back");
        QCOMPARE(logLines(QStringLiteral("Audio: The file of \"Sound X6\" is still missing (\u2026/%1/X6.wav); "
                                         "the sound %2")
                              .arg(folderName, x6))
                     .size(),
                 1);
        QTRY_VERIFY((toasts << TestSupport::takeToasts()).filter(QStringLiteral("back on disk")).size() == 1);
        QCOMPARE(toasts.filter(QStringLiteral("back on disk")).first(),
                 QStringLiteral("✅  ") + back + QStringLiteral("; 2 still missing (see the Event Log)"));
        QCOMPARE(toasts.filter(QStringLiteral("cannot be seen")).size(), 1);
    }

private slots:

    // Master volume reaches the pre-decoded engine, and a tab volume a
    // pre-decoded sound that plays, under the master; master and tab volumes
    // reach a sound playing through the players at once.
    void volumesOnPlayingSound()
    {
        DirectSoundEngine* ds = DirectSoundEngine::instance();
        A::volSlider(w)->setValue(60);
        QCOMPARE(ds->volume(), 0.6f);
        QTRY_VERIFY_WITH_TIMEOUT(ds->isReady(QStringLiteral("Q")), 30000);
        w->onPlayRequested(record(QStringLiteral("Q")));
        QVERIFY(ds->isMasterPlaying(QStringLiteral("Q")));
        A::panels(w)[0].header->m_volSlider->setValue(42);
        QCOMPARE(ds->mixer()->volume(ds->slotView(QStringLiteral("Q")).master), DirectSoundEngine::dsVolume(0.42f * 0.6f));
        A::volSlider(w)->setValue(50);
        QCOMPARE(ds->mixer()->volume(ds->slotView(QStringLiteral("Q")).master), DirectSoundEngine::dsVolume(0.42f * 0.5f));
        w->onStopAll();
        QVERIFY(!ds->isPlaying(QStringLiteral("Q")));
        A::panels(w)[0].header->m_volSlider->setValue(100);
        A::volSlider(w)->setValue(60);
        if (QMediaDevices::audioOutputs().isEmpty())
            QSKIP("no audio output for the players");
        DirectSoundEngine::instance()->evict(QStringLiteral("Q")); // the players' path
        w->onPlayRequested(record(QStringLiteral("Q")));
        PlaybackSlot* slot = AudioEngine::instance()->slotFor(QStringLiteral("Q"));
        QVERIFY(slot && slot->output);
        QCOMPARE(slot->output->volume(), 0.6f);
        A::panels(w)[0].header->m_volSlider->setValue(50);
        QCOMPARE(slot->volume, 0.5);
        QCOMPARE(slot->output->volume(), 0.3f);
        A::volSlider(w)->setValue(100);
        QCOMPARE(slot->output->volume(), 0.5f);
        w->onStopAll();
        QTRY_VERIFY_WITH_TIMEOUT(!AudioEngine::instance()->isPlaying(QStringLiteral("Q")), 30000);
        A::panels(w)[0].header->m_volSlider->setValue(100);
    }

    // A button or a tab with an output of its own plays there, through the
    // players, although its sound is ready in the pre-decoded engine (which
    // plays on the default output only).
    void ownDeviceTakesThePlayers_data()
    {
        QTest::addColumn<bool>("buttonOwn");
        QTest::newRow("button's own") << true;
        QTest::newRow("tab's own") << false;
    }
    void ownDeviceTakesThePlayers()
    {
        QFETCH(bool, buttonOwn);
        const QList<QAudioDevice> outputs = QMediaDevices::audioOutputs();
        if (outputs.isEmpty())
            QSKIP("no audio output for the players");
        DirectSoundEngine* ds = DirectSoundEngine::instance();
        ButtonData b = record(QStringLiteral("Q"));
        ds->preload(b.id, b.audioPath, b.trimStart, b.trimEnd, float(b.volume), b.loop, b.fadeIn, b.fadeOut);
        QTRY_VERIFY_WITH_TIMEOUT(ds->isReady(QStringLiteral("Q")), 30000);
        // Another output than the default when the machine has one; else an
        // output that is gone, which the players replace by the default.
        const QByteArray systemDefault = QMediaDevices::defaultAudioOutput().id();
        QString device = QStringLiteral("gone-output");
        for (const QAudioDevice& d : outputs)
            if (d.id() != systemDefault)
                device = QString::fromUtf8(d.id());
        TabData& tab = SessionManager::instance()->session().tabs[0];
        (buttonOwn ? b.outputDevice : tab.soundCard) = device;
        w->onPlayRequested(b);
        QVERIFY(!ds->isPlaying(QStringLiteral("Q")));
        PlaybackSlot* slot = AudioEngine::instance()->slotFor(QStringLiteral("Q"));
        QVERIFY(slot && slot->output);
        if (device != QLatin1String("gone-output"))
            QCOMPARE(QString::fromUtf8(slot->output->device().id()), device);
        w->onStopAll();
        tab.soundCard.clear();
        QTRY_VERIFY_WITH_TIMEOUT(!AudioEngine::instance()->isPlaying(QStringLiteral("Q")), 30000);
    }

    // Restart off, a tab fade of 1 s: press (plays), press (the pad goes
    // dark, the sound fades), press during the fade: the sound starts anew
    // from its trim-in, and the end of the old fade leaves it alone.
    void pressDuringStopFadeStarts_data()
    {
        QTest::addColumn<bool>("predecoded");
        QTest::newRow("players") << false;   // first: the second row decodes Q again
        QTest::newRow("pre-decoded") << true;
    }
    void pressDuringStopFadeStarts()
    {
        QFETCH(bool, predecoded);
        const QString id = QStringLiteral("Q");
        DirectSoundEngine* ds = DirectSoundEngine::instance();
        AudioEngine* ae = AudioEngine::instance();
        ButtonData b = record(id);
        if (predecoded) {
            ds->preload(b.id, b.audioPath, b.trimStart, b.trimEnd, float(b.volume), b.loop, b.fadeIn, b.fadeOut);
            QTRY_VERIFY_WITH_TIMEOUT(ds->isReady(id), 30000);
        } else {
            if (QMediaDevices::audioOutputs().isEmpty())
                QSKIP("no audio output for the players");
            ds->evict(id);
        }
        SessionManager::instance()->session().tabs[0].fadeMs = 1000;
        A::toggle(w, 1)->setChecked(false); // Restart on Re-Click off
        const auto restore = qScopeGuard([this] {
            w->onStopAll();
            SessionManager::instance()->session().tabs[0].fadeMs = 0;
            A::toggle(w, 1)->setChecked(true);
        });

        w->onPlayRequested(b);
        QVERIFY(widget(w, id)->isPlaying());
        w->onPlayRequested(b);
        QVERIFY(!widget(w, id)->isPlaying());
        QVERIFY(predecoded ? ds->isFadingOut(id) : ae->stopFadeTimer(id) != nullptr);

        w->onPlayRequested(b);
        QVERIFY(widget(w, id)->isPlaying());
        QCOMPARE(A::nowPlayingId(w), id);
        if (predecoded) {
            QVERIFY(ds->isMasterPlaying(id));
            QVERIFY(!ds->isFadingOut(id));
            BufferMixer::Buffer* master = ds->slotView(id).master;
            const int full = DirectSoundEngine::dsVolume(ds->volume());
            QCOMPARE(ds->mixer()->volume(master), full);
            if (QTimer* fade = ds->findChild<QTimer*>(QStringLiteral("dseStopFade")))
                for (int i = 0; i < 1000 / DirectSoundEngine::kFadeTickMs + 1; ++i)
                    TestSupport::fireTimer(fade);
            QCOMPARE(ds->mixer()->volume(master), full);
            QVERIFY(ds->isMasterPlaying(id));
        } else {
            QVERIFY(!ds->isPlaying(id));
            PlaybackSlot* slot = ae->slotFor(id);
            QVERIFY(slot && slot->active);
            QVERIFY(!slot->stopFading);
            QVERIFY(!ae->stopFadeTimer(id));
            QTRY_VERIFY_WITH_TIMEOUT(slot->player->playbackState() == QMediaPlayer::PlayingState, 30000);
            QVERIFY(slot->output->volume() > 0.0f);
        }
    }

    // The pre-decoded engine's output fails while a sound plays, then opens
    // again: the sound is shown ended, one warning, and a press after the
    // return sounds on the new output. A press meanwhile goes to the players.
    void lostOutputEndsSoundsAndReturns()
    {
        DirectSoundEngine* ds = DirectSoundEngine::instance();
        QTRY_VERIFY_WITH_TIMEOUT(ds->isReady(QStringLiteral("Q")), 30000);
        EventLog* log = A::eventLog(w);
        QVERIFY(log);
        log->clear();
        TestSupport::takeToasts();
        std::atomic<bool> failing{false};   // read on the engine's opening thread
        ds->setOutputFactory([&failing]() -> std::unique_ptr<AudioOutput> {
            if (failing)
                return nullptr;
            return std::make_unique<ManualOutput>(BufferMixer::outputConfig());
        });
        QCOMPARE(ds->mixer()->open(std::make_unique<ManualOutput>(BufferMixer::outputConfig())), BufferMixer::Ok);
        QCOMPARE(ds->mixer()->start(), BufferMixer::Ok);

        w->onPlayRequested(record(QStringLiteral("Q")));
        QVERIFY(ds->isPlaying(QStringLiteral("Q")));
        QVERIFY(widget(w, QStringLiteral("Q"))->isPlaying());
        QVERIFY(headerLit(w, 0));
        QCOMPARE(A::playingText(w), QStringLiteral("Playing: 1"));

        failing = true;
        ManualOutput::lastOpened()->loseDevice();
        QTRY_VERIFY(ds->mixer()->isOutputLost());
        QTRY_VERIFY(!widget(w, QStringLiteral("Q"))->isPlaying());
        QVERIFY(!ds->isPlaying(QStringLiteral("Q")));
        QVERIFY(!headerLit(w, 0));
        QVERIFY(A::nowPlayingId(w).isEmpty());
        QCOMPARE(A::playingText(w), QStringLiteral("Playing: 0"));
        QCOMPARE(A::audioText(w), QStringLiteral("● Audio Lost"));
        QStringList toasts = TestSupport::takeToasts();
        QCOMPARE(toasts.filter(QStringLiteral("Audio output lost")).size(), 1);
        int lostLines = 0;
        for (int i = 0; i < log->list()->count(); ++i)
            lostLines += log->list()->item(i)->text().contains(QLatin1String("Output lost"));
        QCOMPARE(lostLines, 1);

        // Meanwhile a press is the players' (they report for themselves).
        w->onPlayRequested(record(QStringLiteral("Q")));
        QVERIFY(!ds->isPlaying(QStringLiteral("Q")));
        QVERIFY(widget(w, QStringLiteral("Q"))->isPlaying());
        A::routedStop(w, QStringLiteral("Q"), 0);

        // Retried by itself, at growing intervals, until an output opens.
        QTimer* reopen = ds->findChild<QTimer*>(QStringLiteral("dseReopen"));
        QVERIFY(reopen && reopen->isActive());
        const int first = reopen->interval();
        TestSupport::fireTimer(reopen);
        QVERIFY(reopen->isActive());
        QCOMPARE_GT(reopen->interval(), first);
        // The output opens on a thread of its own: on a busy machine a
        // later retry may be the one that takes it up.
        failing = false;
        TestSupport::fireTimer(reopen);
        QTRY_VERIFY_WITH_TIMEOUT(!ds->mixer()->isOutputLost(), 15000);
        QCOMPARE(A::audioText(w), QStringLiteral("● Audio Ready"));
        QCOMPARE(TestSupport::takeToasts().filter(QStringLiteral("Audio output lost")).size(), 0);

        w->onPlayRequested(record(QStringLiteral("Q")));
        QVERIFY(ds->isPlaying(QStringLiteral("Q")));
        ManualOutput* back = ManualOutput::lastOpened();
        const qint64 at = back->framesWritten();
        back->consume(BufferMixer::kPeriodFrames * 3);
        QTRY_VERIFY(back->framesWritten() > at + BufferMixer::kPeriodFrames);
        const QByteArray pcm = back->written().mid(at * 4);
        bool sounded = false;
        for (qsizetype i = 0; i + 1 < pcm.size() && !sounded; i += 2)
            sounded = reinterpret_cast<const qint16*>(pcm.constData())[i / 2] != 0;
        QVERIFY(sounded);
        A::routedStop(w, QStringLiteral("Q"), 0);

        // Back on the machine's own output for the cases after this one.
        ds->setOutputFactory({});
        QCOMPARE(ds->mixer()->open(AudioOutput::openBackend(AudioOutput::Backend::Null, BufferMixer::outputConfig())),
                 BufferMixer::Ok);
        QCOMPARE(ds->mixer()->start(), BufferMixer::Ok);
    }

    // Output changes within the debounce give one reopening of the float
    // stream; a change during a theme change is ignored.
    void outputsChangedReopenTheStream()
    {
        QTimer* debounce = A::deviceDebounceTimer(w);
        QCOMPARE(debounce->interval(), 1500);
        A::themeApplying(w) = true;
        A::onAudioOutputsChanged(w);
        QVERIFY(!debounce->isActive());
        A::themeApplying(w) = false;
        A::onAudioOutputsChanged(w);
        A::onAudioOutputsChanged(w);
        QVERIFY(debounce->isActive());
        TestSupport::fireTimer(debounce);
        QVERIFY(A::reinitRunning(w));
        A::onAudioOutputsChanged(w); // while it runs: ignored
        QVERIFY(!debounce->isActive());
        QTRY_VERIFY(!A::reinitRunning(w));
        QVERIFY(logged(QStringLiteral("[Main] Hot-plug reinit complete")));
        QCOMPARE(OpLog::entriesNewestFirst().filter(QStringLiteral("Hot-plug: audio device change")).size(), 1);
        QVERIFY(WasapiEngine::instance()->isActive());
    }
};

QTEST_MAIN(TestRoutingEngines)
#include "tst_routing_engines.moc"
