// With no audio output at all (no sound server), starting a sound reports an
// error and a stop instead of handing the media back end a player to crash on.
#include <QMediaDevices>
#include <QSignalSpy>
#include <QtTest>

#include "AudioEngine.h"
#include "TestSupport.h"

class TstAudioEngineNoDevice : public QObject
{
    Q_OBJECT
private slots:
    void nothingStartsWithoutAnOutput()
    {
        if (!QMediaDevices::audioOutputs().isEmpty())
            QSKIP("an audio output exists here");
        const QString tone = TestSupport::tempDir() + "/t.wav";
        QVERIFY(TestSupport::writeWav16(tone, TestSupport::sine(440, 0.5, 1, 8000), 1, 8000));
        AudioEngine e;
        e.warmupBackend();   // returns without playing
        QVERIFY(QFile::exists(AudioEngine::warmupFilePath()));
        QStringList events;
        connect(&e, &AudioEngine::playStarted, &e, [&](const QString&) { events << "started"; });
        connect(&e, &AudioEngine::playStopped, &e, [&](const QString&) { events << "stopped"; });
        connect(&e, &AudioEngine::playbackError, &e, [&](const QString&, const QString& why) { events << why; });
        QSignalSpy stopped(&e, &AudioEngine::playStopped);
        ButtonData b;
        b.id = "a";
        b.audioPath = tone;
        e.playRapid(b, QString());
        e.notifyPlay("a");
        QVERIFY(stopped.wait(5000));
        QCOMPARE(events, QStringList({"started", "No audio output device", "stopped"}));
        QVERIFY(!e.isPlaying("a"));
        QVERIFY(e.playingIds().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TstAudioEngineNoDevice)
#include "tst_audioengine_nodevice.moc"
