// The trim dialog: its start values and labels, the waveform and duration
// arriving after it opened, the preview on the player path (AudioEngine) and
// on the decoded-sound path (DrumEngine, whose mix the test pulls itself), the
// preview clock driven by hand, the reset, and closing ending any preview.
#include <QDir>
#include <QLabel>
#include <QMediaDevices>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QThreadPool>
#include <QtTest>
#include <cmath>

#include "AudioEngine.h"
#include "DrumEngine.h"
#include "DrumStream.h"
#include "AudioFixture.h"
#include "TestSupport.h"
#include "ThemeManager.h"
#include "TrimCanvas.h"
#include "TrimDialog.h"

namespace {

constexpr int kRate = 44100;

// 2 s of stereo: 0.5 s of silence, then a 440 Hz tone at 0.3 of full scale.
QVector<qint16> shapedTone()
{
    QVector<qint16> s(2 * kRate * 2, 0);
    for (int i = kRate / 2; i < 2 * kRate; ++i) {
        const auto v = qint16(std::lround(0.3 * 32767.0 * std::sin(2.0 * M_PI * 440.0 * i / kRate)));
        s[2 * i] = v;
        s[2 * i + 1] = v;
    }
    return s;
}

ButtonData button(const QString& path, const QString& name = QStringLiteral("Jingle"))
{
    ButtonData b;
    b.id = QStringLiteral("b1");
    b.name = name;
    b.audioPath = path;
    return b;
}

QSlider* slider(TrimDialog& d, const char* name) { return d.findChild<QSlider*>(QLatin1String(name)); }
QString labelText(TrimDialog& d, const char* name) { return d.findChild<QLabel*>(QLatin1String(name))->text(); }
QPushButton* previewButton(TrimDialog& d) { return d.findChild<QPushButton*>(QStringLiteral("trimPreviewBtn")); }
QTimer* progressTimer(TrimDialog& d) { return d.findChild<QTimer*>(QStringLiteral("trimProgressTimer")); }

void setDuration(TrimDialog& d, qint64 ms)
{
    QVERIFY(QMetaObject::invokeMethod(&d, "onDurationChanged", Q_ARG(qint64, ms)));
}

// The player path needs an output device (the engine starts nothing without
// one); scripts/test runs the suite with a sound server's null sink.
#define REQUIRE_OUTPUT()                                                                                   \
    do {                                                                                                   \
        if (QMediaDevices::audioOutputs().isEmpty())                                                       \
            QSKIP("no audio output: start scripts/sound-server");                                          \
    } while (0)

// Lets every pool job finish and their results reach the dialog.
void settle()
{
    QThreadPool::globalInstance()->waitForDone();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

} // namespace

class TstTrimDialog : public QObject
{
    Q_OBJECT

    QString m_wav;
    QVector<qint16> m_samples;
    qint64 m_now = 0;

    DrumEngine* drums() { return DrumEngine::instance(); }
    AudioEngine* player() { return AudioEngine::instance(); }

    // Pulls frames from the pad mixer and checks them against the file's
    // frames from `fromFrame` on, times gain.
    void expectMix(int fromFrame, double gain, int frames = 2000)
    {
        QByteArray out(frames * 4, 0);
        drums()->stream()->mix(out.data(), out.size());
        const auto* got = reinterpret_cast<const qint16*>(out.constData());
        int loud = 0;
        for (int i = 0; i < frames * 2; ++i) {
            const double want = std::clamp(m_samples.at(fromFrame * 2 + i) * gain, -32768.0, 32767.0);
            QVERIFY2(std::abs(got[i] - want) <= 2.0,
                     qPrintable(QStringLiteral("sample %1: %2, expected %3").arg(i).arg(got[i]).arg(want)));
            loud += std::abs(want) > 1000;
        }
        QVERIFY(loud > frames / 2); // the stretch compared is not silence
    }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        ThemeManager::instance()->applyPreset(ThemeManager::Dark);
        // The engine's background re-buffering is of no interest here.
        player()->setScheduler([](int, std::function<void()>) {});
        m_samples = shapedTone();
        m_wav = QDir(TestSupport::tempDir()).filePath(QStringLiteral("tone.wav"));
        QVERIFY(TestSupport::writeWav16(m_wav, m_samples, 2, kRate));
        // Its header read ahead, as a session's files are: a preview of it
        // starts at once.
        AudioEngine::instance()->readHeadsAhead({m_wav});
        QTRY_VERIFY_WITH_TIMEOUT(AudioEngine::instance()->headKnown(m_wav), 30000);
        TrimDialog::setClock([this] { return m_now; });
    }
    void cleanupTestCase() { TrimDialog::setClock(nullptr); }
    void cleanup()
    {
        settle();
        drums()->stopAll();
        drums()->clearAll();
        player()->stopAll();
    }

    void startValues()
    {
        ButtonData b = button(QStringLiteral("/nowhere/x.wav"), QString());
        b.volume = 2.5;
        b.fadeIn = 1.2345;
        b.fadeOut = 7.0;
        b.trimStart = 0.25;
        b.trimEnd = 1.5;
        TrimDialog d(b);
        QCOMPARE(d.windowTitle(), QStringLiteral("Audio Trimming — Button"));
        QCOMPARE(slider(d, "volumeSlider")->value(), 200);
        QCOMPARE(labelText(d, "trimStartLabel"), QStringLiteral("Start: 0:00.250"));
        QCOMPARE(labelText(d, "trimEndLabel"), QStringLiteral("End: 0:01.500"));
        QCOMPARE(labelText(d, "trimDurationLabel"), QStringLiteral("Duration: 0:01.250"));
        QCOMPARE(slider(d, "fadeInSlider")->value(), 1234);
        QCOMPARE(slider(d, "fadeOutSlider")->value(), 5000);
        // What the caller takes back without any edit: the stored values,
        // a fade beyond the slider's end as the slider and the canvas show it.
        QCOMPARE(d.trimStart(), 0.25);
        QCOMPARE(d.trimEnd(), 1.5);
        QCOMPARE(d.fadeIn(), 1.2345);
        QCOMPARE(d.fadeOut(), 5.0);
        QCOMPARE(d.canvas()->fadeOut(), 5.0);
        QCOMPARE(d.volume(), 2.0);

        b.name = QStringLiteral("Intro");
        b.volume = 0.555;
        TrimDialog d2(b);
        QCOMPARE(d2.windowTitle(), QStringLiteral("Audio Trimming — Intro"));
        QCOMPARE(slider(d2, "volumeSlider")->value(), 56);
        QCOMPARE(d2.volume(), 0.56);

        // A muted button stays muted: opening and accepting must not turn it up.
        b.volume = 0.0;
        TrimDialog d3(b);
        QCOMPARE(slider(d3, "volumeSlider")->value(), 0);
        QCOMPARE(d3.volume(), 0.0);
        b.volume = std::nan("");
        TrimDialog d4(b);
        QCOMPARE(slider(d4, "volumeSlider")->value(), 100);
    }

    void timeFormat_data()
    {
        QTest::addColumn<double>("t");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << 0.0 << "0:00.000";
        QTest::newRow("75.5") << 75.5 << "1:15.500";
        QTest::newRow("ms") << 2.675 << "0:02.675";
        QTest::newRow("hour") << 3600.25 << "60:00.250";
        QTest::newRow("negative") << -1.5 << "0:00.000";
        QTest::newRow("nan") << std::nan("") << "0:00.000";
    }
    void timeFormat()
    {
        QFETCH(double, t);
        QFETCH(QString, text);
        QCOMPARE(TrimDialog::formatTime(t), text);
    }

    void durationArrives()
    {
        // No trim end: the selection becomes the whole file.
        TrimDialog d(button(QStringLiteral("/nowhere/x.wav")));
        setDuration(d, 0); // a zero report is not a duration
        QCOMPARE(d.duration(), 0.0);
        setDuration(d, 75500);
        QCOMPARE(d.duration(), 75.5);
        QCOMPARE(d.canvas()->duration(), 75.5);
        QCOMPARE(d.trimEnd(), 75.5);
        QCOMPARE(labelText(d, "trimEndLabel"), QStringLiteral("End: 1:15.500"));
        QCOMPARE(labelText(d, "trimDurationLabel"), QStringLiteral("Duration: 1:15.500"));
        // Only the first report counts.
        setDuration(d, 10000);
        QCOMPARE(d.duration(), 75.5);

        // A stored end inside the file is kept.
        ButtonData b = button(QStringLiteral("/nowhere/x.wav"));
        b.trimStart = 0.5;
        b.trimEnd = 1.25;
        TrimDialog d2(b);
        setDuration(d2, 2000);
        QCOMPARE(d2.trimEnd(), 1.25);
        QCOMPARE(labelText(d2, "trimDurationLabel"), QStringLiteral("Duration: 0:00.750"));

        // A stored range beyond a file that has become shorter ends with the file.
        b.trimStart = 3.0;
        b.trimEnd = 9.0;
        TrimDialog d3(b);
        setDuration(d3, 2000);
        QCOMPARE(d3.trimEnd(), 2.0);
        QVERIFY(d3.trimStart() < d3.trimEnd());
        QCOMPARE(labelText(d3, "trimEndLabel"), QStringLiteral("End: 0:02.000"));
    }

    // Every format the program plays shows its own bars, read off the GUI thread.
    void waveformAndDurationFromTheFile_data()
    {
        QTest::addColumn<QString>("suffix");
        QTest::newRow("wav") << "wav";
        QTest::newRow("flac") << "flac";
        QTest::newRow("ogg") << "ogg";
    }
    void waveformAndDurationFromTheFile()
    {
        QFETCH(QString, suffix);
        QString path = m_wav;
        if (suffix != QLatin1String("wav")) {
            path = QDir(TestSupport::tempDir()).filePath(QStringLiteral("tone.") + suffix);
            const auto codec = suffix == QLatin1String("flac") ? AudioFixture::Codec::Flac : AudioFixture::Codec::Vorbis;
            if (!AudioFixture::hasEncoder(codec))
                QSKIP("no encoder for this format");
            QString error;
            QVERIFY2(AudioFixture::encode(path, codec, m_samples, 2, kRate, &error), qPrintable(error));
        }
        TrimDialog d(button(path));
        // Opens at once; nothing is drawn until the event loop runs it.
        QVERIFY(d.canvas()->peaks().isEmpty());
        QTRY_COMPARE(d.canvas()->peaks().size(), TrimDialog::kWaveformBars);
        QCOMPARE(d.canvas()->bands().size(), TrimDialog::kWaveformBars);
        // The bars are this file's: silent first quarter, loud from 0.5 s on.
        const QList<float>& peaks = d.canvas()->peaks();
        QVERIFY(*std::max_element(peaks.begin(), peaks.begin() + 900) < 0.02f);
        QVERIFY(*std::min_element(peaks.begin() + 1100, peaks.end()) > 0.5f);
        // The duration comes from the media player.
        QTRY_VERIFY(std::abs(d.duration() - 2.0) < 0.03);
        QCOMPARE(d.trimEnd(), d.duration());
    }

    // No bars stand in for a waveform: words while it is read, and words
    // when none can be had.
    void placeholderWhileDecoding_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");   // empty: no file at all
        QTest::newRow("missing wav") << "x.wav" << QByteArray();
        QTest::newRow("missing ogg") << "x.ogg" << QByteArray();
        QTest::newRow("text named ogg") << "text.ogg" << QByteArray("not a sound\n").repeated(200);
        QTest::newRow("text named flac") << "text.flac" << QByteArray("fLaC but nothing more").repeated(50);
        QTest::newRow("text named m4a") << "text.m4a" << QByteArray("\0\0\0\x18" "ftypM4A ", 12).repeated(30);
    }
    void placeholderWhileDecoding()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QString path = QStringLiteral("/nowhere/") + name;
        if (!content.isEmpty()) {
            path = QDir(TestSupport::tempDir()).filePath(name);
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        TrimDialog d(button(path));
        QVERIFY(QMetaObject::invokeMethod(&d, "loadWaveform"));
        QVERIFY(d.canvas()->peaks().isEmpty());
        const QString reading = QString::fromUtf8(TrimDialog::kReadingWaveformText);
        const QString none = QString::fromUtf8(TrimDialog::kNoWaveformText);
        QCOMPARE(d.canvas()->placeholderText(), reading);
        QTRY_COMPARE(d.canvas()->placeholderText(), none);
        settle();
        QVERIFY(d.canvas()->peaks().isEmpty());
        QVERIFY(d.canvas()->bands().isEmpty());
    }

    void playerPath()
    {
        REQUIRE_OUTPUT();
        ButtonData b = button(m_wav);
        TrimDialog d(b);
        setDuration(d, 2000);
        d.canvas()->setTrimStart(0.5);
        d.canvas()->setTrimEnd(1.5);
        slider(d, "fadeInSlider")->setValue(200);
        slider(d, "fadeOutSlider")->setValue(300);
        slider(d, "volumeSlider")->setValue(80);
        previewButton(d)->click();

        QVERIFY(d.isPreviewing());
        QVERIFY(!d.isDrumPath());
        QCOMPARE(previewButton(d)->text(), QStringLiteral("Stop"));
        QVERIFY(progressTimer(d)->isActive());
        PlaybackSlot* s = player()->slotFor(TrimDialog::kPreviewId);
        QVERIFY(s);
        QCOMPARE(s->volume, 0.8);
        QCOMPARE(s->trimIn, 0.5);
        QCOMPARE(s->trimOut, 1.5);
        QCOMPARE(s->fadeInMs, 200.0);
        QCOMPARE(s->fadeOutMs, 300.0);
        QVERIFY(!drums()->isReady(TrimDialog::kPreviewId));

        // At or below 100 % the running sound follows the slider.
        slider(d, "volumeSlider")->setValue(50);
        QCOMPARE(s->volume, 0.5);
        // Its positions move the playhead; other ids and zero lengths do not.
        emit player()->positionChanged(TrimDialog::kPreviewId, 500, 2000);
        QCOMPARE(d.canvas()->progress(), 0.25);
        emit player()->positionChanged(QStringLiteral("b1"), 1500, 2000);
        emit player()->positionChanged(TrimDialog::kPreviewId, 1500, 0);
        QCOMPARE(d.canvas()->progress(), 0.25);

        // The engine reports the end: idle again. Other ids change nothing.
        emit player()->playStopped(QStringLiteral("__TRIM_PREVIEW__"));
        QVERIFY(d.isPreviewing());
        emit player()->playStopped(TrimDialog::kPreviewId);
        QVERIFY(!d.isPreviewing());
        QCOMPARE(previewButton(d)->text(), QStringLiteral("Preview"));
        QCOMPARE(d.canvas()->progress(), 0.0);
        QVERIFY(!progressTimer(d)->isActive());
    }

    void playheadFollowedWhenZoomed()
    {
        TrimDialog d(button(QStringLiteral("/nowhere/x.wav")));
        setDuration(d, 2000);
        d.canvas()->setZoom(4.0);
        emit player()->positionChanged(TrimDialog::kPreviewId, 1800, 2000);
        QCOMPARE(d.canvas()->progress(), 0.9);
        // Brought to a quarter of the view, within the file.
        QCOMPARE(d.canvas()->viewStart(), 0.75);
        emit player()->positionChanged(TrimDialog::kPreviewId, 400, 2000);
        QCOMPARE(d.canvas()->viewStart(), 0.2 - 0.25 / 4.0);
        // Inside the comfortable band nothing moves.
        emit player()->positionChanged(TrimDialog::kPreviewId, 500, 2000);
        QCOMPARE(d.canvas()->viewStart(), 0.2 - 0.25 / 4.0);
    }

    void drumPathAndRestart()
    {
        TrimDialog d(button(m_wav));
        setDuration(d, 2000);
        d.canvas()->setTrimStart(0.5);
        d.canvas()->setTrimEnd(1.5);
        slider(d, "volumeSlider")->setValue(150);
        previewButton(d)->click();
        QVERIFY(d.isPreviewing());
        QVERIFY(d.isDrumPath());
        QCOMPARE(d.previewLength(), 1.0);
        QVERIFY(!player()->slotFor(TrimDialog::kPreviewId));
        QTRY_VERIFY(drums()->isPlaying(TrimDialog::kPreviewId));
        // The gain is in the decoded sound: 1.5 times the file from 0.5 s on.
        expectMix(kRate / 2, 1.5);

        // Lowering the slider does not re-level this sound...
        slider(d, "volumeSlider")->setValue(80);
        QVERIFY(!player()->slotFor(TrimDialog::kPreviewId));
        expectMix(kRate / 2 + 2000, 1.5);
        // ...releasing it above 100 % starts it again from the selection start.
        slider(d, "volumeSlider")->setValue(180);
        emit slider(d, "volumeSlider")->sliderReleased();
        QVERIFY(d.isPreviewing());
        QVERIFY(!drums()->isReady(TrimDialog::kPreviewId)); // the old sound is gone at once
        QTRY_VERIFY(drums()->isPlaying(TrimDialog::kPreviewId));
        QCOMPARE(drums()->stream()->activeVoiceCount(), 1);
        expectMix(kRate / 2, 1.8);

        // Releasing at or below 100 % restarts nothing.
        slider(d, "volumeSlider")->setValue(90);
        emit slider(d, "volumeSlider")->sliderReleased();
        QVERIFY(d.isDrumPath());
        QVERIFY(drums()->isPlaying(TrimDialog::kPreviewId));

        // The button toggles: a second press stops.
        previewButton(d)->click();
        QVERIFY(!d.isPreviewing());
        QVERIFY(!drums()->isPlaying(TrimDialog::kPreviewId));
        QCOMPARE(previewButton(d)->text(), QStringLiteral("Preview"));

        // A preview from the decoded path back to the player path.
        previewButton(d)->click();
        QVERIFY(!d.isDrumPath());
        QVERIFY(d.isPreviewing());
        if (!QMediaDevices::audioOutputs().isEmpty()) {
            QVERIFY(player()->slotFor(TrimDialog::kPreviewId));
            QCOMPARE(player()->slotFor(TrimDialog::kPreviewId)->volume, 0.9);
        }
    }

    void drumPathEndsByItsClock()
    {
        TrimDialog d(button(m_wav));
        setDuration(d, 2000);
        d.canvas()->setTrimStart(0.5);
        d.canvas()->setTrimEnd(1.0);
        slider(d, "volumeSlider")->setValue(120);
        m_now = 10000;
        previewButton(d)->click();
        // While the sound is still being decoded its clock does not run.
        m_now = 60000;
        TestSupport::fireTimer(progressTimer(d));
        QVERIFY(d.isPreviewing());

        QTRY_VERIFY(drums()->isPlaying(TrimDialog::kPreviewId));
        m_now += 400;
        TestSupport::fireTimer(progressTimer(d));
        QVERIFY(d.isPreviewing());
        // The playhead stands 0.4 s into the selection, as a share of the file.
        QVERIFY(std::abs(d.canvas()->progress() - (0.5 + 0.4) / 2.0) < 1e-9);
        m_now += 100;
        TestSupport::fireTimer(progressTimer(d));
        QVERIFY(!d.isPreviewing());
        QVERIFY(!d.isDrumPath());
        QCOMPARE(d.canvas()->progress(), 0.0);
        QCOMPARE(previewButton(d)->text(), QStringLiteral("Preview"));
    }

    // Above 100 % the sound is held whole in memory and in the pad cache: a
    // long selection is previewed for a bounded stretch from its start, and
    // the pads already cached stay.
    void longDrumPreviewIsBounded()
    {
        const QString longWav = QDir(TestSupport::tempDir()).filePath(QStringLiteral("long.wav"));
        QVERIFY(TestSupport::writeWav16(longWav, TestSupport::sine(440, 150.0, 1, 8000), 1, 8000));
        drums()->preload(QStringLiteral("pad"), QByteArray(176400, '\1'), 1.0f);

        TrimDialog d(button(longWav));
        setDuration(d, 150000);
        slider(d, "volumeSlider")->setValue(120);
        m_now = 0;
        previewButton(d)->click();
        QCOMPARE(d.previewLength(), TrimDialog::kMaxDrumPreviewSeconds);
        QTRY_VERIFY(drums()->isPlaying(TrimDialog::kPreviewId));
        const qint64 bound = qint64(TrimDialog::kMaxDrumPreviewSeconds * 176400);
        QCOMPARE(drums()->cachedBytes(), bound + 176400);
        QVERIFY(drums()->isReady(QStringLiteral("pad")));

        // The playhead covers the stretch played, then the preview ends.
        m_now += 15000;
        TestSupport::fireTimer(progressTimer(d));
        QVERIFY(std::abs(d.canvas()->progress() - 0.1) < 1e-9);
        m_now += 15000;
        TestSupport::fireTimer(progressTimer(d));
        QVERIFY(!d.isPreviewing());
    }

    // Neither a trim end nor a duration: the decoded sound's length ends it.
    void drumPreviewWithoutAnyLength()
    {
        TrimDialog d(button(m_wav));
        slider(d, "volumeSlider")->setValue(150);
        m_now = 0;
        previewButton(d)->click();
        QCOMPARE(d.previewLength(), 0.0);
        QTRY_VERIFY(drums()->isPlaying(TrimDialog::kPreviewId));
        QVERIFY(std::abs(d.previewLength() - 2.0) < 1e-6);
        m_now += 1999;
        TestSupport::fireTimer(progressTimer(d));
        QVERIFY(d.isPreviewing());
        m_now += 1;
        TestSupport::fireTimer(progressTimer(d));
        QVERIFY(!d.isPreviewing());
    }

    void closingStopsPlayerPreview()
    {
        REQUIRE_OUTPUT();
        // Closed with Cancel.
        {
            TrimDialog d(button(m_wav));
            setDuration(d, 2000);
            slider(d, "volumeSlider")->setValue(70);
            previewButton(d)->click();
            QVERIFY(player()->isPlaying(TrimDialog::kPreviewId));
            d.reject();
            QVERIFY(!player()->isPlaying(TrimDialog::kPreviewId));
            QVERIFY(!d.isPreviewing());
        }
        // Destroyed without closing.
        {
            auto* d = new TrimDialog(button(m_wav));
            setDuration(*d, 2000);
            slider(*d, "volumeSlider")->setValue(60);
            previewButton(*d)->click();
            QVERIFY(player()->isPlaying(TrimDialog::kPreviewId));
            delete d;
            QVERIFY(!player()->isPlaying(TrimDialog::kPreviewId));
        }
    }

    void closingStopsDecodedPreview()
    {
        // Decoded path, closed with OK: silent, and its sound dropped.
        {
            TrimDialog d(button(m_wav));
            setDuration(d, 2000);
            slider(d, "volumeSlider")->setValue(150);
            previewButton(d)->click();
            QTRY_VERIFY(drums()->isPlaying(TrimDialog::kPreviewId));
            d.accept();
            QCOMPARE(d.result(), int(QDialog::Accepted));
            QVERIFY(!drums()->isPlaying(TrimDialog::kPreviewId));
            QVERIFY(!drums()->isReady(TrimDialog::kPreviewId));
        }
        // Closed while the sound is still being decoded: it never starts.
        {
            TrimDialog d(button(m_wav));
            setDuration(d, 2000);
            slider(d, "volumeSlider")->setValue(150);
            previewButton(d)->click();
            d.reject();
            settle();
            QVERIFY(!drums()->isReady(TrimDialog::kPreviewId));
            QCOMPARE(drums()->stream()->activeVoiceCount(), 0);
        }
        // Stopped while decoding: the same.
        {
            TrimDialog d(button(m_wav));
            setDuration(d, 2000);
            slider(d, "volumeSlider")->setValue(150);
            previewButton(d)->click();
            previewButton(d)->click();
            settle();
            QCOMPARE(drums()->stream()->activeVoiceCount(), 0);
        }
        // Two restarts in a row: only the newest decode sounds.
        {
            TrimDialog d(button(m_wav));
            setDuration(d, 2000);
            d.canvas()->setTrimStart(0.5);
            slider(d, "volumeSlider")->setValue(150);
            previewButton(d)->click();
            slider(d, "volumeSlider")->setValue(170);
            emit slider(d, "volumeSlider")->sliderReleased();
            settle();
            QCOMPARE(drums()->stream()->activeVoiceCount(), 1);
            expectMix(kRate / 2, 1.7);
        }
    }

    void resetRestoresTheWholeFile()
    {
        ButtonData b = button(QStringLiteral("/nowhere/x.wav"));
        b.trimStart = 0.5;
        b.trimEnd = 1.0;
        b.fadeIn = 0.3;
        b.fadeOut = 0.4;
        b.volume = 1.5;
        TrimDialog d(b);
        setDuration(d, 2000);
        d.canvas()->setZoom(3.0);
        d.canvas()->setViewStart(0.3);
        QSignalSpy trim(d.canvas(), &TrimCanvas::trimChanged);
        QSignalSpy fadeIn(d.canvas(), &TrimCanvas::fadeInChanged);

        d.findChild<QPushButton*>(QStringLiteral("trimResetBtn"))->click();
        QCOMPARE(d.trimStart(), 0.0);
        QCOMPARE(d.trimEnd(), 2.0);
        QCOMPARE(d.fadeIn(), 0.0);
        QCOMPARE(d.fadeOut(), 0.0);
        QCOMPARE(d.volume(), 1.0);
        QCOMPARE(d.canvas()->zoom(), 1.0);
        QCOMPARE(d.canvas()->viewStart(), 0.0);
        QCOMPARE(slider(d, "fadeInSlider")->value(), 0);
        QCOMPARE(slider(d, "fadeOutSlider")->value(), 0);
        QCOMPARE(trim.size(), 1);
        QCOMPARE(trim.first().at(1).toDouble(), 2.0);
        QCOMPARE(fadeIn.size(), 1);
        QCOMPARE(labelText(d, "trimStartLabel"), QStringLiteral("Start: 0:00.000"));
        QCOMPARE(labelText(d, "trimDurationLabel"), QStringLiteral("Duration: 0:02.000"));
        const QList<QLabel*> labels = d.findChildren<QLabel*>();
        const auto has = [&](const QString& t) {
            return std::any_of(labels.begin(), labels.end(), [&](QLabel* l) { return l->text() == t; });
        };
        QVERIFY(has(QStringLiteral("0 ms")));
        QVERIFY(has(QStringLiteral("100%")));
        QVERIFY(!has(QStringLiteral("300 ms")));
    }
};

QTEST_MAIN(TstTrimDialog)
#include "tst_trimdialog.moc"
