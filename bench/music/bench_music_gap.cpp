// The silence between two tracks when Auto-Mix moves on with no fade: the
// last sounding sample of a track to the first sounding sample of the next,
// against a plain AudioEngine::play of the same file from idle to its first
// sound. Both are taken from recordings of the sound server's null sink
// (its monitor); the real main window and the real engines play.
//
// The reference's start is marked by a 5 kHz click written straight to the
// sink at the moment of the call; its tone's onset less the click's, plus
// the click's own way to the sink (the wait for its period and the delay its
// stream reported), is the call to the first sound.
//
// Tracks are 0.6 s tones of sharp onset and end, 200 Hz and 1 kHz in turn,
// so a gap below 0 (the next track sounding before the last one has ended)
// is measured as well as a silence. A file each, none of them prepared ahead: the panel prepares no track, and every reference play
// starts with the engine's prepared players dropped. The rounds alternate
// Auto-Mix and the reference, so that a change of load meets both.
//
//   eval "$(scripts/sound-server start /tmp/bench-pulse)"
//   build/bench/music/bench_music_gap [advances=30] [rounds=3]
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QFileInfo>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "AudioEngine.h"
#include "BenchTiming.h"
#include "MainWindow.h"
#include "MusicItemDelegate.h"
#include "MusicTrack.h"
#include "SoundTiming.h"
#include "TestSupport.h"

namespace {

using SoundTiming::kRate;
constexpr double kToneSeconds = 0.6;
// Neighbouring tracks alternate between two tones, so that one track's end
// and the next one's start are told apart even where they overlap: whole
// cycles of each in a track, and a split between them both filters keep
// the other tone well under the level of a sound.
constexpr double kLowHz = 200.0;
constexpr double kHighHz = 1000.0;
constexpr double kSplitHz = 450.0;
// A sound is what reaches the level through its filters; a silence is 2 ms
// below it (a tone's zero crossings stay below it for well under 1 ms).
constexpr float kLevel = 0.08f;
constexpr long kSilenceFrames = kRate / 500;

double toneHz(int track)
{
    return track % 2 == 0 ? kLowHz : kHighHz;
}

// Turns the event loop until done() holds or ms pass; false on the timeout.
template <typename Signal, typename Sender, typename Done>
bool waitFor(const Sender* sender, Signal signal, Done done, int ms)
{
    if (done())
        return true;
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    QObject::connect(sender, signal, &loop, [&] {
        if (done())
            loop.quit();
    });
    loop.exec();
    return done();
}

void idle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double ms(long frames)
{
    return 1000.0 * double(frames) / kRate;
}

// The silences between neighbouring tracks in a recording of one Auto-Mix
// run, below 0 where the next track began before the last one ended. Only
// whole tones count: a stretch cut by a dropout leaves out the silences on
// either side of it.
std::vector<double> gapsBetweenTones(const QByteArray& pcm, int* wholeTones)
{
    struct Tone
    {
        SoundTiming::Sounding at;
        bool high;
    };
    std::vector<Tone> tones;
    const long length = long(kToneSeconds * kRate);
    for (bool high : {false, true}) {
        const std::vector<float> band = SoundTiming::band(pcm, kSplitHz, high);
        for (const SoundTiming::Sounding& p : SoundTiming::soundings(band, kLevel, kSilenceFrames))
            if (p.frames() > length * 9 / 10 && p.frames() < length * 11 / 10)
                tones.push_back({p, high});
    }
    std::sort(tones.begin(), tones.end(), [](const Tone& a, const Tone& b) { return a.at.first < b.at.first; });
    *wholeTones = int(tones.size());
    std::vector<double> gaps;
    for (size_t i = 1; i < tones.size(); ++i) {
        const Tone& before = tones[i - 1];
        const Tone& after = tones[i];
        // Neighbours alternate; a start more than a tone and a half after
        // the last one's start means a track between them went unheard.
        if (before.high == after.high || after.at.first - before.at.first > length * 3 / 2)
            continue;
        gaps.push_back(ms(after.at.first - before.at.last));
    }
    return gaps;
}

struct Reference
{
    std::vector<double> callToSound; // ms
    std::vector<double> overFloor;   // ms
    int clicks = 0;
    int tones = 0;
};

// Pairs every click with the first tone onset after it and before the next
// click; floorMs[i] is the way of click i to the sink.
void addReference(const QByteArray& pcm, const std::vector<double>& floorMs, Reference& r)
{
    // Both tones pass below 2 kHz, where the click does not.
    const std::vector<float> toneBand = SoundTiming::band(pcm, 2000, false);
    const long quiet = kRate / 10;
    const auto clicks = SoundTiming::onsets(SoundTiming::band(pcm, 3000, true), kLevel, quiet);
    const auto tones = SoundTiming::onsets(toneBand, kLevel, quiet);
    r.clicks += int(clicks.size());
    r.tones += int(tones.size());
    const double floorMedian = BenchTiming::percentile(floorMs, 0.5);
    for (size_t c = 0; c < clicks.size(); ++c) {
        const long until = c + 1 < clicks.size() ? clicks[c + 1] : long(toneBand.size());
        for (long t : tones) {
            if (t < clicks[c] - kRate / 20 || t >= until)
                continue;
            const double over = ms(t - clicks[c]);
            // Clicks found one for one with the clicks written carry their
            // own way to the sink; otherwise the round's median stands in.
            const double way = clicks.size() == floorMs.size() ? floorMs[c] : floorMedian;
            r.overFloor.push_back(over);
            r.callToSound.push_back(over + way);
            break;
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!qEnvironmentVariableIsSet("QT_MEDIA_BACKEND"))
        qputenv("QT_MEDIA_BACKEND", "ffmpeg");
    QApplication app(argc, argv);
    const int advances = argc > 1 ? std::max(2, std::atoi(argv[1])) : 30;
    const int rounds = std::clamp(argc > 2 ? std::atoi(argv[2]) : 3, 1, advances);
    if (qEnvironmentVariable("TR_PULSE_MONITOR").isEmpty()) {
        std::fprintf(stderr, "no sound server: eval \"$(scripts/sound-server start DIR)\" first\n");
        return 2;
    }
    TestSupport::isolateSettings();

    // advances spread over the rounds; each round's Auto-Mix plays one track
    // more than it advances.
    std::vector<int> perRound(size_t(rounds), advances / rounds);
    for (int i = 0; i < advances % rounds; ++i)
        ++perRound[size_t(i)];
    QTemporaryDir dir;
    std::vector<QStringList> files(static_cast<size_t>(rounds));
    for (int r = 0; r < rounds; ++r)
        for (int i = 0; i <= perRound[size_t(r)]; ++i) {
            const QString p = dir.path() + QStringLiteral("/round %1 track %2.wav").arg(r).arg(i);
            if (!TestSupport::writeWav16(p, TestSupport::sine(toneHz(i), kToneSeconds, 2, kRate, 0.5), 2, kRate)) {
                std::fprintf(stderr, "cannot write %s\n", qPrintable(p));
                return 1;
            }
            files[size_t(r)] << p;
        }
    const QString warmFile = dir.path() + QStringLiteral("/warm-up.wav");
    TestSupport::writeWav16(warmFile, TestSupport::sine(kLowHz, kToneSeconds, 2, kRate, 0.5), 2, kRate);

    MainWindow w;
    w.resize(1400, 900);
    w.show();
    w.musicFadeCombo->setCurrentIndex(w.musicFadeCombo->findText(QStringLiteral("No fade")));
    AudioEngine* engine = AudioEngine::instance();
    const QString device = w.musicDevCombo ? w.musicDevCombo->currentData(Qt::UserRole).toString() : QString();

    QString playingId;
    // The record the music panel plays a track under.
    const auto playFile = [&](const QString& path) {
        const ButtonData track = musicTrackRecord(path);
        playingId = track.id;
        engine->play(track, device);
    };
    QString stoppedId;
    QObject::connect(engine, &AudioEngine::playStopped, &app, [&](const QString& id) { stoppedId = id; });
    const auto untilStopped = [&] {
        return waitFor(engine, &AudioEngine::playStopped, [&] { return stoppedId == playingId; }, 10000);
    };

    // As the program does at its start: the back end warmed up, then one
    // sound played before anything is measured.
    engine->warmupBackend();
    playFile(warmFile);
    untilStopped();
    idle(300);

    SoundTiming::FloorWriter floor;
    if (!floor.start()) {
        std::fprintf(stderr, "cannot open the floor writer on the sound server\n");
        return 1;
    }
    std::vector<double> gaps;
    int wholeTones = 0, played = 0, autoMixStalls = 0, referenceStalls = 0;
    Reference ref;
    for (int r = 0; r < rounds; ++r) {
        // Auto-Mix through the round's tracks, every row flagged.
        w.musicList->clear();
        for (const QString& p : files[size_t(r)]) {
            auto* item = new QListWidgetItem(QFileInfo(p).fileName(), w.musicList);
            item->setData(Qt::UserRole, p);
            item->setData(MusicItemDelegate::kInPlaylistRole, true);
        }
        played += int(files[size_t(r)].size());
        engine->clearBuffer();
        idle(500);
        {
            TestSupport::MonitorCapture rec;
            if (!rec.start()) {
                std::fprintf(stderr, "no recording of the monitor\n");
                return 1;
            }
            idle(300);
            w.autoMixBtn->setChecked(true);
            if (!waitFor(w.autoMixBtn, &QAbstractButton::toggled, [&] { return !w.autoMixBtn->isChecked(); },
                         30000 + 2000 * int(files[size_t(r)].size()))) {
                ++autoMixStalls;
                w.autoMixBtn->setChecked(false);
                engine->stopAll();
            }
            idle(400);
            int n = 0;
            const std::vector<double> g = gapsBetweenTones(rec.stop(), &n);
            gaps.insert(gaps.end(), g.begin(), g.end());
            wholeTones += n;
        }

        // The reference: the files Auto-Mix moved on to, each played from idle.
        {
            TestSupport::MonitorCapture rec;
            if (!rec.start()) {
                std::fprintf(stderr, "no recording of the monitor\n");
                return 1;
            }
            const size_t clicksBefore = floor.clickDelaysMs().size();
            idle(300);
            for (int i = 1; i < files[size_t(r)].size(); ++i) {
                engine->clearBuffer();
                idle(600);
                floor.click();
                playFile(files[size_t(r)][i]);
                if (!untilStopped()) {
                    ++referenceStalls;
                    engine->stop(playingId);
                }
                idle(200);
            }
            idle(300);
            const QByteArray pcm = rec.stop();
            std::vector<double> way = floor.clickDelaysMs();
            way.erase(way.begin(), way.begin() + long(clicksBefore));
            addReference(pcm, way, ref);
        }
    }
    floor.stop();
    engine->stopAll();

    const std::vector<double> way = floor.clickDelaysMs();
    std::printf("%d advances in %d rounds: %zu gaps between whole tones (%d whole tones heard of %d played)%s;"
                " below 0: the next track sounds before the last one has ended\n",
                advances, rounds, gaps.size(), wholeTones, played,
                autoMixStalls ? ", some Auto-Mix runs did not end" : "");
    std::printf("%d plays from idle: %d clicks, %d tones, %zu pairs%s; the click's way to the sink: median %.1f ms,"
                " p90 %.1f ms; floor xruns %d\n",
                advances, ref.clicks, ref.tones, ref.callToSound.size(),
                referenceStalls ? ", some plays did not end" : "", BenchTiming::percentile(way, 0.5),
                BenchTiming::percentile(way, 0.9), floor.xruns());
    std::printf("reference over the click: median %.1f ms, p90 %.1f ms\n", BenchTiming::percentile(ref.overFloor, 0.5),
                BenchTiming::percentile(ref.overFloor, 0.9));
    const double gapMedian = BenchTiming::percentile(gaps, 0.5), gapP90 = BenchTiming::percentile(gaps, 0.9);
    const double refMedian = BenchTiming::percentile(ref.callToSound, 0.5);
    const double refP90 = BenchTiming::percentile(ref.callToSound, 0.9);
    std::printf("%-44s %9.2f ms   reference %-32s %9.2f ms   ratio %.2f\n", "Auto-Mix gap, no fade: median", gapMedian,
                "play from idle to sound: median", refMedian, gapMedian / refMedian);
    std::printf("%-44s %9.2f ms   reference %-32s %9.2f ms   ratio %.2f\n", "Auto-Mix gap, no fade: p90", gapP90,
                "play from idle to sound: p90", refP90, gapP90 / refP90);
    const bool enough = gaps.size() * 2 >= size_t(advances) && ref.callToSound.size() * 2 >= size_t(advances);
    if (!enough)
        std::printf("too few gaps or pairs found\n");
    return enough ? 0 : 1;
}
