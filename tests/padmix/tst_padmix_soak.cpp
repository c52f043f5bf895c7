// One thread starts, stops, fades and re-levels voices at random while another
// mixes, for a bounded number of passes. Built with TR_SANITIZE=thread or
// address this is the race and lifetime check of the mixers; in a normal build
// it still runs (TR_SOAK_PASSES sets the count).
#include <QtEndian>
#include <QtTest>

#include <atomic>
#include <random>
#include <thread>

#include "DrumEngine.h"
#include "DrumStream.h"
#include "ManualOutput.h"
#include "MultiVoiceStream.h"
#include "PadTestUtil.h"
#include "WasapiEngine.h"

namespace {

int passes()
{
    bool ok = false;
    const int n = qEnvironmentVariableIntValue("TR_SOAK_PASSES", &ok);
    return ok && n > 0 ? n : 20000;
}



// Runs ops() on this thread until the worker has done its passes.
template<typename Worker, typename Ops>
void soak(Worker worker, Ops ops)
{
    std::atomic<bool> done{false};
    std::thread t([&] {
        worker();
        done.store(true);
    });
    std::mt19937 rng(12345);
    while (!done.load())
        ops(rng);
    t.join();
}

} // namespace

class TstPadmixSoak : public QObject
{
    Q_OBJECT
private slots:
    void drumStream()
    {
        DrumStream s;
        QList<QByteArray> owned; // buffers started by pointer live for the whole run
        for (int i = 0; i < 8; ++i)
            owned << pcm16(50 + i * 300, qint16(100 * (i + 1)));
        const int n = passes();
        qint64 nonSilent = 0;
        soak(
            [&] {
                QByteArray out(441 * 4, '\0');
                for (int p = 0; p < n; ++p) {
                    if (p % 2)
                        s.mix(out.data(), out.size());
                    else
                        s.read(out.data(), out.size() - 1); // through readData, odd length
                    nonSilent += out.count('\0') < out.size() ? 1 : 0;
                }
            },
            [&](std::mt19937& rng) {
                const int pick = int(rng() % owned.size());
                const char* data = owned[pick].constData();
                switch (rng() % 9) {
                case 0: s.trigger(&owned[pick], 0.5f); break;
                case 1: s.triggerCopy(pcm16(int(rng() % 900) + 1, 50), 1.0f); break; // fresh buffer, freed later
                case 2: s.triggerCopy(owned[pick], 0.7f); break;
                case 3: s.stopByPcmData(data); break;
                case 4: s.fadeStopByPcmData(data, 1.0 / double(rng() % 400 + 1)); break;
                case 5: s.setVolumeByPcmData(data, float(rng() % 200) / 100.0f); break;
                case 6: s.fadeStopByPcm(&owned[pick], 0.01); break;
                case 7: (void)s.isVoiceActive(data); s.setSilenced(rng() % 16 == 0); break;
                case 8: if (rng() % 32 == 0) s.stopAll(); break;
                }
            });
        s.setSilenced(false);
        s.stopAll();
        QCOMPARE(s.activeVoiceCount(), 0);
        QVERIFY(nonSilent > 0);
    }

    void multiVoiceStream()
    {
        MultiVoiceStream s;
        const int n = passes();
        soak(
            [&] {
                QByteArray out(441 * 4, '\0');
                for (int p = 0; p < n; ++p)
                    s.read(out.data(), out.size());
            },
            [&](std::mt19937& rng) {
                if (rng() % 40 == 0)
                    s.stopAll();
                else
                    s.trigger(pcm16(int(rng() % 2000) + 1, 10), qint64(rng() % 16) * 4);
                (void)s.isAnyActive();
            });
        s.stopAll();
        QVERIFY(!s.isAnyActive());
    }

    void drumEngineOnItsRenderThread()
    {
        DrumEngine e;
        e.setQtSinkEnabled(false);
        e.setOutputFactory([](int, const AudioOutputConfig& c) -> std::unique_ptr<AudioOutput> {
            return std::make_unique<ManualOutput>(c);
        });
        e.initialize();
        QCOMPARE(e.outputKind(), DrumEngine::OutputKind::Endpoint);
        auto* out = static_cast<ManualOutput*>(e.output());
        const QStringList ids = {"a", "b", "c", "d", "e"};
        for (const QString& id : ids)
            e.preload(id, pcm16(200 + int(id[0].unicode()) * 10, 1000), 1.0f);
        const int n = passes() / 4;
        soak(
            [&] {
                // The device: plays a period, the render thread tops up.
                for (int p = 0; p < n; ++p) {
                    const int before = out->releaseCount();
                    out->consume(441);
                    for (int spin = 0; spin < 2000 && out->releaseCount() == before; ++spin)
                        std::this_thread::yield();
                }
            },
            [&](std::mt19937& rng) {
                const QString& id = ids[int(rng() % ids.size())];
                switch (rng() % 8) {
                case 0:
                case 1: e.triggerDirect(id, float(rng() % 150) / 100.0f); break;
                case 2: e.stopById(id); break;
                case 3: e.fadeStop(id, double(rng() % 50 + 1)); break;
                case 4: e.setVolumeForId(id, float(rng() % 200) / 100.0f); break;
                case 5: (void)e.isPlaying(id); break;
                case 6: e.evictButton(id); e.preload(id, pcm16(int(rng() % 3000) + 1, 500), 1.0f); break;
                case 7: if (rng() % 50 == 0) e.stopAll(); break;
                }
            });
        QVERIFY(out->framesWritten() > 4410);
    }

    void wasapiEngineOnItsRenderThread()
    {
        WasapiEngine e;
        e.setOutputFactory([](AudioOutput::Backend, const AudioOutputConfig& c) -> std::unique_ptr<AudioOutput> {
            return std::make_unique<ManualOutput>(c);
        });
        QVERIFY(e.init(QString()));
        auto* out = static_cast<ManualOutput*>(e.output());
        const QStringList ids = {"a", "b", "c", "d", "e", "f"};
        for (const QString& id : ids)
            e.cachePad(id, pcmFloat(300 + int(id[0].unicode()) * 5, 0.1f, 0.1f), 0.8f, id == QLatin1String("f"));
        const int n = passes() / 4;
        soak(
            [&] {
                for (int p = 0; p < n; ++p) {
                    const int before = out->releaseCount();
                    out->consume(out->periodFrames());
                    for (int spin = 0; spin < 2000 && out->releaseCount() == before; ++spin)
                        std::this_thread::yield();
                }
            },
            [&](std::mt19937& rng) {
                const QString& id = ids[int(rng() % ids.size())];
                switch (rng() % 10) {
                case 0:
                case 1: e.trigger(id, rng() % 2); break;
                case 2: e.stop(id); break;
                case 3: e.fadeStop(id, double(rng() % 20)); break;
                case 4: e.setGlobalVolume(float(rng() % 100) / 100.0f); break;
                case 5: e.stampClickTime(); (void)e.isPlaying(id); break;
                case 6: e.pollPositions(); break;
                case 7: e.evictButton(id); e.cachePad(id, pcmFloat(int(rng() % 2000) + 1, 0.2f, 0.2f), 1.0f, false); break;
                case 8: if (rng() % 30 == 0) e.stopAll(); break;
                case 9: QCoreApplication::processEvents(); break;
                }
            });
        e.shutdown();
        QCoreApplication::processEvents();
        QVERIFY(!e.isActive());
    }
};

QTEST_GUILESS_MAIN(TstPadmixSoak)
#include "tst_padmix_soak.moc"
