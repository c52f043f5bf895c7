// Real playback through Qt Multimedia into the PulseAudio null sink that the
// test runner starts (scripts/sound-server). Runs once per media back end.
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QMediaDevices>
#include <QAudioDevice>
#include <QProcess>
#include <QCoreApplication>
#include <QDir>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QtEndian>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include "AudioEngine.h"
#include "FileCheck.h"
#include "FileHeads.h"
#include "KnownFiles.h"
#include "LoopStream.h"
#include "MonoClock.h"
#include "OpLog.h"
#include "SpecialFiles.h"
#include "TestSupport.h"

namespace {

ButtonData button(const QString& id, const QString& path)
{
    ButtonData b;
    b.id = id;
    b.audioPath = path;
    return b;
}

// Amplitude (0..32767) of the strongest stretch of a pure tone of freqHz in a
// raw s16le stereo 44.1 kHz recording, by a Goertzel filter over 100 ms
// windows of the left channel. Other sounds on the sink do not count.
double toneAmplitude(const QByteArray& raw, double freqHz)
{
    constexpr int rate = 44100;
    constexpr int win = 4410;
    const int frames = int(raw.size() / 4);
    const double coeff = 2.0 * std::cos(2.0 * M_PI * freqHz / rate);
    double best = 0;
    for (int start = 0; start + win <= frames; start += win / 2) {
        double s1 = 0, s2 = 0;
        for (int i = 0; i < win; ++i) {
            const double x = qFromLittleEndian<qint16>(raw.constData() + 4 * (start + i));
            const double s0 = x + coeff * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
        best = std::max(best, 2.0 * std::sqrt(std::max(0.0, power)) / win);
    }
    return best;
}

// Level of one frequency only (a Hann-windowed Goertzel filter on the left
// channel) in windows of win frames every hop frames of a raw s16le stereo
// 44.1 kHz recording, as the amplitude of a sine: what other tests play into
// the shared sink at other pitches does not count.
QVector<double> toneLevels(const QByteArray& raw, double freq, int win, int hop)
{
    const int frames = int(raw.size() / 4);
    const double coeff = 2.0 * std::cos(2.0 * M_PI * freq / 44100.0);
    QVector<double> out;
    for (int start = 0; start + win <= frames; start += hop) {
        double s1 = 0, s2 = 0, wsum = 0;
        for (int i = 0; i < win; ++i) {
            const double w = 0.5 - 0.5 * std::cos(2.0 * M_PI * i / (win - 1));
            wsum += w;
            const double x = w * qFromLittleEndian<qint16>(raw.constData() + 4 * (start + i));
            const double s0 = x + coeff * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        const double mag = std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - coeff * s1 * s2));
        out.append(2.0 * mag / wsum);
    }
    return out;
}

// Level (RMS) of one frequency in each 16 ms window (706 frames).
QVector<double> levelsPer16ms(const QByteArray& raw, double freq)
{
    QVector<double> out = toneLevels(raw, freq, 706, 706);
    for (double& v : out)
        v /= std::sqrt(2.0);
    return out;
}

int threadCount()
{
    return int(QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size());
}

// A stereo file whose frames say where in the file they lie: the left
// channel holds a constant level, the right that level times the frame's
// place in the file (0 at its start, 1 at its end). The ratio of the two
// reads back the source position of a recorded frame whatever its gain.
QVector<qint16> positionRamp(double seconds, int rate)
{
    const int frames = int(seconds * rate);
    QVector<qint16> s(frames * 2);
    for (int i = 0; i < frames; ++i) {
        s[2 * i] = qint16(20000);
        s[2 * i + 1] = qint16(std::lround(20000.0 * i / frames));
    }
    return s;
}

// A stereo file whose pitch changes along it, so that its start and its
// last moments can be told apart even when both play at once: the left
// channel holds a tone of kLowHz over its first 40 % and of kHighHz after
// (the phase running on), the right the position ramp (0 at the start, full
// at the end), read where one run plays alone.
constexpr double kLowHz = 700;
constexpr double kHighHz = 2100;
constexpr double kToneLevel = 20000;

QVector<qint16> pitchSteps(double seconds, int rate)
{
    const int frames = int(seconds * rate);
    QVector<qint16> s(frames * 2);
    double phase = 0;
    for (int i = 0; i < frames; ++i) {
        s[2 * i] = qint16(std::lround(kToneLevel * std::sin(phase)));
        s[2 * i + 1] = qint16(std::lround(kToneLevel * i / frames));
        phase += 2.0 * M_PI * (i < 0.4 * frames ? kLowHz : kHighHz) / rate;
    }
    return s;
}

struct HeardRange
{
    double firstMs = -1;   // source position of the first frame heard
    double lastMs = -1;    // and of the last
    QByteArray raw;
    double fullLevel = 1;
    int firstFrame = -1;   // the first and last frames heard
    int lastFrame = -1;
    int refFrame = -1;     // a frame loud enough to read its position well
    double refMs = 0;      // and that position

    QVector<QPair<int, int>> pauses;   // as breaksIn finds them

    double left(int i) const { return qFromLittleEndian<qint16>(raw.constData() + 4 * i); }
    // The gain the source position posMs was heard at (0 when it was not),
    // the recording taken as running on from refFrame with no break but its
    // pauses.
    double gainAt(double posMs) const
    {
        int i = refFrame + int(std::lround((posMs - refMs) * 44.1));
        for (const auto& [from, frames] : pauses)
            if (from > refFrame && from <= i)
                i += frames;
        return refFrame >= 0 && i >= 0 && i < raw.size() / 4 ? left(i) / fullLevel : 0.0;
    }
};

// Where a run heard once breaks: silences of a ms or more and jumps of the
// file position of a ms or more (forward: samples dropped; back: some played
// twice), each as "+ms after the first frame: what". A silence after which
// the file goes on from where it stopped is a pause: nothing was lost, the
// sound came later. Qt's player writes to the server from threads of its
// own, and a machine with every core busy can hold them back past what the
// server has queued.
struct Breaks
{
    QString text = QStringLiteral("none");
    double pausedMs = 0;    // the pauses' length in all
    double longestPauseMs = 0;
    QVector<QPair<int, int>> pauses;   // each pause's first frame and length in frames
};

Breaks breaksIn(const HeardRange& r, double fileMs)
{
    Breaks b;
    QStringList out;
    double prev = -1, silentMs = 0;
    int prevFrame = -1, silent = 0, silentFrom = -1;
    for (int i = r.firstFrame; i >= 0 && i <= r.lastFrame; ++i) {
        const double l = r.left(i);
        if (l <= 300) {
            ++silent;
            continue;
        }
        if (silent >= 44) {
            silentMs = silent / 44.1;
            silentFrom = i - silent;
            out << QStringLiteral("+%1: %2 ms silent").arg((i - silent - r.firstFrame) / 44.1, 0, 'f', 1).arg(silentMs, 0, 'f', 1);
        }
        silent = 0;
        if (l < 0.2 * r.fullLevel)
            continue;
        const double pos = qFromLittleEndian<qint16>(r.raw.constData() + 4 * i + 2) / l * fileMs;
        const double jump = prev < 0 ? 0 : pos - prev - (i - prevFrame) / 44.1;
        // The right channel says a place to within fileMs / 20000.
        const double precision = 1.0 + 2 * fileMs / 20000;
        const bool paused = silentMs > 0 && std::abs(jump + silentMs) < precision;
        if (paused) {
            b.pauses.append({silentFrom, int(std::lround(silentMs * 44.1))});
            b.pausedMs += silentMs;
            b.longestPauseMs = std::max(b.longestPauseMs, silentMs);
        }
        if (std::abs(jump) >= precision)
            out << QStringLiteral("+%1: file jumps %2 ms").arg((i - r.firstFrame) / 44.1, 0, 'f', 1).arg(jump, 0, 'f', 1);
        silentMs = 0;
        prev = pos;
        prevFrame = i;
    }
    if (!out.isEmpty())
        b.text = out.mid(0, 8).join(QLatin1String(", "));
    return b;
}

// What a recording holds of a positionRamp file seconds long, played at
// fullLevel (the left channel's recorded level at unity gain).
HeardRange heardRange(const QByteArray& raw, double seconds, double fullLevel)
{
    HeardRange r;
    r.raw = raw;
    r.fullLevel = fullLevel;
    const int frames = int(raw.size() / 4);
    auto right = [&](int i) { return double(qFromLittleEndian<qint16>(raw.constData() + 4 * i + 2)); };
    auto posOf = [&](int i) { return right(i) / r.left(i) * seconds * 1000.0; };
    int first = -1, last = -1;
    for (int i = 0; i < frames; ++i)
        if (r.left(i) > 300) {
            if (first < 0)
                first = i;
            last = i;
        }
    if (first < 0)
        return r;
    r.firstFrame = first;
    r.lastFrame = last;
    for (int i = first; i <= last && r.refFrame < 0; ++i)
        if (r.left(i) > 0.2 * fullLevel) {
            r.refFrame = i;
            r.refMs = posOf(i);
        }
    int lastRef = -1;
    for (int i = last; i >= first && lastRef < 0; --i)
        if (r.left(i) > 0.2 * fullLevel)
            lastRef = i;
    if (r.refFrame < 0)
        return r;
    r.firstMs = r.refMs - (r.refFrame - first) / 44.1;
    r.lastMs = posOf(lastRef) + (last - lastRef) / 44.1;
    r.pauses = breaksIn(r, seconds * 1000).pauses;
    return r;
}

// A loop recorded over its wraps, read where one round plays alone at full
// level: the source position of every frame, the frames where it falls back
// by more than half a round (the wraps), and the silences. A round's length
// is what was heard of it: a gap the sound server leaves (a busy machine can
// hold it back anywhere in a round) delays the round, it does not change it.
struct LoopHearing
{
    QList<int> wraps;             // recorded frames where a round began again
    double lowest = 1e9, highest = -1;
    int longestSilence = 0;       // frames
    int silentWraps = 0;          // wraps with more than 10 ms of silence before them
    QString rounds;               // each whole round's heard length in ms, for the log
    double worstRoundMs = 0;      // the largest |round - range|
};

LoopHearing hearLoop(const HeardRange& r, double fileMs, double roundMs)
{
    LoopHearing h;
    int run = 0, heardInRound = 0, lastHeard = r.firstFrame;
    double prev = -1;
    auto endRound = [&](int wrapFrame) {
        const double ms = heardInRound / 44.1;
        h.rounds += QString::number(ms, 'f', 1) + " ";
        h.worstRoundMs = std::max(h.worstRoundMs, std::abs(ms - roundMs));
        h.silentWraps += wrapFrame - lastHeard > 441;
        h.wraps.append(wrapFrame);
        heardInRound = 0;
    };
    for (int i = r.firstFrame; i <= r.lastFrame; ++i) {
        const double l = r.left(i);
        run = l > 300 ? 0 : run + 1;
        h.longestSilence = std::max(h.longestSilence, run);
        if (l < 0.9 * r.fullLevel || l > 1.1 * r.fullLevel) {
            heardInRound += l > 300;
            continue;
        }
        const double pos = qFromLittleEndian<qint16>(r.raw.constData() + 4 * i + 2) / l * fileMs;
        h.lowest = std::min(h.lowest, pos);
        h.highest = std::max(h.highest, pos);
        if (prev >= 0 && pos < prev - roundMs / 2)
            endRound(i);
        ++heardInRound;
        lastHeard = i;
        prev = pos;
    }
    return h;
}

// Every round lasts the range to within 10 ms, nothing from more than 12 ms
// outside the range is heard, and the wraps leave no silence over 10 ms (one
// may meet a gap of the server's on a busy machine; a fault of the loop's
// own shows at most of them). The stream itself never waited for its decoder.
void checkLoopRounds(const HeardRange& r, double fileMs, double fromMs, double roundMs, int rounds,
                     qint64 starvedFrames)
{
    QVERIFY2(r.firstMs >= 0, "nothing heard");
    const LoopHearing h = hearLoop(r, fileMs, roundMs);
    qInfo("loop: %lld wraps (%d after a silence), positions %.1f..%.1f ms, longest silence %.1f ms; "
          "rounds heard (ms): %s",
          qint64(h.wraps.size()), h.silentWraps, h.lowest, h.highest, h.longestSilence / 44.1, qPrintable(h.rounds));
    QCOMPARE_GE(h.wraps.size(), rounds);
    QCOMPARE_LE(h.worstRoundMs, 10.0);
    QCOMPARE_GE(h.lowest, fromMs - 12);
    QCOMPARE_LE(h.highest, fromMs + roundMs + 12);
    QCOMPARE_LE(h.silentWraps, 1);
    QCOMPARE(starvedFrames, qint64(0));
}

// Stops the loop with a fade once it is reported early in the last part
// of a round, so that the fade runs over the wrap.
void stopBeforeWrap(AudioEngine& e, double trimOutMs, double fade)
{
    bool asked = false;
    QObject guard;
    QObject::connect(&e, &AudioEngine::positionChanged, &guard, [&](const QString& id, qint64 pos, qint64) {
        if (asked || pos < trimOutMs - fade * 1000 + 100 || pos > trimOutMs - fade * 500)
            return;
        asked = true;
        e.setButtonFade(id, fade * 1000);
        e.stop(id);
    });
    QTRY_VERIFY_WITH_TIMEOUT(asked, 10000);
}

// The fade heard over the wrap: from the last frame at full level the
// sound only falls (a round left unfaded would come back at full level),
// it falls through the wrap (positions from before the trim-out and after
// the trim-in are heard part-faded), and never two rounds at once.
void checkStopFadeOverWrap(const HeardRange& r, double fileMs, double fromMs, double roundMs)
{
    int lastFull = -1, loud = 0;
    for (int i = r.firstFrame; i <= r.lastFrame; ++i) {
        const double g = r.left(i) / r.fullLevel;
        loud += g > 1.1;
        if (g >= 0.9)
            lastFull = i;
    }
    QVERIFY(lastFull >= 0);
    bool beforeWrap = false, afterWrap = false;
    double lowest = 1, rise = 0;
    for (int i = lastFull; i <= r.lastFrame; ++i) {
        const double g = r.left(i) / r.fullLevel;
        lowest = std::min(lowest, g);
        rise = std::max(rise, g - lowest);
        if (g < 0.1)
            continue;
        const double pos = qFromLittleEndian<qint16>(r.raw.constData() + 4 * i + 2) / r.left(i) * fileMs;
        beforeWrap |= pos > fromMs + roundMs - 150 && !afterWrap;
        afterWrap |= beforeWrap && pos < fromMs + 150;
    }
    qInfo("stop fade: fell over %.1f ms, over the wrap: %s; rose again by %.2f; %d frames doubled",
          (r.lastFrame - lastFull) / 44.1, beforeWrap && afterWrap ? "yes" : "no", rise, loud);
    QVERIFY(beforeWrap && afterWrap);
    QCOMPARE_LE(rise, 0.15);
    QCOMPARE(loud, 0);
}

// Stops the sound with a fade at its first report between fromMs and toMs
// in the file; pressedAtMs receives the sink's clock at the press.
void stopWhenHeard(AudioEngine& e, TestSupport::MonitorCapture& rec, double fromMs, double toMs, double fade,
                   qint64* pressedAtMs)
{
    bool asked = false;
    QObject guard;
    QObject::connect(&e, &AudioEngine::positionChanged, &guard, [&](const QString& id, qint64 pos, qint64) {
        if (asked || pos < fromMs || pos > toMs)
            return;
        asked = true;
        *pressedAtMs = rec.sinkMs();
        qInfo("stopped with the recording %lld ms behind the sink", *pressedAtMs - rec.mixedMs());
        e.setButtonFade(id, fade * 1000);
        e.stop(id);
    });
    QTRY_VERIFY_WITH_TIMEOUT(asked, 15000);
}

// A stop fade as heard against the press (pressedAtMs, on the sink's clock
// as it stood; ended: the stop report, as far as the recording had come then,
// a little behind what the sink had mixed): the fall is heard within the output's lead of the press (what
// a player's output had queued plays as it was), it reaches silence within
// the fade after that, and its last 10 ms are all but silent (a cut at a
// level still heard is the fault). The sound is let go only once its
// silence has been heard.
void checkStopFade(const HeardRange& r, qint64 pressedAtMs, qint64 endedAtMs, double fadeMs, double leadMs,
                   double late)
{
    QVERIFY2(r.firstFrame >= 0, "nothing heard");
    int lastFull = -1;
    for (int i = r.firstFrame; i <= r.lastFrame; ++i)
        if (r.left(i) / r.fullLevel >= 0.9)
            lastFull = i;
    QVERIFY(lastFull >= 0);
    double cut = 0;
    for (int i = std::max(r.firstFrame, r.lastFrame - 441); i <= r.lastFrame; ++i)
        cut = std::max(cut, r.left(i) / r.fullLevel);
    const double fallsAfter = lastFull / 44.1 - pressedAtMs;
    double pausedMs = 0;
    for (const auto& [from, frames] : r.pauses)
        pausedMs += from > lastFull ? frames / 44.1 : 0.0;
    const double silentAfter = r.lastFrame / 44.1 - pausedMs - pressedAtMs;
    qInfo("stop fade of %.0f ms: heard falling %.1f ms after the press, silent after %.1f ms, its last 10 ms up to "
          "%.2f of full level; reported stopped %.1f ms after the silence",
          fadeMs, fallsAfter, silentAfter, cut, endedAtMs - r.lastFrame / 44.1);
    QCOMPARE_LE(cut, 0.15 + 2 * late / fadeMs);
    QCOMPARE_LE(fallsAfter, leadMs + 50 + late);
    QCOMPARE_LE(silentAfter, leadMs + fadeMs + 60 + late);
    QCOMPARE_GE(endedAtMs - r.lastFrame / 44.1, -60.0);
}

// How late this thread's event loop ran a 5 ms timer at worst while it was
// watched. The players' trim-outs and fades are stepped by timers of the
// same loop, so they cannot keep time better than it did: on a machine busy
// enough to hold the loop back, the test allows them that much more.
// Beside it, a plain thread of this process sleeps 2 ms at a time: how late
// it woke says how long the machine held back threads like the ones Qt's
// player writes and stops its sound from.
class EventLoopLateness
{
public:
    EventLoopLateness()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.elapsed();
            m_worstMs = std::max(m_worstMs, now - m_last - 5);
            m_last = now;
        });
        m_clock.start();
        m_timer.start();
        m_probe = std::thread([this] {
            while (!m_stop.load()) {
                const qint64 before = MonoClock::ms();
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                const qint64 late = MonoClock::ms() - before - 2;
                if (late > m_threadsMs.load())
                    m_threadsMs.store(late);
            }
        });
    }
    ~EventLoopLateness()
    {
        m_stop.store(true);
        m_probe.join();
    }
    qint64 worstMs() const { return m_worstMs; }
    qint64 threadsHeldMs() const { return m_threadsMs.load(); }
    // The later of the two.
    qint64 busyMs() const { return std::max(worstMs(), threadsHeldMs()); }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_worstMs = 0;
    std::thread m_probe;
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_threadsMs{0};
};

// What the engine's players reported of a run, on the steady clock from its
// play, with the engine's own log lines about its start: printed when a
// check of the run fails.
class RunReports
{
public:
    explicit RunReports(AudioEngine& e)
    {
        QObject::connect(&e, &AudioEngine::positionChanged, &m_guard, [this](const QString&, qint64 pos, qint64) {
            m_reports += QStringLiteral("+%1:%2 ").arg(MonoClock::ms() - m_playedAt).arg(pos);
        });
    }
    ~RunReports()
    {
        if (QTest::currentTestFailed())
            qInfo("reports (+ms since the play:position): %s", qPrintable(m_reports));
        if (QTest::currentTestFailed() || !startLog().isEmpty())
            qInfo("engine log: %s", qPrintable(startLog().join(QLatin1String(" | "))));
    }
    void played() { m_playedAt = MonoClock::ms(); m_logBefore = OpLog::totalWritten(); }
    QStringList startLog() const
    {
        const QStringList all = OpLog::entriesNewestFirst().mid(0, OpLog::totalWritten() - m_logBefore);
        return all.filter(QRegularExpression(QStringLiteral("\\[AudioEngine\\] (start|the sound server does not answer)")));
    }

private:
    QObject m_guard;
    qint64 m_playedAt = 0;
    int m_logBefore = 0;
    QString m_reports;
};

// A press on a sound while it plays, as a row's "press" column says:
// "again MS" presses it again (Restart on) MS ms into it on its own clock
// (or at its end report, when sooner), "xN" N times 30 ms apart; "stop MS"
// stops it there at once. "tail" waits for MS on the sound clock past the
// end report, while the last of the sound is still to be heard; "default"
// plays it on the default output (else the row's sink by name).
struct Press
{
    bool stop = false;
    int atMs = 0;
    int times = 1;
    bool tail = false;
    bool onDefault = false;
};

Press pressOf(const QString& spec)
{
    const QStringList w = spec.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    Press p;
    p.stop = w.value(0) == QLatin1String("stop");
    p.atMs = w.value(1).toInt();
    if (w.value(2).startsWith(QLatin1Char('x')))
        p.times = w.value(2).mid(1).toInt();
    p.tail = w.contains(QLatin1String("tail"));
    p.onDefault = w.contains(QLatin1String("default"));
    return p;
}

// Where the sound of id is heard now in its file, in ms, on its own clock:
// a stream's frame heard, a player's start as heard; -1 before either. With
// guessed, a player's start is taken where the engine guessed it would be
// heard until its reports place it: a sound of some hundreds of ms can end
// before they do.
double heardPosMs(const AudioEngine& e, const QString& id, bool guessed = false)
{
    const PlaybackSlot* s = e.slotFor(id);
    if (!s)
        return -1;
    if (s->stream)
        return double(s->stream->positionMs());
    if (!s->player || (!s->startHeard && !(guessed && s->startCalledAtMs > 0)))
        return -1;
    return double(s->startPosMs + (MonoClock::ms() - s->heardStartAtMs));
}

// Waits in small steps (a press lands within a few ms of its time) until
// the sound is heard at atMs or has ended (with pastEnd, until its slot
// lets go of its player, on the guessed clock until the reports place the
// start); where it is heard then.
double waitUntilHeardAt(const AudioEngine& e, const QString& id, double atMs, bool pastEnd = false)
{
    const qint64 deadline = MonoClock::ms() + 15000;
    double pos = heardPosMs(e, id, pastEnd);
    while (pos < atMs && (e.isPlaying(id) || (pastEnd && pos >= 0)) && MonoClock::ms() < deadline) {
        QTest::qWait(2);
        pos = heardPosMs(e, id, pastEnd);
    }
    return pos;
}

// What a recording of presses on a positionRamp file holds: the first frame
// of the sound pressed again (where the positions first fall back), the
// longest silence in the 700 ms from the press (a busy machine can leave a
// gap of its own anywhere else), the loudest 10 ms against one sound.
struct PressHearing
{
    int againFrame = -1;     // the first frame of the run started again
    double againFromMs = 0;  // its place in the file
    int lastAgainFrame = -1; // the first frame of the last run started again
    double lastAgainFromMs = 0;
    int longestSilence = 0;  // frames
    int silenceEnd = -1;     // the frame after it
    double loudest = 0;      // the loudest 10 ms, mean level against full
    int doubled = 0;         // frames heard above one sound
};

PressHearing hearPresses(const HeardRange& r, double fileMs, double pressFrame)
{
    PressHearing h;
    double prev = -1, prevAlone = -1;
    int run = 0;
    for (int i = r.firstFrame; i >= 0 && i <= r.lastFrame; ++i) {
        const double l = r.left(i);
        h.doubled += l > 1.1 * r.fullLevel;
        run = l > 300 || i < pressFrame ? 0 : run + 1;
        if (run > h.longestSilence && i < pressFrame + 700 * 44.1) {
            h.longestSilence = run;
            h.silenceEnd = i + 1;
        }
        if (l < 0.2 * r.fullLevel)
            continue;
        const double pos = qFromLittleEndian<qint16>(r.raw.constData() + 4 * i + 2) / l * fileMs;
        if (prev >= 0 && pos < prev - 10 && h.againFrame < 0) {
            h.againFrame = i;
            h.againFromMs = pos;
        }
        prev = pos;
        // Two sounds at once say no place: the last start is read where one
        // plays alone.
        if (l > 1.1 * r.fullLevel)
            continue;
        if (prevAlone >= 0 && pos < prevAlone - 10) {
            h.lastAgainFrame = i;
            h.lastAgainFromMs = pos;
        }
        prevAlone = pos;
    }
    for (int i = std::max(0, r.firstFrame); i + 441 <= r.lastFrame + 1; i += 110) {
        double sum = 0;
        for (int k = 0; k < 441; ++k)
            sum += std::abs(r.left(i + k));
        h.loudest = std::max(h.loudest, sum / 441 / r.fullLevel);
    }
    return h;
}

// What a recording of a press again in the last moments of a pitchSteps
// file holds, told by pitch in windows of 5 ms every 1.25 ms: the old run's
// last moments sound at kHighHz, the new run's start at kLowHz. The press
// is placed on the recording by the first run's position ramp.
struct TailHearing
{
    bool heardAgain = false;
    double startAfterMs = 0;    // the new run first heard, from the press
    double silenceMs = 0;       // between the old run's last and the new start
    double bothMs = 0;          // the old run heard together with the new start
    double oldAfterPressMs = 0; // the old run heard on after the press
    double oldHeardToMs = 0;    // where in the file the old run was last heard
};

TailHearing hearTail(const QByteArray& raw, double fileMs, double pressedAtMs)
{
    constexpr int kWin = 220, kHop = 55;
    constexpr double kHeard = 0.25 * kToneLevel;
    TailHearing t;
    const int frames = int(raw.size() / 4);
    int refFrame = -1;
    for (int i = 0; i < frames && refFrame < 0; ++i)
        if (qFromLittleEndian<qint16>(raw.constData() + 4 * i + 2) >= 0.3 * kToneLevel)
            refFrame = i;
    if (refFrame < 0)
        return t;
    const double refMs = qFromLittleEndian<qint16>(raw.constData() + 4 * refFrame + 2) / kToneLevel * fileMs;
    const double pressFrame = refFrame + (pressedAtMs - refMs) * 44.1;
    const QVector<double> low = toneLevels(raw, kLowHz, kWin, kHop);
    const QVector<double> high = toneLevels(raw, kHighHz, kWin, kHop);
    const auto centre = [](int w) { return w * kHop + kWin / 2.0; };
    // The old run's tail is read up to where the new run's own high part
    // could begin.
    int firstHigh = -1, lastHigh = -1, newStart = -1, both = 0;
    for (int w = 0; w < low.size(); ++w) {
        if (firstHigh < 0) {   // the first run's high part, heard alone
            firstHigh = high[w] >= kHeard && low[w] < 0.05 * kToneLevel ? w : -1;
            continue;
        }
        if (newStart < 0 && low[w] >= kHeard)
            newStart = w;
        if (newStart >= 0 && centre(w) - centre(newStart) > 0.3 * fileMs * 44.1)
            break;
        if (high[w] >= kHeard)
            lastHigh = w;
        both += newStart >= 0 && high[w] >= kHeard && low[w] >= kHeard;
    }
    if (newStart < 0 || lastHigh < 0)
        return t;
    t.heardAgain = true;
    t.startAfterMs = (centre(newStart) - pressFrame) / 44.1;
    t.silenceMs = std::max(0.0, (centre(newStart) - centre(lastHigh)) / 44.1);
    t.bothMs = both * kHop / 44.1;
    t.oldAfterPressMs = (centre(lastHigh) - pressFrame) / 44.1;
    // Read off the sound itself: where the press really cut the old run,
    // whatever the sound clock said when it was made.
    qint16 ramp = 0;
    for (int i = lastHigh * kHop; i < std::min(frames, lastHigh * kHop + kWin); ++i)
        ramp = std::max(ramp, qFromLittleEndian<qint16>(raw.constData() + 4 * i + 2));
    t.oldHeardToMs = ramp / kToneLevel * fileMs;
    return t;
}

// A press again in a sound's last moments, told by pitch: the new start is
// heard within 150 ms of the press and, as the press came before the end,
// with no silence over 50 ms before it (a loop held back starts it that much
// later); nothing of the old run is heard together with the new start.
// A press while the sound server seems not to answer (a machine busy enough
// holds its answers back) only cuts the old player off: what it had queued
// plays until the server answers and the player can go, for as long as the
// machine held things back.
void checkTail(const TailHearing& t, const QString& spec, double pressedAt, bool heldForServer,
               const EventLoopLateness& lateness, const QSignalSpy& retried)
{
    qInfo("%s: pressed at %.1f ms; the old run heard %.1f ms on after the press, to %.1f ms of the file; the new "
          "start %.1f ms after it, %.1f ms of silence between; both heard at once for %.1f ms; the event loop ran up "
          "to %lld ms late, the process's threads were held up to %lld ms%s",
          qPrintable(spec), pressedAt, t.oldAfterPressMs, t.oldHeardToMs, t.startAfterMs, t.silenceMs, t.bothMs,
          lateness.worstMs(), lateness.threadsHeldMs(),
          heldForServer ? "; the old player was held for the sound server" : "");
    QVERIFY2(t.heardAgain, "not heard again");
    const double slack = 2.0 * double(lateness.busyMs());
    QCOMPARE_LE(t.bothMs, 2.5 + (heldForServer ? slack : 0.0));
    QCOMPARE(retried.count(), 0);
    QCOMPARE_LE(t.startAfterMs, 150.0 + slack);
    QCOMPARE_LE(t.silenceMs, 50.0 + slack);
}

// Presses the playing sound as spec says, records it to its end and checks
// what was heard: a stop leaves nothing heard 30 ms after it; a press again
// is heard from the start within 150 ms, leaves no gap over 50 ms, needs no
// fresh start for a stall, and on a stream never lays the sound over itself.
void pressAndHear(AudioEngine& e, const ButtonData& b, const QString& sink, TestSupport::MonitorCapture& rec,
                  double seconds, const QString& spec, const QSignalSpy& retried, const EventLoopLateness& lateness)
{
    const Press press = pressOf(spec);
    const bool onStream = e.slotFor(b.id) && e.slotFor(b.id)->stream;
    double pressedAt = waitUntilHeardAt(e, b.id, press.atMs, press.tail);
    // A loop held back long enough can leave a run's start never placed on
    // the sound clock before its end: nothing tells where its last moments are.
    if (press.tail && pressedAt < 0)
        QSKIP("the start was never placed on the sound clock: the event loop was held back");
    QVERIFY2(pressedAt >= 0, "never heard");
    const int logAtPress = OpLog::totalWritten();
    QElapsedTimer firstPress;   // the later presses' times, from the first
    firstPress.start();
    double lastPressAfterMs = 0;
    if (press.stop) {
        e.stop(b.id);
    } else {
        const QString device = press.onDefault ? QString() : sink;
        e.playRapid(b, device);
        for (int k = 1; k < press.times; ++k) {
            QTest::qWait(30);
            lastPressAfterMs = double(firstPress.nsecsElapsed()) / 1e6;
            e.playRapid(b, device);
        }
    }
    QTRY_VERIFY_WITH_TIMEOUT(!e.isPlaying(b.id), 15000);
    const qint64 endedAt = rec.mixedMs();
    QTRY_VERIFY_WITH_TIMEOUT(rec.mixedMs() - endedAt >= 300, 10000);
    if (press.tail) {
        const QStringList logged = OpLog::entriesNewestFirst().mid(0, OpLog::totalWritten() - logAtPress);
        const bool heldForServer = !logged.filter(QLatin1String("does not answer")).isEmpty();
        checkTail(hearTail(rec.stop(), seconds * 1000, pressedAt), spec, pressedAt, heldForServer, lateness, retried);
        return;
    }
    const HeardRange r = heardRange(rec.stop(), seconds, 20000);
    QVERIFY2(r.firstMs >= 0, "nothing heard");
    // The press on the recording: where the first run was heard at the
    // place the sound clock gave when it was pressed.
    const double pressFrame = r.refFrame + (pressedAt - r.refMs) * 44.1;
    const PressHearing h = hearPresses(r, seconds * 1000, pressFrame);
    const qint64 lateMs = lateness.busyMs();
    const double againAfterMs = h.againFrame < 0 ? -1 : (h.againFrame - pressFrame) / 44.1 - h.againFromMs;
    qInfo("%s: pressed at %.1f ms; heard from %.1f to %.1f ms; heard again %.1f ms after the press, from %.1f ms; "
          "longest silence from the press %.1f ms, ending %.1f ms after it; loudest 10 ms at %.2f of one sound, "
          "%.1f ms above it; %lld starts retried; the event loop ran up to %lld ms late, the process's threads "
          "were held up to %lld ms",
          qPrintable(spec), pressedAt, r.firstMs, r.lastMs, againAfterMs, h.againFromMs, h.longestSilence / 44.1,
          (h.silenceEnd - pressFrame) / 44.1, h.loudest, h.doubled / 44.1,
          qint64(retried.count()), lateness.worstMs(), lateness.threadsHeldMs());
    // On its own stream the old sound is silent before the new one is
    // written. A player's stop is carried out by its own threads, which a
    // machine with every core busy can hold back for a few tens of ms while
    // the new player already plays: logged above, not judged.
    // Pressed again in its last moments, the old run is let go with what it
    // had queued: nothing of it is heard above the new start, but for as
    // long as the machine held back the window's loop (which lets the old
    // player go) or the threads that carry its end out (the fault this
    // guards against left 7 to 45 ms of it on an idle machine).
    if (onStream)
        QCOMPARE_LE(h.loudest, 1.1);
    if (press.tail)
        QCOMPARE_LE(h.doubled / 44.1, 1.0 + double(lateness.busyMs()));
    if (press.stop) {
        // The stop lands as soon as this thread and the stream's run after
        // the press: a machine that holds them back makes it that much later.
        QCOMPARE(h.againFrame, -1);
        QCOMPARE_LE(r.lastMs, pressedAt + 30 + double(lateness.busyMs()));
        return;
    }
    QVERIFY2(h.againFrame >= 0, "not heard again");
    QCOMPARE_LE(std::abs(r.lastMs - seconds * 1000), 25.0);   // the last run plays to its end
    QCOMPARE(retried.count(), 0);
    // The new run is started from this thread's event loop: on a machine
    // busy enough to hold the loop back it starts that much later (the
    // fault this guards against left 500 ms of silence).
    const double slack = 2.0 * double(lateMs);
    if (press.times > 1) {
        // The last of a burst is what plays on: its run (read from where it
        // is first heard alone, placed back to its start) starts within
        // 150 ms of it, the sink's clock taken as the steady clock's over
        // the burst, and not before it (an earlier run left to play on). A
        // loop held back brings presses together: the run heard may then be
        // the one before the last, begun as much earlier as the loop was
        // late (one left from the first press begins a whole burst early).
        QVERIFY2(h.lastAgainFrame >= 0, "the last press not heard");
        const double lastPressFrame = pressFrame + lastPressAfterMs * 44.1;
        const double lastAfterMs = (h.lastAgainFrame - lastPressFrame) / 44.1 - h.lastAgainFromMs;
        qInfo("the last press, %.1f ms after the first, was heard %.1f ms after it (first alone at %.1f ms)",
              lastPressAfterMs, lastAfterMs, h.lastAgainFromMs);
        QCOMPARE_GE(lastAfterMs, -20.0 - slack);
        QCOMPARE_LE(lastAfterMs, 150.0 + slack);
        return;
    }
    // Read where the new run is first heard alone: while the old player's
    // tail still plays under it (logged above) its place cannot be read.
    const double overlapMs = h.doubled / 44.1;
    const double aloneAfterMs = (h.lastAgainFrame - pressFrame) / 44.1 - h.lastAgainFromMs;
    QVERIFY2(h.lastAgainFrame >= 0, "not heard alone again");
    QCOMPARE_LE(h.lastAgainFromMs, 25.0 + overlapMs);
    QCOMPARE_LE(aloneAfterMs, 150.0 + slack);
    if (pressedAt < seconds * 1000)   // pressed at its end: a silence may come before the press
        QCOMPARE_LE(h.longestSilence / 44.1, 50.0 + slack);
}

bool outputListed(const QByteArray& id)
{
    for (const QAudioDevice& d : QMediaDevices::audioOutputs())
        if (d.id() == id)
            return true;
    return false;
}

// Plays a silent file on the engine until its start is heard, as a sound
// played before does in the program: the engine learns from it how long a
// start takes to be heard on this output, which times the next run's ends
// before its own reports can (a range of 20 ms ends before its first).
// A 16-bit stereo 44100 Hz WAV header with an empty data chunk, or with
// none at all.
// A FLAC stream header that promises a second of sound, followed by bytes
// that hold no frame: its header reads as a sound's, nothing decodes.
QByteArray flacHeaderOverJunk()
{
    QByteArray b("fLaC", 4);
    b += QByteArray("\x80\x00\x00\x22", 4);           // the last block: STREAMINFO, 34 bytes
    b += QByteArray("\x10\x00\x10\x00", 4);           // blocks of 4096 frames
    b += QByteArray(6, '\0');                           // frame sizes not known
    // 44100 Hz (20 bits), 2 channels (3 bits: 1), 16 bits (5 bits: 15),
    // 44100 frames (36 bits).
    b += QByteArray("\x0a\xc4\x42\xf0\x00\x00\xac\x44", 8);
    b += QByteArray(16, '\0');                          // no MD5
    QRandomGenerator junk(7);
    for (int i = 0; i < 64 * 1024; ++i)
        b += char(junk.bounded(0x80));                  // never a frame's sync
    return b;
}

// Random bytes, the same each time.
QByteArray randomBytes()
{
    QByteArray b(64 * 1024, Qt::Uninitialized);
    QRandomGenerator noise(84);
    for (char& c : b)
        c = char(noise.bounded(256));
    return b;
}

// A WAV of so many seconds of tone, as bytes.
QByteArray toneWav(double seconds)
{
    const QString path = TestSupport::tempDir() + QStringLiteral("/tone-bytes.wav");
    if (!TestSupport::writeWav16(path, TestSupport::sine(440, seconds, 2, 44100), 2, 44100))
        return {};
    return TestSupport::readFile(path);
}

QByteArray headerOnlyWav(bool dataChunk)
{
    QByteArray b("RIFF\0\0\0\0WAVEfmt ", 16);
    const auto put = [&b](quint32 v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            b.append(char((v >> (8 * i)) & 0xff));
    };
    put(16, 4);
    put(1, 2);
    put(2, 2);
    put(44100, 4);
    put(176400, 4);
    put(4, 2);
    put(16, 2);
    if (dataChunk) {
        b.append("data", 4);
        put(0, 4);
    }
    qToLittleEndian(quint32(b.size() - 8), b.data() + 4);
    return b;
}

void learnStartDelay(AudioEngine& e, const QString& sink)
{
    const QString file = TestSupport::tempDir() + "/silence.wav";
    if (!QFile::exists(file))
        QVERIFY(TestSupport::writeWav16(file, QVector<qint16>(2 * 44100, 0), 2, 44100));
    e.play(button("first", file), sink);
    QTRY_VERIFY_WITH_TIMEOUT(e.slotFor("first") && e.slotFor("first")->startHeard, 10000);
    e.stop("first");
}

} // namespace

// The file's header is read ahead, off this thread, as the program does for
// a session's files and a button's new file long before a press.
static void headsRead(const QString& path)
{
    KnownFiles::instance()->lookNow(path);
    FileHeads::instance()->readAhead({path});
    QTRY_VERIFY_WITH_TIMEOUT(!FileHeads::instance()->busy(), 30000);
}

class TstAudioEnginePlayback : public QObject
{
    Q_OBJECT

    QString m_dir;

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty("PULSE_SERVER"))
            QSKIP("no sound server: start scripts/sound-server (scripts/test does)");
        m_dir = TestSupport::tempDir();
        qInfo() << "media back end:" << qgetenv("QT_MEDIA_BACKEND");
    }

    // A generated tone sounds on the sink, ends by itself, and reports its
    // start before its stop.
    void toneStartsSoundsAndEnds()
    {
        const QString tone = m_dir + "/tone.wav";
        QVERIFY(TestSupport::writeWav16(tone, TestSupport::sine(660, 0.6, 2, 44100, 0.6), 2, 44100));

        QProcess rec;
        const QString monitor = qEnvironmentVariable("TR_PULSE_MONITOR");
        if (!monitor.isEmpty()) {
            rec.start("parec", {"-d", monitor, "--raw", "--format=s16le", "--rate=44100", "--channels=2",
                              "--latency-msec=20"});
            QVERIFY2(rec.waitForStarted(5000), "parec did not start");
            QVERIFY2(rec.waitForReadyRead(5000), "parec records nothing");   // connected and running
        }

        AudioEngine e;
        QStringList events;
        connect(&e, &AudioEngine::playStarted, &e, [&](const QString& id) { events << "started " + id; });
        connect(&e, &AudioEngine::playStopped, &e, [&](const QString& id) { events << "stopped " + id; });
        QSignalSpy errors(&e, &AudioEngine::playbackError);
        QSignalSpy stopped(&e, &AudioEngine::playStopped);
        QSignalSpy positions(&e, &AudioEngine::positionChanged);
        e.play(button("tone", tone), QString());
        QVERIFY(e.isPlaying("tone"));
        QVERIFY(stopped.wait(15000));
        QCOMPARE(errors.count(), 0);
        QCOMPARE(events, QStringList({"started tone", "stopped tone"}));
        QVERIFY(!e.isPlaying("tone"));
        QVERIFY(e.slotFor("tone"));   // an ended slot is kept until stopped or replaced
        QCOMPARE(e.durationMs("tone"), qint64(600));
        for (const QList<QVariant>& p : positions)
            QCOMPARE_LE(p.at(1).toLongLong(), qint64(600));

        if (!monitor.isEmpty()) {
            QTest::qWait(200);   // let the sink's last buffer reach the monitor
            rec.kill();
            rec.waitForFinished(3000);
            const QByteArray raw = rec.readAllStandardOutput();
            // 0.6 of full scale at the master's 0.85: about 16700.
            const double amp = toneAmplitude(raw, 660);
            qInfo() << "recorded" << raw.size() << "bytes; 660 Hz amplitude" << amp;
            QCOMPARE_GE(amp, 8000.0);
        }
        e.stop("tone");
        QCOMPARE(events.last(), QString("stopped tone"));

        // A new player, then the player prepared after that play once it has
        // sat ready for a while (as an Auto-Mix track does between passes):
        // both passes last as long, measured in what the sink mixed between
        // the engine's start and stop reports.
        if (monitor.isEmpty())
            return;
        TestSupport::MonitorCapture clock;
        QVERIFY2(clock.start(), "the monitor records nothing");
        qint64 startedAt = -1, stoppedAt = -1;
        QObject reports;   // gone before the clock is
        connect(&e, &AudioEngine::playStarted, &reports, [&] { startedAt = clock.mixedMs(); });
        connect(&e, &AudioEngine::playStopped, &reports, [&] { stoppedAt = clock.mixedMs(); });
        const auto passMs = [&] {
            stopped.clear();
            startedAt = stoppedAt = -1;
            e.play(button("tone", tone), QString());
            const bool ended = stopped.wait(15000) && startedAt >= 0;
            const qint64 ms = stoppedAt - startedAt;
            e.stop("tone");
            return ended ? ms : qint64(-1);
        };
        e.clearBuffer();
        const qint64 fresh = passMs();
        QTRY_VERIFY(e.isBuffered(tone));
        QTest::qWait(2500);   // sitting prepared: the fault grows with this time
        const qint64 prepared = passMs();
        clock.stop();
        qInfo() << "mixed between start and end: new player" << fresh << "ms, prepared player" << prepared << "ms";
        QVERIFY(fresh > 0 && prepared > 0);
        QCOMPARE_LE(prepared, fresh + 1000);
        e.stop("tone");
    }

    // Once a path has played the engine prepares it again for its next
    // start, as Auto-Mix's second pass over a playlist meets it. However long
    // the prepared player waited, that pass reports its end when its sound
    // ends: its start-to-stop span, taken from the engine's own reports, is
    // about the first pass's, not the first plus the wait.
    void secondPassEndsWithItsSound()
    {
        const QString tone = m_dir + "/pass.wav";
        QVERIFY(TestSupport::writeWav16(tone, TestSupport::sine(440, 1.09, 2, 44100, 0.4), 2, 44100));
        TestSupport::MonitorCapture clock;
        if (!clock.start())
            QSKIP("no monitor to record");
        AudioEngine e;
        QHash<QString, qint64> startedAt;
        QHash<QString, qint64> stoppedAt;
        connect(&e, &AudioEngine::playStarted, &e, [&](const QString& id) { startedAt.insert(id, clock.mixedMs()); });
        connect(&e, &AudioEngine::playStopped, &e, [&](const QString& id) { stoppedAt.insert(id, clock.mixedMs()); });
        QSignalSpy stopped(&e, &AudioEngine::playStopped);
        QSignalSpy errors(&e, &AudioEngine::playbackError);

        e.play(button("first", tone), QString());
        QVERIFY(stopped.wait(15000));
        QTRY_VERIFY_WITH_TIMEOUT(e.isBuffered(tone), 5000);
        // The prepared player sits, as it does while the other tracks play.
        QTest::qWait(4000);
        e.play(button("second", tone), QString());
        QVERIFY(!e.isBuffered(tone));   // the prepared player was the one taken
        QVERIFY(stopped.wait(20000));
        QCOMPARE(errors.count(), 0);
        const qint64 first = stoppedAt.value("first") - startedAt.value("first");
        const qint64 second = stoppedAt.value("second") - startedAt.value("second");
        qInfo() << "mixed during the first pass" << first << "ms, the second" << second << "ms";
        // The fault adds the 4 s wait; half of it is the line.
        QVERIFY2(first > 0 && second < first + 2000,
                 qPrintable(QStringLiteral("first %1 ms, second %2 ms").arg(first).arg(second)));
    }

    // On the players' path a trimmed range is heard from its trim-in to its
    // trim-out, a fade-in rises from silence along its ramp and a fade-out
    // falls along its ramp to the trim-out. Read back from the sink: every
    // frame of the file says where in the file it lies.
    void trimmedRangeIsHeardAsSet_data()
    {
        QTest::addColumn<double>("trimIn");
        QTest::addColumn<double>("trimOut");
        QTest::addColumn<double>("fadeIn");
        QTest::addColumn<double>("fadeOut");
        QTest::addColumn<bool>("loop");
        QTest::addColumn<double>("seconds");   // the file's length
        // Stopped with this fade: a loop just before a wrap when the fade is
        // long against its round, else once it is heard well into the sound.
        QTest::addColumn<double>("stopFade");
        // An earlier version of the file, this long (s; 0 none), played first
        // too quietly to count as heard, then saved over with the row's
        // file and the same modification time: what the engine learnt from
        // the earlier one must not hold for it.
        QTest::addColumn<double>("savedOver");
        QTest::addColumn<int>("heldMs");       // the sink stands still this long 5 s in; 0: never
        QTest::addColumn<QString>("written");   // when the file was written, as its date says
        QTest::addColumn<QString>("press");    // pressed while it plays (see Press); empty: never
        QTest::newRow("trim in and out") << 0.5 << 1.7 << 0.0 << 0.0 << false << 2.5 << 0.0 << 0.0 << 0 << QString("long ago") << QString();
        QTest::newRow("trim out only") << 0.0 << 1.3 << 0.0 << 0.0 << false << 2.5 << 0.0 << 0.0 << 0 << QString("long ago") << QString();
        QTest::newRow("fade-in") << 0.25 << 1.6 << 0.6 << 0.0 << false << 2.5 << 0.0 << 0.0 << 0 << QString("long ago") << QString();
        QTest::newRow("fade-out") << 0.25 << 1.9 << 0.0 << 0.6 << false << 2.5 << 0.0 << 0.0 << 0 << QString("long ago") << QString();
        // A trim-in is heard where it is set, whichever way the back end
        // rounds it to a sample of the file.
        for (const double in : {1.234, 2.1, 3.003, 4.006, 4.321, 6.012, 6.789, 0.777, 0.5, 1.0, 5.555})
            QTest::addRow("trim-in %.3f", in) << in << in + 0.3 << 0.0 << 0.0 << false << 8.0 << 0.0 << 0.0 << 0 << QString("long ago") << QString();
        // A range of any length ends at its trim-out, a short one as well as
        // one that runs through some hundreds of position reports; a fade-out
        // before a short trim-out still reaches silence there.
        for (const int ms : {20, 60, 120, 180})
            QTest::addRow("range of %d ms", ms) << 1.234 << 1.234 + ms / 1000.0 << 0.0 << 0.0 << false << 8.0 << 0.0 << 0.0 << 0 << QString("long ago") << QString();
        QTest::newRow("range of 32 s") << 2.0 << 34.0 << 0.0 << 0.0 << false << 40.0 << 0.0 << 0.0 << 0 << QString("long ago") << QString();
        // A sound server that falls behind holds back all that is heard
        // after it: the heard start follows, and the range still ends at
        // its trim-out.
        QTest::newRow("range of 32 s, the sink held 100 ms") << 2.0 << 34.0 << 0.0 << 0.0 << false << 40.0 << 0.0 << 0.0 << 100 << QString("long ago") << QString();
        QTest::newRow("fade-out before a 180 ms trim-out") << 1.234 << 1.414 << 0.0 << 0.1 << false << 8.0 << 0.0 << 0.0 << 0 << QString("long ago") << QString();
        QTest::newRow("fade-out before a 300 ms trim-out") << 1.234 << 1.534 << 0.0 << 0.1 << false << 8.0 << 0.0 << 0.0 << 0 << QString("long ago") << QString();
        // A file that ends by itself is heard whole, however short: its
        // player's stream is not let go with its last moments still queued,
        // and the shortest play on a stream of their own.
        for (const int ms : {20, 40, 60, 150, 1500})
            QTest::addRow("whole file of %d ms", ms) << 0.0 << 0.0 << 0.0 << 0.0 << false << ms / 1000.0 << 0.0 << 0.0 << 0 << QString("long ago") << QString();
        // A file's date changes nothing: one dated ahead of the clock (copied
        // from a machine whose clock runs ahead) or written a moment before
        // the press is heard whole; one still being written as it plays (a
        // download) plays on as it grows.
        QTest::newRow("whole file of 20 ms dated an hour ahead") << 0.0 << 0.0 << 0.0 << 0.0 << false << 0.02 << 0.0
                                                                 << 0.0 << 0 << QString("an hour ahead") << QString();
        QTest::newRow("whole file of 50 ms dated a day ahead") << 0.0 << 0.0 << 0.0 << 0.0 << false << 0.05 << 0.0
                                                               << 0.0 << 0 << QString("a day ahead") << QString();
        QTest::newRow("whole file of 40 ms written a moment ago") << 0.0 << 0.0 << 0.0 << 0.0 << false << 0.04 << 0.0
                                                                  << 0.0 << 0 << QString("a moment ago") << QString();
        QTest::newRow("whole file of 3 s still growing") << 0.0 << 0.0 << 0.0 << 0.0 << false << 3.0 << 0.0 << 0.0
                                                         << 0 << QString("growing") << QString();
        // Pressed before its header was read: played as once it is read,
        // the shortest on a stream of their own, heard whole, once.
        for (const int ms : {20, 40, 60, 120, 250})
            QTest::addRow("whole file of %d ms, header unread", ms) << 0.0 << 0.0 << 0.0 << 0.0 << false << ms / 1000.0
                                                                  << 0.0 << 0.0 << 0 << QString("header unread")
                                                                  << QString();
        // A loop goes round without a break, every round as long as its
        // range: the whole file, and ranges of about a second and two.
        QTest::newRow("loop, whole file") << 0.0 << 0.0 << 0.0 << 0.0 << true << 1.5 << 0.0 << 0.0 << 0 << QString("long ago") << QString();
        QTest::newRow("loop, trim in and out") << 0.5 << 1.7 << 0.0 << 0.0 << true << 2.5 << 0.0 << 0.0 << 0 << QString("long ago") << QString();
        QTest::newRow("loop, 1 s") << 3.0 << 4.0 << 0.0 << 0.0 << true << 5.0 << 0.0 << 0.0 << 0 << QString("long ago") << QString();
        QTest::newRow("loop, 2 s") << 1.0 << 3.0 << 0.0 << 0.0 << true << 5.0 << 0.0 << 0.0 << 0 << QString("long ago") << QString();
        // A stop whose fade runs over a wrap fades all that is heard.
        QTest::newRow("loop, stop fade over a wrap") << 0.5 << 1.7 << 0.0 << 0.0 << true << 2.5 << 0.8 << 0.0 << 0 << QString("long ago") << QString();
        QTest::newRow("whole file of 1500 ms saved over one of 100 ms") << 0.0 << 0.0 << 0.0 << 0.0 << false << 1.5
                                                                        << 0.0 << 0.1 << 0 << QString("long ago") << QString();
        QTest::newRow("whole file of 100 ms saved over one of 1500 ms") << 0.0 << 0.0 << 0.0 << 0.0 << false << 0.1
                                                                        << 0.0 << 1.5 << 0 << QString("long ago") << QString();
        QTest::newRow("range of 1.2 s saved over a file of 1 s") << 0.5 << 1.7 << 0.0 << 0.0 << false << 2.5 << 0.0
                                                                 << 1.0 << 0 << QString("long ago") << QString();
        // A stop with a short fade is heard falling from the press and
        // reaches silence before the sound is let go: on a player, and on a
        // loop's stream of its own.
        QTest::newRow("stop fade of 100 ms on a player") << 0.5 << 3.5 << 0.0 << 0.0 << false << 4.0 << 0.1 << 0.0 << 0 << QString("long ago") << QString();
        QTest::newRow("stop fade of 200 ms on a player") << 0.5 << 3.5 << 0.0 << 0.0 << false << 4.0 << 0.2 << 0.0 << 0 << QString("long ago") << QString();
        QTest::newRow("stop fade of 100 ms on a stream") << 0.5 << 1.7 << 0.0 << 0.0 << true << 2.5 << 0.1 << 0.0 << 0 << QString("long ago") << QString();
        QTest::newRow("stop fade of 200 ms on a stream") << 0.5 << 1.7 << 0.0 << 0.0 << true << 2.5 << 0.2 << 0.0 << 0 << QString("long ago") << QString();
        // Pressed again (Restart on) near its end, well before it, at its end
        // report (its stream still held) and ten times 30 ms apart, on a
        // player; a short sound on its stream stopped at once, and pressed
        // again, once and ten times 30 ms apart.
        for (const int ms : {300, 600, 800})
            QTest::addRow("1 s, again at %d ms", ms) << 0.0 << 0.0 << 0.0 << 0.0 << false << 1.0 << 0.0 << 0.0 << 0 << QString("long ago")
                                                     << QString("again %1").arg(ms);
        QTest::newRow("1 s, again at its end report") << 0.0 << 0.0 << 0.0 << 0.0 << false << 1.0 << 0.0 << 0.0 << 0 << QString("long ago")
                                                      << QString("again 2000");
        // Pressed again in its last 5 to 120 ms, past its end report or
        // before it, on a second output and on the default one: a sound of
        // a second and one just too long for a stream of its own.
        const auto tailRows = [](double seconds, const char* where, std::initializer_list<int> atMs) {
            for (const int ms : atMs)
                for (const bool byDefault : {false, true})
                    QTest::addRow("%s, again at %d ms, %s%s", seconds < 1 ? "260 ms" : "1 s", ms, where,
                                  byDefault ? ", default output" : "")
                        << 0.0 << 0.0 << 0.0 << 0.0 << false << seconds << 0.0 << 0.0 << 0 << QString("long ago")
                        << QString("again %1 tail%2").arg(ms).arg(byDefault ? " default" : "");
        };
        tailRows(0.26, "in its last moments", {260 - 120, 260 - 57, 260 - 30, 260 - 5});
        tailRows(1.0, "past its end report", {880, 940, 960, 975, 990, 995});
        QTest::newRow("1 s, again ten times") << 0.0 << 0.0 << 0.0 << 0.0 << false << 1.0 << 0.0 << 0.0 << 0 << QString("long ago")
                                              << QString("again 500 x10");
        QTest::newRow("250 ms, stopped at 100 ms") << 0.0 << 0.0 << 0.0 << 0.0 << false << 0.25 << 0.0 << 0.0 << 0 << QString("long ago")
                                                   << QString("stop 100");
        QTest::newRow("250 ms, again at 100 ms") << 0.0 << 0.0 << 0.0 << 0.0 << false << 0.25 << 0.0 << 0.0 << 0 << QString("long ago")
                                                 << QString("again 100");
        QTest::newRow("250 ms, again ten times") << 0.0 << 0.0 << 0.0 << 0.0 << false << 0.25 << 0.0 << 0.0 << 0 << QString("long ago")
                                                 << QString("again 60 x10");
    }
    void trimmedRangeIsHeardAsSet()
    {
        QFETCH(double, trimIn);
        QFETCH(double, trimOut);
        QFETCH(double, fadeIn);
        QFETCH(double, fadeOut);
        QFETCH(bool, loop);
        QFETCH(double, seconds);
        QFETCH(double, stopFade);
        QFETCH(double, savedOver);
        QFETCH(int, heldMs);
        QFETCH(QString, written);
        QFETCH(QString, press);
        if (qgetenv("QT_MEDIA_BACKEND") != "ffmpeg")
            QSKIP("the program plays through FFmpeg whatever QT_MEDIA_BACKEND says");
        // A press in the last moments tells the old run from the new by pitch.
        const bool byPitch = !press.isEmpty() && pressOf(press).tail;
        const QString file = m_dir + QString("/%1%2%3%4.wav")
                                         .arg(byPitch ? "pitch" : "ramp")
                                         .arg(seconds)
                                         .arg(savedOver > 0 ? "-saved" : "")
                                         .arg(written == "long ago" ? QString() : "-" + QString(written).replace(' ', '-'));
        // Written long ago, as a button's file usually is. In whole
        // milliseconds, so that a version saved over it can be given the
        // very same time.
        const QDateTime longAgo = QDateTime::fromMSecsSinceEpoch(QDateTime::currentMSecsSinceEpoch() - 60000);
        const auto writeRamp = [&](double length, double level) {
            QVector<qint16> samples = byPitch ? pitchSteps(length, 44100) : positionRamp(length, 44100);
            for (qint16& v : samples)
                v = qint16(std::lround(v * level));
            QFile f(file);
            return TestSupport::writeWav16(file, samples, 2, 44100) && f.open(QIODevice::ReadWrite)
                   && f.setFileTime(longAgo, QFileDevice::FileModificationTime);
        };
        QVERIFY(writeRamp(savedOver > 0 ? savedOver : seconds, savedOver > 0 ? 0.01 : 1.0));
        // A growing file has its first second when it is pressed; the rest
        // comes on as it plays, well ahead of what is heard.
        const QByteArray whole = written == "growing" ? TestSupport::readFile(file) : QByteArray();
        qsizetype arrived = std::min<qsizetype>(whole.size(), 44 + 44100 * 4);
        if (!whole.isEmpty()) {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(f.write(whole.left(arrived)), qint64(arrived));
        } else if (written != "long ago" && written != "header unread") {
            QFile f(file);
            QVERIFY(f.open(QIODevice::ReadWrite));
            const QDateTime now = QDateTime::currentDateTime();
            const QDateTime when = written == "an hour ahead" ? now.addSecs(3600)
                                   : written == "a day ahead" ? now.addDays(1)
                                                              : now;
            QVERIFY(f.setFileTime(when, QFileDevice::FileModificationTime));
        }
        // A sink that only this test plays into: other tests play into the
        // shared one meanwhile.
        const QString sink = qEnvironmentVariable("TR_PULSE_OWN_SINK");
        if (sink.isEmpty())
            QSKIP("no sink of its own: start scripts/sound-server (scripts/test does)");
        QTRY_VERIFY_WITH_TIMEOUT(outputListed(sink.toUtf8()), 10000);
        // A row on the default output is played there by no name and
        // recorded from it: this test's server is its own.
        const bool onDefault = pressOf(press).onDefault;
        const QString device = onDefault ? QString() : sink;
        const QString recorded = onDefault ? QString::fromUtf8(QMediaDevices::defaultAudioOutput().id()) : sink;
        TestSupport::MonitorCapture rec;
        QVERIFY(rec.start(recorded + ".monitor"));
        AudioEngine e;
        e.setGlobalVolume(1.0);
        if (!loop)
            learnStartDelay(e, device);
        if (savedOver > 0) {
            // The earlier version plays once (its level too low to be taken
            // for the row's sound), then the row's file is saved over it.
            QSignalSpy ended(&e, &AudioEngine::playStopped);
            e.play(button("ramp", file), sink);
            QVERIFY(ended.wait(15000));
            QVERIFY(writeRamp(seconds, 1.0));
            QTRY_COMPARE(KnownFiles::instance()->lastSeen(file), FileCheck::stampOf(file));
        }
        const bool unread = written == "header unread";
        if (unread)
            QVERIFY(!FileHeads::instance()->find(file, nullptr));
        else
            headsRead(file);
        QSignalSpy stopped(&e, &AudioEngine::playStopped);
        QSignalSpy retried(&e, &AudioEngine::startRetried);
        // Where the run started, as its start is reported.
        bool startSeen = false;
        bool onStream = false;
        QObject startWatch;
        QObject::connect(&e, &AudioEngine::playStarted, &startWatch, [&](const QString& id) {
            if (id != QLatin1String("ramp") || startSeen)
                return;
            startSeen = true;
            onStream = e.slotFor(id) && e.slotFor(id)->stream;
        });
        ButtonData b = button("ramp", file);
        b.trimStart = trimIn;
        b.trimEnd = trimOut;
        b.fadeIn = fadeIn;
        b.fadeOut = fadeOut;
        b.loop = loop;
        const qint64 playedAt = rec.mixedMs();
        RunReports reports(e);
        reports.played();
        // Pressed while the reads are held: nothing can be read meanwhile.
        FileHeads::instance()->setHeld(unread);
        e.play(b, device);
        FileHeads::instance()->setHeld(false);
        QTimer grow;   // a quarter of a second more every 50 ms
        QObject::connect(&grow, &QTimer::timeout, [&] {
            QFile f(file);
            const qsizetype more = std::min<qsizetype>(whole.size() - arrived, 44100);
            if (more <= 0 || !f.open(QIODevice::Append) || f.write(whole.mid(arrived, more)) != more)
                grow.stop();
            arrived += more;
        });
        if (!whole.isEmpty())
            grow.start(50);
        // From here: the back end opens the file on this thread in play(),
        // which holds the loop back before anything is timed.
        const EventLoopLateness lateness;
        if (loop) {
            // Eight rounds and a half, counted on the sink's own clock.
            constexpr int kRounds = 8;
            const double roundMs = ((trimOut > 0 ? trimOut : seconds) - trimIn) * 1000;
            QTRY_VERIFY_WITH_TIMEOUT(rec.mixedMs() - playedAt >= qint64((kRounds + 0.5) * roundMs) + 500, 60000);
            QVERIFY(e.isPlaying("ramp"));
            QVERIFY(e.slotFor("ramp")->stream);
            const qint64 starved = e.slotFor("ramp")->stream->starvedFrames();
            const bool overWrap = stopFade * 1000 >= roundMs / 4;
            qint64 pressedAt = -1;
            if (stopFade > 0 && overWrap)
                stopBeforeWrap(e, trimOut * 1000, stopFade);
            else if (stopFade > 0)
                stopWhenHeard(e, rec, trimIn * 1000 + 300, trimIn * 1000 + roundMs - 400, stopFade, &pressedAt);
            else
                e.stop("ramp");
            QTRY_COMPARE_WITH_TIMEOUT(stopped.count(), 1, 10000);
            const qint64 stoppedAt = rec.mixedMs();
            QTRY_VERIFY_WITH_TIMEOUT(rec.mixedMs() - stoppedAt >= 300, 10000);
            const HeardRange r = heardRange(rec.stop(), seconds, 20000);
            checkLoopRounds(r, seconds * 1000, trimIn * 1000, roundMs, kRounds, starved);
            if (stopFade > 0 && overWrap)
                checkStopFadeOverWrap(r, seconds * 1000, trimIn * 1000, roundMs);
            else if (stopFade > 0)
                checkStopFade(r, pressedAt, stoppedAt, stopFade * 1000, 0, double(lateness.busyMs()));
            return;
        }
        const double endMs = (trimOut > 0 ? trimOut : seconds) * 1000;
        // A short sound plays on a stream of its own, a longer one on a player.
        QTRY_VERIFY_WITH_TIMEOUT(startSeen, 10000);
        QCOMPARE(onStream, endMs - trimIn * 1000 <= AudioEngine::kShortSoundMs);
        if (!press.isEmpty()) {
            pressAndHear(e, b, sink, rec, seconds, press, retried, lateness);
            return;
        }
        // The sink suspended and resumed, without holding this loop back;
        // running again whatever this run ends with.
        QProcess hold;
        const auto resume = qScopeGuard([&] {
            if (heldMs > 0 && (hold.state() == QProcess::NotRunning || !hold.waitForFinished(10000)))
                QProcess::execute("pactl", {"suspend-sink", sink, "0"});
        });
        if (heldMs > 0) {
            QTRY_VERIFY_WITH_TIMEOUT(rec.mixedMs() - playedAt >= 5000, 20000);
            hold.start("sh", {"-c", QStringLiteral("pactl suspend-sink %1 1 && sleep %2 && pactl suspend-sink %1 0")
                                        .arg(sink)
                                        .arg(heldMs / 1000.0)});
        }
        qint64 pressedAt = -1;
        if (stopFade > 0)
            stopWhenHeard(e, rec, trimIn * 1000 + 1000, endMs - 1000, stopFade, &pressedAt);
        QVERIFY(stopped.wait(15000 + int(endMs - trimIn * 1000)));
        if (heldMs > 0) {
            QVERIFY(hold.state() == QProcess::NotRunning || hold.waitForFinished(10000));
            QCOMPARE(hold.error(), QProcess::UnknownError);   // started, and ran to its end
            QCOMPARE(hold.exitCode(), 0);
        }
        const qint64 endedAt = rec.mixedMs();   // the last written sound reaches the sink
        QTRY_VERIFY_WITH_TIMEOUT(rec.mixedMs() - endedAt >= 300, 10000);
        const HeardRange r = heardRange(rec.stop(), seconds, 20000);
        QVERIFY2(r.firstMs >= 0, qPrintable(QStringLiteral("nothing heard; the end came %1 ms after the play, on "
                                                           "the sink's clock")
                                                .arg(endedAt - playedAt)));
        if (stopFade > 0) {
            checkStopFade(r, pressedAt, endedAt, stopFade * 1000, e.timing().volumeLeadMs,
                          double(lateness.busyMs()));
            return;
        }

        // Gain against the ramp every 50 ms of each fade. The back end
        // writes the first 200 ms or so of a sound at one level, so a
        // fade-in never rises above its ramp and follows it from 250 ms on.
        QString shape;
        double worstIn = 0, worstOut = 0, aboveRamp = 0;
        for (int k = 0; fadeIn > 0 && k * 50 <= fadeIn * 1000; ++k) {
            const double ideal = k * 50 / (fadeIn * 1000);
            const double g = r.gainAt(trimIn * 1000 + k * 50 + 5);
            shape += QString::number(g, 'f', 2) + " ";
            aboveRamp = std::max(aboveRamp, g - ideal);
            if (k * 50 >= 250)
                worstIn = std::max(worstIn, std::abs(g - ideal));
        }
        // A fade-out's step sets the level due where the step is heard to
        // end: it is heard never above its ramp, and at most a step's hold
        // ahead of it.
        const auto outRamp = [&](double atMs) {
            return std::clamp(1.0 - (atMs - (trimOut - fadeOut) * 1000) / (fadeOut * 1000), 0.0, 1.0);
        };
        for (int k = 0; fadeOut > 0 && k * 50 < fadeOut * 1000; ++k) {
            const double at = (trimOut - fadeOut) * 1000 + k * 50 + 5;
            const double g = r.gainAt(at);
            shape += QString::number(g, 'f', 2) + " ";
            // The first moments are written at one level, as for a fade-in.
            if (at - trimIn * 1000 >= 250)
                worstOut = std::max({worstOut, g - outRamp(at), outRamp(at + AudioEngine::kStepHoldMs) - g});
        }
        const Breaks breaks = breaksIn(r, seconds * 1000);
        // What was heard of the file: the pauses (see breaksIn) were not.
        const double heardMs = (r.lastFrame - r.firstFrame + 1) / 44.1 - breaks.pausedMs;
        qInfo("heard from %.1f ms to %.1f ms (%.1f ms of sound, %.1f ms from the end); breaks: %s (%.1f ms of "
              "pauses); fade gains per 50 ms: %s",
              r.firstMs, r.lastMs, heardMs, r.lastMs - endMs, qPrintable(breaks.text), breaks.pausedMs,
              qPrintable(shape));
        // A start lands on its sample; the ends and fades are timed, and
        // vary by a few ms, more on a busy machine (the faults this guards
        // against were 40 ms and more). Qt's player writes and stops its
        // sound from threads of its own: a machine that holds them back
        // makes it pause (nothing lost) and carries out a stop that much
        // later. So are a range's first moments, once in many runs on a
        // machine with every core busy: the start is placed before the
        // player plays, and nothing of ours was found between them.
        const double late = double(lateness.busyMs());
        qInfo("the event loop ran up to %lld ms late, the process's threads were held up to %lld ms",
              lateness.worstMs(), lateness.threadsHeldMs());
        QCOMPARE_LE(breaks.longestPauseMs, 50.0 + late);
        if (fadeIn == 0 && trimIn > 0)
            QCOMPARE_LE(std::abs(r.firstMs - trimIn * 1000), std::min(5.0 + double(lateness.threadsHeldMs()), 30.0));
        QCOMPARE_LE(aboveRamp, 0.1);
        // A fade-out is timed on the steady clock from the heard start: it
        // reaches silence at the trim-out, whatever the reports did, and the
        // sound is never cut at a level still heard.
        // It is heard falling from its set time, not some steps later.
        if (fadeOut > 0) {
            double cut = 0;
            for (int i = std::max(r.firstFrame, r.lastFrame - 441); i <= r.lastFrame; ++i)
                cut = std::max(cut, r.left(i) / r.fullLevel);
            // Where it falls below 0.93, against where its ramp does.
            const double fadeStart = (trimOut - fadeOut) * 1000;
            double falls = fadeStart - 20;
            while (falls < trimOut * 1000 && r.gainAt(falls) >= 0.93)
                falls += 0.5;
            const double fallsLate = falls - fadeStart - 0.07 * fadeOut * 1000;
            qInfo("the fade-out fell below 0.93 %.1f ms behind its ramp and ended at %.2f of full level in its "
                  "last 10 ms, %.1f ms from the trim-out",
                  fallsLate, cut, r.lastMs - trimOut * 1000);
            QCOMPARE_LE(cut, 0.15 + 2 * late / (fadeOut * 1000));
            QCOMPARE_LE(fallsLate, 12.0 + late);
        }
        if (trimIn == 0 && trimOut == 0) {
            // Ended by itself: every sample, without a break. A file still
            // growing may break while its next part is late (this loop
            // writes it, and can be held back): nothing of it is lost.
            QCOMPARE_LE(r.firstMs, 5.0);
            QCOMPARE_LE(std::abs(r.lastMs - endMs), 5.0);
            if (written == "growing")
                QCOMPARE_GE(heardMs, endMs - 5.0);
            else
                QCOMPARE_LE(std::abs(heardMs - endMs), 5.0);
        } else if (onStream) {
            // Counted in frames: no timer, no write block, no loop to wait on.
            QCOMPARE_LE(std::abs(r.lastMs - endMs), 15.0);
        } else if (fadeOut == 0) {
            // Timed on the sound clock by a timer, which waits on the loop;
            // the back end's stop lands on its next write, 20 ms apart.
            QCOMPARE_LE(std::abs(r.lastMs - endMs), 25.0 + 2 * late);
            // A long range's heard start rests on hundreds of reports, each
            // placing it a little early or late, and follows what is heard
            // when the server falls behind: it never ends more than 15 ms
            // early (a late loop or the next write only make it later).
            if (endMs - trimIn * 1000 >= 10000)
                QCOMPARE_GE(r.lastMs - endMs, -15.0 - breaks.pausedMs);
        }
        if (onStream) {
            // A stream's end is reported once its last frame has been heard,
            // not when it was written (a whole queue, 100 ms, earlier). The
            // recording reaches us in blocks up to 50 ms late.
            const double lastHeardAt = r.lastFrame / 44.1;
            qInfo("the end was reported %.1f ms after the last frame was recorded", endedAt - lastHeardAt);
            QCOMPARE_GE(endedAt - lastHeardAt, -60.0);
        }
        // The fades' steps are placed by the reports and stepped by timers:
        // their shape is judged while the loop keeps time to 50 ms (as on a
        // machine that is not swamped); later than that, only logged.
        if (late > 50) {
            qInfo("the event loop ran %.0f ms late: fade shapes not judged", late);
            return;
        }
        QCOMPARE_LE(worstIn, 0.1 + (fadeIn > 0 ? 2 * late / (fadeIn * 1000) : 0));
        QCOMPARE_LE(worstOut, 0.1 + (fadeOut > 0 ? 2 * late / (fadeOut * 1000) : 0));
    }

    // A stop with a fade is heard falling in steps of 16 ms over the fade,
    // neither held at full level and then cut, nor cut at once.
    void stopFadeFallsInSteps()
    {
        const QString tone = m_dir + "/fade.wav";
        // A pitch no other test plays, measured alone (see levelsPer16ms).
        constexpr double kPitch = 1725.0;
        QVERIFY(TestSupport::writeWav16(tone, TestSupport::sine(kPitch, 4.0, 2, 44100, 0.6), 2, 44100));
        QProcess rec;
        if (!TestSupport::startMonitorRecording(rec))
            QSKIP("no monitor to record");
        AudioEngine e;
        QSignalSpy stopped(&e, &AudioEngine::playStopped);
        e.play(button("fade", tone), QString());
        QSignalSpy positions(&e, &AudioEngine::positionChanged);
        QTRY_VERIFY_WITH_TIMEOUT(!positions.isEmpty() && positions.last().at(1).toLongLong() >= 900, 10000);
        QElapsedTimer clock;
        clock.start();
        e.setButtonFade("fade", 500);
        e.stop("fade");
        QVERIFY(stopped.wait(5000));
        const qint64 stoppedAfter = clock.elapsed();
        QTest::qWait(600);
        rec.kill();
        rec.waitForFinished(3000);
        const QVector<double> lv = levelsPer16ms(rec.readAllStandardOutput(), kPitch);
        double full = 0;
        for (double v : lv)
            full = std::max(full, v);
        QVERIFY(full > 3000);
        // From the last window at full level to the first of those that stay
        // silent: the player can pause in its fall (a busy machine holds
        // back the threads that write its sound) and go on where it was.
        int last = -1, silent = -1;
        for (int i = 0; i < lv.size(); ++i) {
            if (lv[i] >= 0.9 * full)
                last = i;
            if (lv[i] >= 0.03 * full)
                silent = i + 1;
        }
        QVERIFY(last >= 0 && silent > last);
        int between = 0;
        for (int i = last; i < silent; ++i)
            between += lv[i] > 0.15 * full && lv[i] < 0.85 * full;
        QString shape;
        for (int i = std::max(0, last - 3); i <= silent; ++i)
            shape += QString::number(int(100 * lv[i] / full)) + " ";
        qInfo() << "stop fade: playStopped after" << stoppedAfter << "ms; fall over" << (silent - last) * 16
                << "ms;" << between << "windows between 15 % and 85 %; levels %:" << shape;
        // A 500 ms linear fall spends about 22 windows of 16 ms between 15 %
        // and 85 %; a late cut spends none or one.
        QCOMPARE_GE(between, 12);
        QCOMPARE_GE((silent - last) * 16, 250);
    }

    // A run of tracks that play one after another, as Auto-Mix plays them:
    // an ended track keeps neither its stream on the sound server nor its
    // decoding threads; what stays is the few players made ready ahead.
    void endedSoundsLetGoOfTheirStreams()
    {
        const QString tone = m_dir + "/short.wav";
        QVERIFY(TestSupport::writeWav16(tone, TestSupport::sine(550, 0.25, 2, 44100, 0.3), 2, 44100));
        AudioEngine e;
        QSignalSpy stopped(&e, &AudioEngine::playStopped);
        const int threadsBefore = threadCount();
        constexpr int kTracks = 16;
        for (int i = 0; i < kTracks; ++i) {
            // Each track its own file, as the rows of a playlist are.
            const QString path = m_dir + QString("/track%1.wav").arg(i);
            QVERIFY(QFile::copy(tone, path) || QFile::exists(path));
            headsRead(path);
            e.play(button(QString("row%1").arg(i), path), QString());
            QVERIFY(stopped.wait(10000));
        }
        QTest::qWait(1000);   // the last re-buffering and the let-go run
        const int streams = int(TestSupport::ownServerStreams().size());
        const int threads = threadCount();
        qInfo() << "after" << kTracks << "tracks:" << streams << "streams," << threads << "threads (" << threadsBefore
                << "before);" << e.bufferTable().size() << "players ready ahead";
        QCOMPARE(e.activeIds().size(), 0);
        // None with FFmpeg; GStreamer keeps one open for each prepared player.
        QCOMPARE_LE(streams, AudioEngine::kRebufferKeep);
        QCOMPARE_LE(e.bufferTable().size(), qsizetype(AudioEngine::kRebufferKeep));
        // About three threads a prepared player.
        QCOMPARE_LE(threads - threadsBefore, 4 * AudioEngine::kRebufferKeep + 4);
    }

    void unplayableFilesEndTheirSlot_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("content");   // empty: no file at all
        QTest::addColumn<bool>("onSink");          // played on an output not the default
        QTest::addColumn<QString>("why");          // what the error says, when it matters
        QTest::addColumn<double>("trimIn");        // the button's trim-in, s
        QTest::addColumn<QString>("header");      // "read" ahead, "unread" at the press, "never read"
        QTest::newRow("missing") << "missing.wav" << QByteArray() << false << "" << 0.0 << "read";
        QTest::newRow("corrupt") << "corrupt.wav" << QByteArray("RIFF\x10\0\0\0WAVEjunkjunkjunkjunk", 24).repeated(40)
                                 << false << "" << 0.0 << "read";
        // Not files at all: refused before the player could hang in open().
        QTest::newRow("named pipe") << "special:pipe" << QByteArray() << false << "" << 0.0 << "read";
        QTest::newRow("/dev/zero behind x.wav") << "special:device" << QByteArray() << false << "" << 0.0 << "read";
        QTest::newRow("folder x.mp3") << "special:folder" << QByteArray() << false << "" << 0.0 << "read";
        QTest::newRow("unix socket") << "special:socket" << QByteArray() << false << "" << 0.0 << "read";
        // A header and no sample: said so, on the default output (where the
        // pre-decoded engine, which decodes nothing from it, leaves it to
        // the players) and on another.
        QTest::newRow("header only") << "hollow.wav" << headerOnlyWav(true) << false << "holds no sound" << 0.0
                                     << "read";
        QTest::newRow("header only, second output") << "hollow2.wav" << headerOnlyWav(true) << true
                                                    << "holds no sound" << 0.0 << "read";
        QTest::newRow("header without a data chunk") << "nodata.wav" << headerOnlyWav(false) << false
                                                     << "holds no sound" << 0.0 << "read";
        // A sound's header over bytes that decode to nothing: its first
        // moments are decoded to tell.
        QTest::newRow("FLAC header over junk") << "junk.flac" << flacHeaderOverJunk() << false
                                               << "sound file this program can read" << 0.0 << "read";
        // Pressed before the header was read: refused as once it is read.
        QTest::newRow("random bytes as mp3, header unread") << "noise-unread.mp3" << randomBytes() << false
                                                            << "sound file this program can read" << 0.0 << "unread";
        QTest::newRow("trim-in past the end, header unread")
            << "past-unread.wav" << toneWav(1.0) << false << "past the end of the file" << 2.0 << "unread";
        QTest::newRow("trim-in past the end, header unread, second output")
            << "past-unread2.wav" << toneWav(1.0) << true << "past the end of the file" << 2.0 << "unread";
        // Its read never answers (a hung share): after a while the press is
        // tried as it is, and fails as a start does.
        QTest::newRow("random bytes as mp3, header never read") << "noise-hung.mp3" << randomBytes() << false << ""
                                                               << 0.0 << "never read";
    }
    void unplayableFilesEndTheirSlot()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, content);
        QFETCH(bool, onSink);
        QFETCH(QString, why);
        QFETCH(double, trimIn);
        QFETCH(QString, header);
        const bool unread = header != QLatin1String("read");
        const bool hung = header == QLatin1String("never read");
        QString path = m_dir + "/" + name;
        const QString device = onSink ? qEnvironmentVariable("TR_PULSE_OWN_SINK") : QString();
        if (onSink && device.isEmpty())
            QSKIP("no sink of its own: start scripts/sound-server (scripts/test does)");
        TestSupport::SpecialFiles special(TestSupport::tempDir());
        if (name.startsWith("special:")) {
            path = special.path(name.mid(8));
            if (path.isEmpty())
                QSKIP("this kind of file cannot be made here");
        }
        if (!content.isEmpty()) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        AudioEngine e;
        QStringList events;
        connect(&e, &AudioEngine::playStarted, &e, [&](const QString& id) { events << "started"; });
        connect(&e, &AudioEngine::playStopped, &e, [&](const QString& id) { events << "stopped"; });
        QString said;
        connect(&e, &AudioEngine::playbackError, &e, [&](const QString& id, const QString& text) {
            QCOMPARE(id, QString("bad"));
            said = text;
            events << "error";
        });
        QSignalSpy stopped(&e, &AudioEngine::playStopped);
        if (unread)
            QVERIFY(!FileHeads::instance()->find(path, nullptr));
        else
            headsRead(path);
        // As the main window starts a button: its own start report follows.
        ButtonData b = button("bad", path);
        b.trimStart = trimIn;
        e.cancelFade("bad");
        FileHeads::instance()->setHeld(unread);   // nothing can be read meanwhile
        const auto release = qScopeGuard([] { FileHeads::instance()->setHeld(false); });
        e.playRapid(b, device);
        e.notifyPlay("bad");
        if (hung) {
            QVERIFY(!e.slotFor("bad"));
            QTimer* wait = e.findChild<QTimer*>(QStringLiteral("headWait"));
            QVERIFY(wait && wait->isActive());
            QCOMPARE(wait->interval(), AudioEngine::kHeadWaitMs);
            QVERIFY(QMetaObject::invokeMethod(wait, "timeout", Qt::DirectConnection));
            QVERIFY(e.slotFor("bad"));
        }
        FileHeads::instance()->setHeld(false);
        QVERIFY(stopped.wait(15000));
        QCOMPARE(events, QStringList({"started", "started", "error", "stopped"}));
        QVERIFY(!said.isEmpty());
        QVERIFY2(said.contains(why), qPrintable(said));
        QVERIFY(!e.isPlaying("bad"));
        QVERIFY(!e.slotFor("bad"));
        QTest::qWait(300);   // later reports of the same failure change nothing
        QCOMPARE(events.size(), 4);
    }
};

QTEST_GUILESS_MAIN(TstAudioEnginePlayback)
#include "tst_audioengine_playback.moc"
