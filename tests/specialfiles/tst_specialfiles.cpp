// A named pipe, a device, a folder or a socket where a sound or an image is
// expected. Opening a pipe blocks until a writer comes and a device never
// ends, so every place that takes such a path must turn it away before it
// opens anything: the press of a button (on the real engines), the trim
// dialog, the waveform and PCM decoders with their cache, the image picker
// and the library. Each row must end promptly with an error shown or an empty
// result, nothing left playing, and a log line that says why.
#include <QDialogButtonBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QtConcurrent>
#include <QtTest>

#include "AudioEngine.h"
#include "ButtonEditDialog.h"
#include "DirectSoundEngine.h"
#include "LibraryManager.h"
#include "OpLog.h"
#include "PcmDecode.h"
#include "PcmPlayer.h"
#include "RoutingSupport.h"
#include "SpecialFiles.h"
#include "ToastManager.h"
#include "TrimCanvas.h"
#include "TrimDialog.h"
#include "WaveformDecoder.h"

using namespace RoutingTest;
using TestSupport::logged;

namespace {

// Runs job on the pool and waits for it through the event loop; a job stuck
// in open() fails the test instead of freezing it.
template <typename Job>
auto offThread(Job job) -> decltype(job())
{
    QFuture<decltype(job())> f = QtConcurrent::run(QThreadPool::globalInstance(), job);
    if (!QTest::qWaitFor([&f] { return f.isFinished(); }, 10000)) {
        QTest::qFail("the job is still waiting in open()", __FILE__, __LINE__);
        return {};
    }
    return f.result();
}

} // namespace

class TstSpecialFiles : public QObject
{
    Q_OBJECT
    TestSupport::SpecialFiles* m_files = nullptr;
    QString m_dir;
    QString m_tone;
    MainWindow* m_window = nullptr;

    QString pathFor(const QString& kind)
    {
        const QString p = m_files->path(kind);
        if (p.isEmpty())
            qWarning("this kind of file cannot be made here: %s", qPrintable(kind));
        return p;
    }

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        m_dir = TestSupport::tempDir();
        m_files = new TestSupport::SpecialFiles(m_dir);
        m_tone = m_dir + QStringLiteral("/tone.wav");
        QVERIFY(TestSupport::writeWav16(m_tone, TestSupport::sine(440, 0.3, 2, 44100), 2, 44100));
    }
    void cleanupTestCase()
    {
        delete m_window;
        delete m_files;
    }

    // A press on the real engines: the pre-decoded engine never gets a sound
    // for the button, the players report the error, and the button, its tab
    // and the engine all end up idle.
    void pressRouting_data() { TestSupport::SpecialFiles::addRows(); }
    void pressRouting()
    {
        QFETCH(QString, kind);
        const QString path = pathFor(kind);
        if (path.isEmpty())
            QSKIP("not available here");
        if (!m_window)
            m_window = new MainWindow;
        Session s = twoTabs();
        s.tabs[0].buttons[0].audioPath = m_tone;  // P: a real sound beside it
        s.tabs[0].buttons[1].audioPath = path;    // S
        s.tabs[0].buttons[1].id = kind;
        load(s);
        DirectSoundEngine* ds = DirectSoundEngine::instance();
        if (ds->isInitialized())
            QTRY_VERIFY_WITH_TIMEOUT(ds->isReady(QStringLiteral("P")), 30000);
        QVERIFY(!ds->isReady(kind));

        // The ring holds the last 64 lines only: the reason is looked for
        // as soon as the press has been handled.
        m_window->onPlayRequested(record(kind));
        QVERIFY(logged(path + QStringLiteral(": not a regular file")));
        QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral("[onPlaybackError] id=") + kind), 10000);
        QTRY_VERIFY(!widget(m_window, kind)->isPlaying());
        QVERIFY(!headerLit(m_window, 0));
        QVERIFY(!AudioEngine::instance()->isPlaying(kind));
        ToastWidget* card = ToastManager::instance()->current();
        QVERIFY(card && card->textLabel()->text().contains(QLatin1String("Cannot play")));
        delete card;

        // The window still plays what is there, to its end.
        m_window->onPlayRequested(record(QStringLiteral("P")));
        QVERIFY(widget(m_window, QStringLiteral("P"))->isPlaying());
        QTRY_VERIFY_WITH_TIMEOUT(!widget(m_window, QStringLiteral("P"))->isPlaying(), 30000);
    }

    // The dialog opens at once with the placeholder bars and no duration; a
    // preview through either path ends by itself.
    void trimDialog_data() { TestSupport::SpecialFiles::addRows(); }
    void trimDialog()
    {
        QFETCH(QString, kind);
        const QString path = pathFor(kind);
        if (path.isEmpty())
            QSKIP("not available here");
        for (double gain : {1.0, 1.5}) {
            ButtonData b = button(QStringLiteral("T"), path);
            b.volume = gain;
            TrimDialog d(b);
            QTRY_VERIFY(logged(QStringLiteral("[TrimDialog] cannot open ") + path + QStringLiteral(": not a regular file")));
            auto* preview = d.findChild<QPushButton*>(QStringLiteral("trimPreviewBtn"));
            QVERIFY(preview);
            preview->click();
            QTRY_VERIFY_WITH_TIMEOUT(!d.isPreviewing(), 10000);
            QVERIFY(d.canvas()->bands().isEmpty());
            QCOMPARE(d.duration(), 0.0);
        }
    }

    // Every decoder gives nothing, at once, and says why in the log.
    void decoders_data() { TestSupport::SpecialFiles::addRows(); }
    void decoders()
    {
        QFETCH(QString, kind);
        const QString path = pathFor(kind);
        if (path.isEmpty())
            QSKIP("not available here");
        QVERIFY(offThread([path] { return WaveformDecoder::decode(path, 100); }).isEmpty());
        QVERIFY(offThread([path] { return WaveformDecoder::decodeBands(path, 100); }).isEmpty());
        QVERIFY(logged(QStringLiteral("[Waveform] no bars for ") + path + QStringLiteral(": not a regular file")));
        // The engine's waveform falls back to its placeholder.
        QCOMPARE(offThread([path] { return AudioEngine::instance()->waveformData(path, 40); }),
                 AudioEngine::placeholderWaveform(40));

        QVERIFY(offThread([path] { return PcmDecode::decodePcm(path, 0, 0, 1.0f); }).isEmpty());
        QVERIFY(offThread([path] { return decodePcmMF_stereo(path, 0, 0, 1.0f); }).isEmpty());
        QVERIFY(offThread([path] { return PcmDecode::readWavImage(path, 1.0f); }).isEmpty());
        QVERIFY(offThread([path] { return PcmPlayer::decode(path, 0, 0, 1.0f); }).isEmpty());
        QVERIFY(logged(QStringLiteral("[PcmDecode] cannot decode ") + path + QStringLiteral(": not a regular file")));

        // The cache stores nothing for it, whichever way it is asked.
        PcmDecode::DecodeCache cache;
        QVERIFY(offThread([&cache, path] { return cache.decodeCached(path, 0, 0, 1.0f); }).isEmpty());
        QVERIFY(offThread([&cache, path] { return cache.decodeCachedAtIdle(path, 1, 2, 1.5f); }).isEmpty());
        QCOMPARE(cache.size(), 0);
        QVERIFY(offThread([path] { return DirectSoundEngine::instance()->decodePcmCached(path, 0, 0, 1.0f); })
                    .isEmpty());
    }

    // The picker turns the file away before anything reads it: the record and
    // the buttons stay as they were.
    void imageDialog_data() { TestSupport::SpecialFiles::addRows(); }
    void imageDialog()
    {
        QFETCH(QString, kind);
        const QString path = pathFor(kind);
        if (path.isEmpty())
            QSKIP("not available here");
        ButtonData b = button(QStringLiteral("I"), m_tone);
        b.img = QStringLiteral("aGVsbG8=");
        ButtonEditDialog d(b);
        TestSupport::ModalScript script([&](const Modal::Request& r) -> QVariant {
            return r.kind == Modal::Kind::OpenFile ? QVariant(path) : QVariant();
        });
        auto* imageBtn = d.findChild<QPushButton*>(QStringLiteral("imageBtn"));
        QVERIFY(imageBtn);
        const QString label = imageBtn->text();
        imageBtn->click();
        QTRY_VERIFY_WITH_TIMEOUT(!d.isReadingImage(), 10000);
        QVERIFY(logged(QStringLiteral("[ButtonEdit] cannot read image ") + path + QStringLiteral(": not a regular file")));
        QCOMPARE(d.result().img, b.img);
        QCOMPARE(imageBtn->text(), label);
        QVERIFY(imageBtn->isEnabled());
        QVERIFY(d.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->isEnabled());
    }

    // A library folder that holds them lists only the real sound; a single
    // file added by path is refused.
    void library()
    {
        LibraryManager lib;
        QSignalSpy finished(&lib, &LibraryManager::scanFinished);
        lib.addFolder(m_dir, QStringLiteral("Mixed"));
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, 10000);
        QStringList found;
        for (const LibraryEntry& e : lib.entries())
            found << QFileInfo(e.filePath).fileName();
        QCOMPARE(found, QStringList{QStringLiteral("tone.wav")});
        for (const QString& kind : {"pipe", "device", "folder", "socket"}) {
            const QString path = m_files->path(kind);
            if (path.isEmpty())
                continue;
            lib.addFile(path, QStringLiteral("Downloads"));
            QVERIFY(logged(QStringLiteral("[Library] not added ") + path + QStringLiteral(": not a regular file")));
        }
        QCOMPARE(lib.entries().size(), 1);
        lib.clearSavedFolders();
    }
};

QTEST_MAIN(TstSpecialFiles)
#include "tst_specialfiles.moc"
