// The now-playing bar: its texts, dot and transport icons, and the waveform
// decode behind each setTrack: only the newest track's bars land, however
// the decodes finish, and bad paths hold no pool thread.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QSemaphore>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <QtTest>

#include <sched.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <thread>

#include "AudioFixture.h"
#include "NowPlayingBar.h"
#include "TestSupport.h"
#include "ThemeManager.h"
#include "ToolbarWaveformWidget.h"
#include "WaveformPeaks.h"

namespace {

// Whether a large gradient fill, made on a thread of its own while the
// global pool is narrowed to two threads, ends. If it does not, release()
// lets the held work go so that the fill can end.
bool largeFillEnds(const std::function<void()>& release)
{
    QThreadPool* global = QThreadPool::globalInstance();
    const int threads = global->maxThreadCount();
    global->setMaxThreadCount(2);
    std::atomic<bool> done{false};
    std::thread painter([&done] {
        QImage img(800, 800, QImage::Format_ARGB32_Premultiplied);
        img.fill(Qt::black);
        QPainter p(&img);
        QRadialGradient g(400, 400, 600);
        g.setColorAt(0, QColor(255, 0, 0, 140));
        g.setColorAt(1, Qt::transparent);
        QPainterPath path;
        path.addRoundedRect(QRectF(0, 0, 800, 800), 12, 12);
        p.fillPath(path, g);
        done = true;
    });
    const bool ended = QTest::qWaitFor([&done] { return done.load(); }, 10000);
    if (!ended)
        release();
    painter.join();
    global->setMaxThreadCount(threads);
    return ended;
}

// A decode stand-in that the test lets finish one path at a time. Each
// path's bars carry a level of their own, so the strip tells which landed.
struct Gates
{
    struct Gate
    {
        QSemaphore started;
        QSemaphore go;
    };
    QHash<QString, std::shared_ptr<Gate>> byPath;
    QHash<QString, float> level;

    // A failed check leaves no pool thread waiting for ever.
    ~Gates()
    {
        for (const auto& g : std::as_const(byPath))
            g->go.release(1000);
    }

    std::shared_ptr<Gate> add(const QString& path, float lvl)
    {
        auto g = std::make_shared<Gate>();
        byPath.insert(path, g);
        level.insert(path, lvl);
        return g;
    }
    NowPlayingBar::Decoder decoder()
    {
        // Copies: the pool threads never read the test's tables while it edits them.
        const auto gates = byPath;
        const auto levels = level;
        return [gates, levels](const QString& path, int n) {
            if (auto g = gates.value(path)) {
                g->started.release();
                g->go.acquire();
            }
            return QList<WaveBar>(n, WaveBar{0, 0, 0, levels.value(path)});
        };
    }
};

QList<float> barsOf(const QString& path)
{
    return WaveformPeaks::broadband(WaveformDecoder::decodeBands(path, NowPlayingBar::kBars));
}

bool touch(const QString& path, const QByteArray& bytes = {})
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Every decode job has ended and its result has reached the bar.
void drain()
{
    QVERIFY(NowPlayingBar::decodePool()->waitForDone(60000));
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

QRgb centrePixel(const QIcon& icon, const QSize& size)
{
    const QImage img = icon.pixmap(size).toImage();
    return img.pixel(img.width() / 2, img.height() / 2) & 0xFFFFFF;
}

} // namespace

class TstNowPlayingBar : public QObject
{
    Q_OBJECT
    QString m_dir;
    QString m_long;
    QString m_short;
    QString m_other;

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        ThemeManager::instance()->applyPreset(ThemeManager::Dark);
        m_dir = TestSupport::tempDir();
        // Shapes that differ: a swelling minute, a steady second, a fading second.
        QVector<qint16> swell = TestSupport::sine(440, 60.0, 1, 44100);
        for (qsizetype i = 0; i < swell.size(); ++i)
            swell[i] = qint16(swell[i] * double(i) / swell.size());
        m_long = m_dir + "/long.wav";
        QVERIFY(TestSupport::writeWav16(m_long, swell, 1, 44100));
        m_short = m_dir + "/short.wav";
        QVERIFY(TestSupport::writeWav16(m_short, TestSupport::sine(440, 1.0, 1, 44100), 1, 44100));
        QVector<qint16> fade = TestSupport::sine(220, 1.0, 1, 44100);
        for (qsizetype i = 0; i < fade.size(); ++i)
            fade[i] = qint16(fade[i] * double(fade.size() - i) / fade.size());
        m_other = m_dir + "/fade.wav";
        QVERIFY(TestSupport::writeWav16(m_other, fade, 1, 44100));
        QVERIFY(barsOf(m_short) != barsOf(m_long));
        QVERIFY(barsOf(m_short) != barsOf(m_other));
    }

    void cleanup() { NowPlayingBar::setDecoder(nullptr); }

    void fmtMs_data()
    {
        QTest::addColumn<qint64>("ms");
        QTest::addColumn<QString>("text");
        QTest::newRow("zero") << qint64(0) << "0:00";
        QTest::newRow("under a second") << qint64(999) << "0:00";
        QTest::newRow("75 s") << qint64(75000) << "1:15";
        QTest::newRow("59.9 s") << qint64(59999) << "0:59";
        QTest::newRow("one hour") << qint64(3600000) << "60:00";
        QTest::newRow("ten hours") << qint64(36000000) << "600:00";
    }
    void fmtMs()
    {
        QFETCH(qint64, ms);
        QFETCH(QString, text);
        NowPlayingBar bar;
        QCOMPARE(bar.fmtMs(ms), text);
    }

    void position_data()
    {
        QTest::addColumn<qint64>("pos");
        QTest::addColumn<qint64>("dur");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("shown");
        QTest::addColumn<double>("progress");
        QTest::newRow("75 of 200 s") << qint64(75000) << qint64(200000) << "-2:05 remaining" << true << 0.375;
        QTest::newRow("no duration") << qint64(75000) << qint64(0) << "-0:00 remaining" << false << 0.5;
        QTest::newRow("negative duration") << qint64(1000) << qint64(-5) << "-0:00 remaining" << false << 0.5;
        QTest::newRow("past the end") << qint64(250000) << qint64(200000) << "-0:00 remaining" << true << 1.0;
        QTest::newRow("at the start") << qint64(0) << qint64(61000) << "-1:01 remaining" << true << 0.0;
    }
    void position()
    {
        QFETCH(qint64, pos);
        QFETCH(qint64, dur);
        QFETCH(QString, text);
        QFETCH(bool, shown);
        QFETCH(double, progress);
        NowPlayingBar bar;
        bar.strip()->setProgress(0.5);
        bar.setPosition(pos, dur);
        QCOMPARE(bar.remainingLabel()->text(), text);
        QCOMPARE(bar.remainingLabel()->isHidden(), !shown);
        QCOMPARE(bar.strip()->progress(), progress);
    }

    void title_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("labelWidth");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("room"); // 0: the name fits whole
        const QString longName = QStringLiteral("A very long title of a track that will never fit in the bar at all");
        QTest::newRow("title") << "Morning Theme" << "/m/x.mp3" << 300 << "Morning Theme" << 0;
        QTest::newRow("no title: the file name") << "" << "/m/Song.final.mp3" << 300 << "Song.final" << 0;
        QTest::newRow("no title, no suffix") << "" << "/m/Jingle" << 300 << "Jingle" << 0;
        QTest::newRow("wide label") << longName << "/m/x.mp3" << 120 << longName << 120;
        QTest::newRow("21 px label") << longName << "/m/x.mp3" << 21 << longName << 21;
        QTest::newRow("20 px label: 180 px") << longName << "/m/x.mp3" << 20 << longName << 180;
        QTest::newRow("unlaid label: 180 px") << longName << "/m/x.mp3" << 0 << longName << 180;
    }
    void title()
    {
        QFETCH(QString, title);
        QFETCH(QString, path);
        QFETCH(int, labelWidth);
        QFETCH(QString, shown);
        QFETCH(int, room);
        NowPlayingBar bar;
        bar.titleLabel()->setMinimumWidth(0);
        bar.titleLabel()->resize(labelWidth, 14);
        bar.setTrack(title, path);
        const QFontMetrics fm(bar.titleLabel()->font());
        const QString text = bar.titleLabel()->text();
        if (room == 0) {
            QCOMPARE(text, shown);
        } else {
            QVERIFY(text.endsWith(QChar(0x2026)));
            QVERIFY(shown.startsWith(text.chopped(1)));
            QVERIFY(fm.horizontalAdvance(text) <= room);
            QCOMPARE(text, fm.elidedText(shown, Qt::ElideRight, room));
        }
        QVERIFY(bar.hasTrack());
        QVERIFY(bar.strip()->hasTrack());
        drain();
    }

    void clearTrack()
    {
        NowPlayingBar bar;
        bar.setTrack(QStringLiteral("T"), m_short);
        bar.setPosition(1000, 5000);
        const quint64 g = bar.waveformGeneration();
        bar.clearTrack();
        QCOMPARE(bar.titleLabel()->text(), QStringLiteral("No Track"));
        QVERIFY(bar.remainingLabel()->isHidden());
        QVERIFY(bar.remainingLabel()->text().isEmpty());
        QVERIFY(!bar.strip()->hasTrack());
        QVERIFY(bar.waveformGeneration() > g);
        drain(); // the decode of the cleared track does not come back
        QVERIFY(!bar.strip()->hasTrack());
        QVERIFY(bar.strip()->peaks().isEmpty());
        // Peaks given directly replace what a decode would bring.
        bar.setTrack(QStringLiteral("T"), m_short);
        bar.setWaveformPeaks({0.5f, 0.25f});
        drain();
        QCOMPARE(bar.strip()->peaks(), (QList<float>{0.5f, 0.25f}));
    }

    void playSymbolFollowsTheAccent_data()
    {
        QTest::addColumn<QColor>("accent");
        QTest::addColumn<QRgb>("symbol");
        QTest::newRow("yellow") << QColor::fromRgbF(1.0f, 0.8f, 0.0f) << QRgb(0x111111);
        QTest::newRow("navy") << QColor(0, 0, 128) << QRgb(0xFFFFFF);
        QTest::newRow("mid grey, L 0.35") << QColor::fromRgbF(0.35f, 0.35f, 0.35f) << QRgb(0xFFFFFF);
        QTest::newRow("white") << QColor(Qt::white) << QRgb(0x111111);
    }
    void playSymbolFollowsTheAccent()
    {
        QFETCH(QColor, accent);
        QFETCH(QRgb, symbol);
        NowPlayingBar bar;
        ThemeManager::instance()->setAccent(accent);
        QPushButton* play = bar.button(NowPlayingBar::Play);
        QCOMPARE(play->iconSize(), QSize(44, 30));
        QCOMPARE(centrePixel(play->icon(), play->iconSize()), symbol);
        QVERIFY(play->text().isEmpty());
        const QRgb text = ThemeManager::instance()->colors().text.rgb() & 0xFFFFFF;
        QCOMPARE(centrePixel(bar.button(NowPlayingBar::Stop)->icon(), QSize(36, 30)), text);
        ThemeManager::instance()->applyPreset(ThemeManager::Dark);
    }

    // Each symbol sits inside its button and points the right way.
    void transportShapes()
    {
        NowPlayingBar bar;
        auto image = [&](NowPlayingBar::TransportIcon k) {
            return bar.makeTransportIcon(k, Qt::black, QSize(36, 30)).pixmap(QSize(36, 30)).toImage();
        };
        auto inkedColumns = [](const QImage& img) {
            int first = img.width(), last = -1;
            for (int x = 0; x < img.width(); ++x)
                for (int y = 0; y < img.height(); ++y)
                    if (qAlpha(img.pixel(x, y)) > 128) {
                        first = std::min(first, x);
                        last = std::max(last, x);
                    }
            return std::pair{first, last};
        };
        const QImage prev = image(NowPlayingBar::Previous);
        const QImage next = image(NowPlayingBar::Next);
        const auto [pf, pl] = inkedColumns(prev);
        const auto [nf, nl] = inkedColumns(next);
        QVERIFY(pf > 0 && nl < 35);
        // Mirror images of each other.
        QVERIFY(std::abs(pf - (35 - nl)) <= 1 && std::abs(pl - (35 - nf)) <= 1);
        // The play triangle is taller at its left than at its right.
        const QImage play = image(NowPlayingBar::Play);
        const auto [lf, ll] = inkedColumns(play);
        auto columnHeight = [&](int x) {
            int n = 0;
            for (int y = 0; y < 30; ++y)
                n += qAlpha(play.pixel(x, y)) > 128;
            return n;
        };
        QVERIFY(columnHeight(lf + 1) > columnHeight(ll - 1));
        QCOMPARE(qAlpha(image(NowPlayingBar::Stop).pixel(18, 15)), 255);
        QCOMPARE(qAlpha(image(NowPlayingBar::TransportIcon(7)).pixel(18, 15)), 0);
    }

    void iconsAtTheDevicePixelRatio()
    {
        NowPlayingBar bar;
        const QIcon icon = bar.makeTransportIcon(NowPlayingBar::Play, Qt::white, QSize(44, 30));
        const qreal r = bar.devicePixelRatioF();
        const QPixmap pm = icon.pixmap(QSize(44, 30), r);
        QCOMPARE(pm.size(), QSize(qRound(44 * r), qRound(30 * r)));
    }

    void themeChangeKeepsTheDot_data()
    {
        QTest::addColumn<int>("preset");
        QTest::addColumn<bool>("track");
        for (int p : {int(ThemeManager::Dark), int(ThemeManager::LightClassic), int(ThemeManager::NavyOrange)}) {
            QTest::addRow("preset %d idle", p) << p << false;
            QTest::addRow("preset %d playing", p) << p << true;
        }
    }
    void themeChangeKeepsTheDot()
    {
        QFETCH(int, preset);
        QFETCH(bool, track);
        NowPlayingBar bar;
        if (track)
            bar.setTrack(QStringLiteral("T"), QString());
        ThemeManager::instance()->applyPreset(ThemeManager::Preset(preset));
        const ThemeColors& c = ThemeManager::instance()->colors();
        const QString dot = bar.dot()->styleSheet();
        if (track)
            QCOMPARE(dot, QStringLiteral("background:%1;border-radius:5px;").arg(c.accent.name()));
        else
            QCOMPARE(dot, QStringLiteral("background:%1;border-radius:4px;").arg(c.textMuted.name()));
        QVERIFY(bar.titleLabel()->styleSheet().contains(c.text.name()));
        QVERIFY(bar.button(NowPlayingBar::Play)->styleSheet().contains(c.accentPressed.name()));
        ThemeManager::instance()->applyPreset(ThemeManager::Dark);
        drain();
    }

    void buttonsEmitTheirSignals()
    {
        NowPlayingBar bar;
        QStringList heard;
        connect(&bar, &NowPlayingBar::prevClicked, [&] { heard << "prev"; });
        connect(&bar, &NowPlayingBar::stopClicked, [&] { heard << "stop"; });
        connect(&bar, &NowPlayingBar::playClicked, [&] { heard << "play"; });
        connect(&bar, &NowPlayingBar::nextClicked, [&] { heard << "next"; });
        for (auto k : {NowPlayingBar::Next, NowPlayingBar::Previous, NowPlayingBar::Play, NowPlayingBar::Stop})
            bar.button(k)->click();
        QCOMPARE(heard, (QStringList{"next", "prev", "play", "stop"}));
    }

    // Two tracks in a row, real files: the second's bars, whichever decode ends first.
    void newestTrackWins_data()
    {
        QTest::addColumn<bool>("longFirst");
        QTest::newRow("long then short") << true;
        QTest::newRow("short then long") << false;
    }
    void newestTrackWins()
    {
        QFETCH(bool, longFirst);
        const QString first = longFirst ? m_long : m_short;
        const QString second = longFirst ? m_short : m_long;
        NowPlayingBar bar;
        bar.setTrack(QString(), first);
        bar.setTrack(QString(), second);
        drain();
        QCOMPARE(bar.strip()->peaks(), barsOf(second));
        QCOMPARE(bar.titleLabel()->text(), longFirst ? QStringLiteral("short") : QStringLiteral("long"));
    }

    // The same with the order of finishing forced.
    void finishingOrder_data()
    {
        QTest::addColumn<bool>("olderFinishesFirst");
        QTest::newRow("older first") << true;
        QTest::newRow("newer first") << false;
    }
    void finishingOrder()
    {
        QFETCH(bool, olderFinishesFirst);
        Gates gates;
        const QString a = m_dir + "/gate-a.wav";
        const QString b = m_dir + "/gate-b.wav";
        QVERIFY(touch(a) && touch(b));
        auto ga = gates.add(a, 0.25f);
        auto gb = gates.add(b, 0.75f);
        NowPlayingBar::setDecoder(gates.decoder());
        NowPlayingBar bar;
        bar.setTrack(QStringLiteral("A"), a);
        QVERIFY(ga->started.tryAcquire(1, 10000)); // A decodes
        bar.setTrack(QStringLiteral("B"), b);
        QVERIFY(gb->started.tryAcquire(1, 10000)); // B decodes too
        // Reads held like these, at idle priority on a busy machine, must
        // not hold the window's painting, which spreads a large fill over
        // the global pool and waits for it (narrowed to as many threads as
        // reads are held).
        QVERIFY(largeFillEnds([&] {
            ga->go.release();
            gb->go.release();
        }));
        const QList<float> bBars(NowPlayingBar::kBars, 0.75f);
        if (olderFinishesFirst) {
            ga->go.release();
            QTRY_VERIFY(NowPlayingBar::decodePool()->activeThreadCount() <= 1);
            drain_one();
            QVERIFY(bar.strip()->peaks().isEmpty());
            gb->go.release();
        } else {
            gb->go.release();
            QTRY_COMPARE(bar.strip()->peaks(), bBars);
            ga->go.release();
        }
        drain();
        QCOMPARE(bar.strip()->peaks(), bBars);
    }

    // A thousand presses in a row: stale jobs end at once, the event loop
    // keeps turning and the last track's bars arrive.
    void thousandTracks()
    {
        NowPlayingBar bar;
        int ticks = 0;
        QTimer tick;
        tick.setInterval(0);
        connect(&tick, &QTimer::timeout, [&] { ++ticks; });
        tick.start();
        for (int i = 0; i < 1000; ++i)
            bar.setTrack(QString(), i % 2 ? m_short : m_other);
        QTRY_COMPARE_WITH_TIMEOUT(bar.strip()->peaks(), barsOf(m_short), 30000);
        QVERIFY(ticks > 0);
        drain();
        QCOMPARE(bar.strip()->peaks(), barsOf(m_short));
    }

    void deletedWhileDecoding()
    {
        Gates gates;
        const QString a = m_dir + "/gate-del.wav";
        QVERIFY(touch(a));
        auto ga = gates.add(a, 0.5f);
        NowPlayingBar::setDecoder(gates.decoder());
        QPointer<NowPlayingBar> bar = new NowPlayingBar;
        bar->setTrack(QString(), a);
        QVERIFY(ga->started.tryAcquire(1, 10000));
        delete bar;
        ga->go.release();
        drain();
        QVERIFY(!bar);

        // And with a real decode under way.
        NowPlayingBar::setDecoder(nullptr);
        auto* real = new NowPlayingBar;
        real->setTrack(QString(), m_long);
        delete real;
        drain();
    }

    void badPaths_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* k : {"missing", "folder", "named pipe", "empty file", "truncated mp3",
                              "wav claiming more data", "unsupported suffix", "empty path"})
            QTest::newRow(k) << QString::fromLatin1(k);
    }
    void badPaths()
    {
        QFETCH(QString, kind);
        const QString dir = TestSupport::tempDir();
        QString path;
        if (kind == "missing") {
            path = dir + "/none.wav";
        } else if (kind == "folder") {
            path = dir + "/folder.wav";
            QVERIFY(QDir().mkdir(path));
        } else if (kind == "named pipe") {
            path = dir + "/pipe.wav";
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == "empty file") {
            path = dir + "/empty.mp3";
            QVERIFY(touch(path));
        } else if (kind == "truncated mp3") {
            if (!AudioFixture::hasEncoder(AudioFixture::Codec::Mp3))
                QSKIP("no MP3 encoder in this libavcodec");
            path = dir + "/cut.mp3";
            QVERIFY(AudioFixture::encode(path, AudioFixture::Codec::Mp3, TestSupport::sine(440, 2.0, 2, 44100), 2, 44100));
            QFile f(path);
            QVERIFY(f.resize(200));
        } else if (kind == "wav claiming more data") {
            path = dir + "/claims.wav";
            QVERIFY(TestSupport::writeWav16(path, {}, 1, 44100));
            QFile f(path);
            QVERIFY(f.open(QIODevice::ReadWrite));
            f.seek(40);
            const quint32 claimed = 10u << 20;
            f.write(reinterpret_cast<const char*>(&claimed), 4);
        } else if (kind == "unsupported suffix") {
            // Other suffixes go through FFmpeg, which reads the content: text
            // under a sound's name gives no bars.
            path = dir + "/tone.ogg";
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray("not a sound at all\n").repeated(300));
        }
        NowPlayingBar bar;
        bar.setTrack(QStringLiteral("Bad"), path);
        QVERIFY(NowPlayingBar::decodePool()->waitForDone(10000)); // nothing left waiting
        drain();
        QVERIFY(bar.strip()->hasTrack());
        QVERIFY(bar.strip()->peaks().isEmpty());
        QCOMPARE(bar.titleLabel()->text(), QStringLiteral("Bad"));
        // A good decode right after completes.
        bar.setTrack(QString(), m_short);
        QTRY_COMPARE_WITH_TIMEOUT(bar.strip()->peaks(), barsOf(m_short), 10000);
    }

    // The job runs at idle priority and gives its pool thread back as it was.
    void poolThreadPriorityIsRestored()
    {
        QThreadPool* pool = NowPlayingBar::decodePool();
        QVERIFY(pool->waitForDone(10000));
        const int threads = pool->maxThreadCount();
        pool->setMaxThreadCount(1);
        // Read on the pool thread itself (waiting on a future could run the job here).
        auto policyOfPoolThread = [pool] {
            std::atomic<int> policy{-1};
            pool->start([&policy] { policy = sched_getscheduler(0); });
            pool->waitForDone();
            return policy.load();
        };
        const int before = policyOfPoolThread();
        std::atomic<int> during{-1};
        NowPlayingBar::setDecoder([&during](const QString&, int n) {
            during = sched_getscheduler(0);
            return QList<WaveBar>(n);
        });
        NowPlayingBar bar;
        bar.setTrack(QString(), m_short);
        const int after = policyOfPoolThread();
        pool->setMaxThreadCount(threads);
        drain();
        QCOMPARE(after, before);
        if (geteuid() == 0)
            QCOMPARE(during.load(), SCHED_IDLE);
        else
            QVERIFY(during == SCHED_IDLE || during == before);
    }

    // A two-hour file: its bars arrive while the event loop keeps turning.
    void twoHourFile()
    {
        const QString path = m_dir + "/two-hours.wav";
        QVERIFY(writeLongWav(path, 2 * 3600, 4000));
        NowPlayingBar bar;
        int ticks = 0;
        QTimer tick;
        tick.setInterval(5);
        connect(&tick, &QTimer::timeout, [&] { ++ticks; });
        tick.start();
        bar.setTrack(QString(), path);
        QTRY_VERIFY_WITH_TIMEOUT(!bar.strip()->peaks().isEmpty(), 120000);
        QVERIFY(ticks > 0);
        QCOMPARE(bar.strip()->peaks().size(), NowPlayingBar::kBars);
        QFile::remove(path);
    }

private:
    // Lets a finished job's result reach the bar without waiting for the others.
    static void drain_one()
    {
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }

    // A mono 16-bit WAV of the given length, written a second at a time.
    static bool writeLongWav(const QString& path, int seconds, int rate)
    {
        const QString head = path + ".head";
        if (!TestSupport::writeWav16(head, {}, 1, rate))
            return false;
        QFile h(head);
        if (!h.open(QIODevice::ReadOnly))
            return false;
        QByteArray header = h.readAll();
        h.close();
        QFile::remove(head);
        const quint32 bytes = quint32(seconds) * quint32(rate) * 2;
        const quint32 riff = bytes + 36;
        memcpy(header.data() + 4, &riff, 4);
        memcpy(header.data() + 40, &bytes, 4);
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(header) != header.size())
            return false;
        const QVector<qint16> second = TestSupport::sine(300, 1.0, 1, rate);
        const QByteArray block(reinterpret_cast<const char*>(second.constData()), second.size() * 2);
        for (int s = 0; s < seconds; ++s)
            if (f.write(block) != block.size())
                return false;
        return true;
    }
};

QTEST_MAIN(TstNowPlayingBar)
#include "tst_nowplayingbar.moc"
