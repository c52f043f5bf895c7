#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <cmath>
#include <memory>

namespace TestSupport {

QString tempDir()
{
    static std::vector<std::unique_ptr<QTemporaryDir>> dirs;
    dirs.push_back(std::make_unique<QTemporaryDir>());
    return dirs.back()->path();
}

static void put32(QByteArray& b, quint32 v)
{
    char c[4];
    qToLittleEndian(v, c);
    b.append(c, 4);
}
static void put16(QByteArray& b, quint16 v)
{
    char c[2];
    qToLittleEndian(v, c);
    b.append(c, 2);
}

bool writeWav16(const QString& path, const QVector<qint16>& samples, int channels, int rate)
{
    QByteArray b;
    const quint32 dataBytes = quint32(samples.size()) * 2;
    b.append("RIFF");
    put32(b, 36 + dataBytes);
    b.append("WAVE");
    b.append("fmt ");
    put32(b, 16);
    put16(b, 1);
    put16(b, quint16(channels));
    put32(b, quint32(rate));
    put32(b, quint32(rate * channels * 2));
    put16(b, quint16(channels * 2));
    put16(b, 16);
    b.append("data");
    put32(b, dataBytes);
    for (qint16 s : samples)
        put16(b, quint16(s));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    return f.write(b) == b.size();
}

QVector<qint16> sine(double freqHz, double seconds, int channels, int rate, double amplitude)
{
    const int frames = int(std::lround(seconds * rate));
    QVector<qint16> out;
    out.reserve(frames * channels);
    for (int i = 0; i < frames; ++i) {
        const double v = amplitude * std::sin(2.0 * M_PI * freqHz * i / rate);
        const qint16 s = qint16(std::lround(v * 32767.0));
        for (int c = 0; c < channels; ++c)
            out.push_back(s);
    }
    return out;
}

} // namespace TestSupport

#include <QSettings>
#include <QTimer>

namespace TestSupport {

void fireTimer(QTimer* timer)
{
    if (!timer)
        return;
    timer->stop();
    QMetaObject::invokeMethod(timer, "timeout", Qt::DirectConnection);
}

void isolateSettings()
{
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, tempDir());
}

} // namespace TestSupport

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QProcess>
#include <algorithm>

#include "MonoClock.h"

namespace TestSupport {

bool startMonitorRecording(QProcess& rec, const QString& own, int latencyMs)
{
    const QString monitor = own.isEmpty() ? qEnvironmentVariable("TR_PULSE_MONITOR") : own;
    if (monitor.isEmpty())
        return false;
    QStringList args{"-d", monitor, "--raw", "--format=s16le", "--rate=44100", "--channels=2"};
    if (latencyMs > 0)
        args << QStringLiteral("--latency-msec=%1").arg(latencyMs);
    // Started, connected and running once the first bytes come (later with
    // parec's own, larger, latency). A machine kept busy can take seconds to
    // start parec and the sound server to take it on; a recorder that ends
    // before it has recorded anything is started once more.
    for (int attempt = 0; attempt < 2; ++attempt) {
        rec.start("parec", args);
        if (rec.waitForStarted(30000)) {
            QDeadlineTimer deadline(30000);
            while (rec.bytesAvailable() == 0 && rec.state() == QProcess::Running && !deadline.hasExpired())
                rec.waitForReadyRead(int(std::clamp<qint64>(deadline.remainingTime(), 1, 500)));
            if (rec.bytesAvailable() > 0)
                return true;
        }
        rec.kill();
        rec.waitForFinished(5000);
    }
    return false;
}

QByteArray pactl(const QStringList& args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("LC_ALL", "C");
    p.setProcessEnvironment(env);
    p.start("pactl", args);
    if (!p.waitForFinished(10000) || p.exitCode() != 0)
        return {};
    return p.readAllStandardOutput();
}

QList<int> ownServerStreams()
{
    // Blocks of "Sink Input #N" followed by its properties, among them
    // application.process.id = "PID".
    const QByteArray pid = "application.process.id = \"" + QByteArray::number(QCoreApplication::applicationPid()) + '"';
    QList<int> own;
    int current = -1;
    for (const QByteArray& raw : pactl({"list", "sink-inputs"}).split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith("Sink Input #"))
            current = line.mid(12).toInt();
        else if (line == pid && current >= 0)
            own.append(current);
    }
    return own;
}

} // namespace TestSupport

namespace TestSupport {

int firstLoudFrame(const char* data, int frames, int threshold)
{
    for (int i = 0; i < frames; ++i)
        if (std::abs(int(qFromLittleEndian<qint16>(data + 4 * i))) >= threshold)
            return i;
    return -1;
}

} // namespace TestSupport

namespace TestSupport {

QByteArray debianPackage(int dataBytes, const QByteArray& firstMember)
{
    auto member = [](const QByteArray& name, const QByteArray& data) {
        QByteArray m = name.leftJustified(16, ' ') + QByteArray("0").leftJustified(12, ' ')
            + QByteArray("0").leftJustified(6, ' ') + QByteArray("0").leftJustified(6, ' ')
            + QByteArray("100644").leftJustified(8, ' ') + QByteArray::number(data.size()).leftJustified(10, ' ')
            + "`\n" + data;
        return data.size() % 2 ? m + '\n' : m;
    };
    QByteArray data(dataBytes, '\0');
    for (int i = 0; i < dataBytes; ++i)
        data[i] = char(i * 7 + i / 251);
    return "!<arch>\n" + member(firstMember, "2.0\n") + member("data.tar.xz", data);
}

QString argumentRecorder(const QString& dir, const QString& argsFile, const QByteArray& shebang)
{
    const QString path = dir + QStringLiteral("/fake-launcher");
    QFile f(path);
    const QByteArray out = argsFile.toUtf8();
    if (!f.open(QIODevice::WriteOnly)
        || f.write(shebang + "\nfor a in \"$@\"; do echo \"$a\"; done > '" + out + ".part' && mv '" + out
                   + ".part' '" + out + "'\n")
            < 0)
        return QString();
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

} // namespace TestSupport

#include "OpLog.h"

namespace TestSupport {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write fixture %s", qPrintable(path));
}

QStringList folderEntries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

bool logged(const QString& part)
{
    for (const QString& line : OpLog::entriesNewestFirst())
        if (line.contains(part))
            return true;
    return false;
}

} // namespace TestSupport

namespace TestSupport {

bool MonitorCapture::start(const QString& monitor, int latencyMs)
{
    std::atomic<int> state{0};
    m_stop.store(false);
    m_arrivals.clear();
    m_thread = std::thread([this, &state, monitor, latencyMs] {
        QProcess rec;
        if (!startMonitorRecording(rec, monitor, latencyMs)) {
            state.store(-1);
            return;
        }
        state.store(1);
        while (!m_stop.load()) {
            rec.waitForReadyRead(50);
            const QByteArray b = rec.readAll();
            const qint64 now = MonoClock::system()->nowMs();
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_data.append(b);
            if (!b.isEmpty()) {
                m_arrivals.emplace_back(now, now - qint64(m_data.size()) / 4 * 1000 / 44100);
                while (m_arrivals.size() > 1 && m_arrivals.front().first < now - 1000)
                    m_arrivals.pop_front();
            }
        }
        rec.kill();
        rec.waitForFinished(2000);
    });
    while (state.load() == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (state.load() == 1)
        return true;
    m_thread.join();
    return false;
}

qint64 MonitorCapture::mixedMs()
{
    const std::lock_guard<std::mutex> lock(m_mutex);
    return qint64(m_data.size()) / 4 * 1000 / 44100;
}

qint64 MonitorCapture::sinkMs()
{
    const qint64 now = MonoClock::system()->nowMs();
    const std::lock_guard<std::mutex> lock(m_mutex);
    const qint64 arrived = qint64(m_data.size()) / 4 * 1000 / 44100;
    if (m_arrivals.empty())
        return arrived;
    qint64 leastBehind = m_arrivals.front().second;
    for (const auto& a : m_arrivals)
        leastBehind = std::min(leastBehind, a.second);
    return std::max(arrived, now - leastBehind);
}

QByteArray MonitorCapture::stop()
{
    m_stop.store(true);
    if (m_thread.joinable())
        m_thread.join();
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_data;
}

} // namespace TestSupport

#include <QHash>
#include <QImage>

namespace TestSupport {

namespace {

double relativeLuminance(QRgb c)
{
    auto lin = [](int v) {
        const double x = v / 255.0;
        return x <= 0.03928 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(qRed(c)) + 0.7152 * lin(qGreen(c)) + 0.0722 * lin(qBlue(c));
}

} // namespace

double contrast(QRgb a, QRgb b)
{
    const double la = relativeLuminance(a), lb = relativeLuminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

QRgb drawnGround(const QImage& shot, const QRect& r)
{
    QHash<QRgb, int> counts;
    const QRect in = r.intersected(shot.rect());
    for (int y = in.top(); y <= in.bottom(); ++y)
        for (int x = in.left(); x <= in.right(); ++x)
            ++counts[shot.pixel(x, y) | 0xFF000000u];
    QRgb bg = 0;
    int most = -1;
    for (auto it = counts.constBegin(); it != counts.constEnd(); ++it)
        if (it.value() > most) {
            most = it.value();
            bg = it.key();
        }
    return bg;
}

QRect changedRect(const QImage& a, const QImage& b)
{
    QRect changed;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x)
            if (a.pixel(x, y) != b.pixel(x, y))
                changed |= QRect(x, y, 1, 1);
    return changed;
}

double drawnContrast(const QImage& shot, const QRect& r)
{
    const QRgb bg = drawnGround(shot, r);
    const QRect in = r.intersected(shot.rect());
    double best = 1.0;
    for (int y = in.top(); y <= in.bottom(); ++y)
        for (int x = in.left(); x <= in.right(); ++x)
            best = std::max(best, contrast(bg, shot.pixel(x, y) | 0xFF000000u));
    return best;
}

} // namespace TestSupport
