#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>

#include "Modal.h"

namespace TestSupport {

// A fresh empty folder below the test's TMPDIR; removed when the process ends.
QString tempDir();

// Writes a 16-bit PCM WAV file. samples holds interleaved frames.
bool writeWav16(const QString& path, const QVector<qint16>& samples, int channels, int rate);
// A sine tone as interleaved 16-bit samples.
QVector<qint16> sine(double freqHz, double seconds, int channels, int rate, double amplitude = 0.5);

// Answers every modal request with the given function while it lives.
class ModalScript
{
public:
    explicit ModalScript(Modal::Handler handler) { Modal::setHandler(std::move(handler)); }
    ~ModalScript() { Modal::setHandler(nullptr); }
};

} // namespace TestSupport

class QTimer;

namespace TestSupport {

// Stops the timer and runs its timeout now: tests drive timers instead of sleeping.
void fireTimer(QTimer* timer);
// Points AppSettings (native format, user scope) at a fresh folder of this
// process, so suites running at the same time never share a settings file.
void isolateSettings();

} // namespace TestSupport

class QProcess;

namespace TestSupport {

// Records the sound server's null sink: parec on the monitor named by
// TR_PULSE_MONITOR (or on the one given), raw 16-bit stereo 44100 Hz on
// rec's standard output, asking for latencyMs of latency (0: parec's own
// default). The latency a recording asks for is also asked of the sink, so
// it sets how far ahead the sink mixes while nothing else plays. False when
// no monitor is named or parec does not start recording.
bool startMonitorRecording(QProcess& rec, const QString& monitor = QString(), int latencyMs = 20);
// What pactl prints for args, with its untranslated labels; empty when it
// fails.
QByteArray pactl(const QStringList& args);
// The sound server's playback streams made by this process, by index (the
// server numbers every new stream afresh), read with pactl; empty when the
// server cannot be asked.
QList<int> ownServerStreams();


} // namespace TestSupport

namespace TestSupport {

// The first frame of raw 16-bit little-endian stereo whose left sample is
// threshold or more in size, else -1: where a recorded sound begins.
int firstLoudFrame(const char* data, int frames, int threshold);

} // namespace TestSupport

namespace TestSupport {

// An ar archive laid out as a Debian package: "!<arch>\n", a first member
// named firstMember ("debian-binary") holding "2.0\n", then a data member of
// dataBytes bytes of a fixed pattern.
QByteArray debianPackage(int dataBytes, const QByteArray& firstMember = "debian-binary");

// An executable shell script in dir that stands in for a launcher: it writes
// its arguments, one a line, to argsFile (whole, by a rename). shebang picks
// the interpreter. Returns its path, empty when it cannot be written.
QString argumentRecorder(const QString& dir, const QString& argsFile, const QByteArray& shebang = "#!/bin/sh");

// The file's bytes, or "<unreadable>" when it cannot be opened.
QByteArray readFile(const QString& path);
// Writes a fixture file whole; a fixture that cannot be written ends the test run.
void writeFile(const QString& path, const QByteArray& bytes);
// Every name in the folder (hidden ones, pipes and sockets too), sorted.
QStringList folderEntries(const QString& dir);
// Whether a line of the operation log contains part.
bool logged(const QString& part);

} // namespace TestSupport

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

namespace TestSupport {

// Records the monitor (startMonitorRecording) on a thread of its own into
// memory, from start() until stop(), which hands back every byte received.
class MonitorCapture
{
public:
    ~MonitorCapture() { stop(); }
    // False when the recording does not start. An empty monitor is the
    // shared sink's; latencyMs as for startMonitorRecording.
    bool start(const QString& monitor = QString(), int latencyMs = 20);
    QByteArray stop();
    // The sound server's own clock: milliseconds of sound the sink has mixed
    // since the recording started (44.1 kHz stereo s16), as far as it has
    // arrived here. A busy machine does not stretch it, but it runs behind
    // while the recorder or this process waits for the CPU.
    qint64 mixedMs();
    // What the sink has mixed by now, with what is still on its way here.
    // The sink keeps the monotonic clock, so the least delayed arrival of the
    // last second tells how far ahead of what arrived it is now.
    qint64 sinkMs();

private:
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    QByteArray m_data;
    // Each arrival's steady-clock time less the sound it brought the total
    // to, in ms, over the last second.
    std::deque<std::pair<qint64, qint64>> m_arrivals;
};

} // namespace TestSupport

#include <QRgb>
class QImage;
class QRect;

namespace TestSupport {

// The contrast ratio of two colours by their relative luminance (1 to 21).
double contrast(QRgb a, QRgb b);
// The most frequent colour drawn in the rectangle of the image: its ground.
QRgb drawnGround(const QImage& shot, const QRect& r);
// The contrast of what is drawn in the rectangle of the image: its most
// frequent colour is the background, the pixel farthest from it the ink.
double drawnContrast(const QImage& shot, const QRect& r);
// The smallest rectangle holding every pixel in which two images of one size
// differ; empty where they are alike.
QRect changedRect(const QImage& a, const QImage& b);

} // namespace TestSupport
