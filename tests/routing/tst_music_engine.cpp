// Auto-Mix on the real AudioEngine and the sound server's null sink: a
// playlist that mixes files the players cannot play with good short tracks.
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include "AudioEngine.h"
#include "EventLog.h"
#include "MusicItemDelegate.h"
#include "RoutingSupport.h"

using A = RoutingTestAccess;
using RoutingTest::drainToasts;

class TestMusicEngine : public QObject
{
    Q_OBJECT
    MainWindow* w = nullptr;
    QTemporaryDir tmp;
    // The files heard, in order, and the id last heard.
    QStringList started;
    QString lastHeard;

    QString at(const QString& name) const { return tmp.path() + QLatin1Char('/') + name; }

    void setRows(const QStringList& paths)
    {
        w->musicList->clear();
        for (const QString& p : paths) {
            auto* item = new QListWidgetItem(QFileInfo(p).fileName(), w->musicList);
            item->setData(Qt::UserRole, p);
            item->setData(MusicItemDelegate::kInPlaylistRole, true);
        }
    }

private slots:
    void initTestCase()
    {
        QVERIFY(tmp.isValid());
        TestSupport::isolateSettings();
        w = new MainWindow;
        w->musicFadeCombo->setCurrentIndex(w->musicFadeCombo->findText(QStringLiteral("No fade")));
        // A track counts as heard once its position moves.
        connect(AudioEngine::instance(), &AudioEngine::positionChanged, this,
                [this](const QString& id, qint64 pos, qint64) {
                    if (pos <= 0 || id != A::musicId(w) || id == lastHeard)
                        return;
                    lastHeard = id;
                    started << QFileInfo(w->musicList->item(w->autoMixIndex)->data(Qt::UserRole).toString()).fileName();
                });
    }
    void cleanupTestCase()
    {
        AudioEngine::instance()->stopAll();
        delete w;
    }

    void goodTracksAmongBadOnes()
    {
        if (!AudioEngine::backendIsFfmpeg())
            QSKIP("the failure paths are the program's own back end's (FFmpeg)");
        const auto tone = TestSupport::sine(440, 1.0, 2, 44100);
        for (const char* name : {"good1.wav", "good2.wav", "good3.wav", "deleted.wav"})
            QVERIFY(TestSupport::writeWav16(at(QString::fromLatin1(name)), tone, 2, 44100));
        QFile(at(QStringLiteral("empty.mp3"))).open(QIODevice::WriteOnly);
        {
            QFile text(at(QStringLiteral("text.wav")));
            QVERIFY(text.open(QIODevice::WriteOnly));
            text.write("this is not a sound file\n");
        }
        {
            // The first 40 bytes of a WAV file: a header whose data never comes.
            QFile good(at(QStringLiteral("good1.wav")));
            QVERIFY(good.open(QIODevice::ReadOnly));
            QFile cut(at(QStringLiteral("cut.wav")));
            QVERIFY(cut.open(QIODevice::WriteOnly));
            cut.write(good.read(40));
        }
        setRows({at(QStringLiteral("missing.mp3")), at(QStringLiteral("good1.wav")), at(QStringLiteral("empty.mp3")),
                 at(QStringLiteral("text.wav")), at(QStringLiteral("good2.wav")), at(QStringLiteral("cut.wav")),
                 at(QStringLiteral("deleted.wav")), at(QStringLiteral("good3.wav"))});
        QVERIFY(QFile::remove(at(QStringLiteral("deleted.wav"))));
        started.clear();
        drainToasts();
        w->autoMixBtn->setChecked(true);
        QTRY_VERIFY_WITH_TIMEOUT(!w->autoMixBtn->isChecked(), 30000);
        QCOMPARE(started, (QStringList{"good1.wav", "good2.wav", "good3.wav"}));
        QCOMPARE(w->autoMixIndex, -1);
        QVERIFY(A::musicId(w).isEmpty());
    }

    // Two thousand files that cannot be played: Auto-Mix runs through them
    // from the event loop, one at a time, with one toast, and the loop keeps
    // turning meanwhile.
    void manyUnplayable()
    {
        if (!AudioEngine::backendIsFfmpeg())
            QSKIP("the failure paths are the program's own back end's (FFmpeg)");
        QStringList paths;
        for (int i = 0; i < 2000; ++i)
            paths << at(QStringLiteral("nothing/%1.mp3").arg(i));
        setRows(paths);
        drainToasts();
        // Cards live for seconds while the run goes on: each is noted as it
        // comes up.
        int ticks = 0;
        QSet<ToastWidget*> cards;
        QStringList shown;
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&] {
            ++ticks;
            ToastManager::instance()->pump();
            ToastWidget* card = ToastManager::instance()->current();
            if (card && !cards.contains(card) && card->textLabel()) {
                cards.insert(card);
                shown << card->property("toastMsg").toString();
            }
        });
        tick.start(0);
        w->autoMixBtn->setChecked(true);
        // The switch returns at once: the failures come later.
        QVERIFY(w->autoMixBtn->isChecked() || w->autoMixIndex == -1);
        QTRY_VERIFY_WITH_TIMEOUT(!w->autoMixBtn->isChecked(), 60000);
        tick.stop();
        QVERIFY(ticks > 100);
        // The cards still up are read too; one the tick noted counts once.
        ToastManager::instance()->pump();
        if (ToastWidget* card = ToastManager::instance()->current(); card && cards.contains(card))
            delete card;
        shown << drainToasts();
        const QStringList toasts = shown.filter(QStringLiteral("Cannot play"));
        QVERIFY2(toasts.size() == 1, qPrintable(toasts.join(QLatin1String(" | "))));
        QVERIFY(toasts.first().contains(QLatin1String("\"0\"")));
    }

    // Auto-Mix twice over the same two files, with a pause between the
    // passes during which the engine holds them prepared. Each pass is timed
    // in sound mixed between the engine's reports (its first track's start
    // to its last track's stop): the second takes about as long as the
    // first, on either back end.
    void secondPassTakesAsLongAsTheFirst()
    {
        QVERIFY(TestSupport::writeWav16(at(QStringLiteral("pass1.wav")), TestSupport::sine(440, 1.09, 2, 44100), 2, 44100));
        QVERIFY(TestSupport::writeWav16(at(QStringLiteral("pass2.wav")), TestSupport::sine(550, 2.2, 2, 44100), 2, 44100));
        setRows({at(QStringLiteral("pass1.wav")), at(QStringLiteral("pass2.wav"))});
        // Timed on the sound server's clock, which a busy machine does not stretch.
        TestSupport::MonitorCapture clock;
        if (!clock.start())
            QSKIP("no monitor to record");
        qint64 firstStart = -1;
        qint64 lastStop = -1;
        QObject context;
        connect(AudioEngine::instance(), &AudioEngine::playStarted, &context, [&](const QString&) {
            if (firstStart < 0)
                firstStart = clock.mixedMs();
        });
        connect(AudioEngine::instance(), &AudioEngine::playStopped, &context, [&](const QString&) {
            lastStop = clock.mixedMs();
        });
        // The pass's span in ms, -1 when Auto-Mix did not end.
        auto pass = [&]() -> qint64 {
            firstStart = lastStop = -1;
            w->autoMixBtn->setChecked(true);
            if (!QTest::qWaitFor([&] { return !w->autoMixBtn->isChecked(); }, 40000))
                return -1;
            return lastStop - firstStart;
        };
        const qint64 first = pass();
        QVERIFY(AudioEngine::instance()->isBuffered(at(QStringLiteral("pass1.wav"))));
        QTest::qWait(4000);   // the prepared players wait, as between two passes
        const qint64 second = pass();
        qInfo() << "back end" << qgetenv("QT_MEDIA_BACKEND") << ": first pass" << first << "ms, second pass" << second
                << "ms, for 3.29 s of sound";
        QVERIFY(first > 0 && second > 0);
        // The fault adds the 4 s wait; half of it is the line.
        QVERIFY2(second < first + 2000, qPrintable(QStringLiteral("first %1 ms, second %2 ms").arg(first).arg(second)));
    }
};

QTEST_MAIN(TestMusicEngine)
#include "tst_music_engine.moc"
