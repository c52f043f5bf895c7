// The main window's frame: the first session, the DirectSound start, the
// UI-freeze watchdog, the CPU figure, cache heal, the title-bar colour rule
// and the stored accent.
#include <QLabel>
#include <QtTest>

#include "AppSettings.h"
#include "AudioOutput.h"
#include "BufferMixer.h"
#include "ButtonGrid.h"
#include "DirectSoundEngine.h"
#include "MainWindow.h"
#include "MainWindowTestAccess.h"
#include "OpLog.h"
#include "ProcessTimes.h"
#include "SessionManager.h"
#include "ThemeManager.h"
#include "TitleBar.h"

using A = MainWindowTestAccess;

namespace {

bool logHas(const QString& text)
{
    for (const QString& line : OpLog::entriesNewestFirst())
        if (line.contains(text))
            return true;
    return false;
}

int logCount(const QString& text)
{
    int n = 0;
    for (const QString& line : OpLog::entriesNewestFirst())
        n += line.contains(text) ? 1 : 0;
    return n;
}

void setRecent(const QStringList& files)
{
    AppSettings s;
    s.setValue(QStringLiteral("recentFiles"), files);
}

} // namespace

class TestMainWindowFrame : public QObject
{
    Q_OBJECT
    QString audioDir;
    qint64 fakeNow = 0;

private slots:
    void initTestCase()
    {
        TestSupport::isolateSettings();
        audioDir = QDir(TestSupport::tempDir()).filePath(QStringLiteral("audio"));
        MainWindow::setWatchdogClock([this] { return fakeNow; });
    }

    // Runs first, while the process has not opened the button engine yet.
    void directSoundStartsOnARetryAndQueuesTheSession()
    {
        DirectSoundEngine* ds = DirectSoundEngine::instance();
        QVERIFY(!ds->isInitialized());
        bool outputPresent = false;
        ds->setOutputFactory([&outputPresent]() -> std::unique_ptr<AudioOutput> {
            if (!outputPresent)
                return nullptr;
            return AudioOutput::openBackend(AudioOutput::Backend::Null, BufferMixer::outputConfig());
        });
        Session s = MainWindowTest::makeSession(2, 24, audioDir);
        const QString path = QDir(TestSupport::tempDir()).filePath(QStringLiteral("first.vx"));
        QVERIFY(MainWindowTest::writeSession(s, path));
        setRecent({path});

        MainWindow w;
        QCOMPARE(SessionManager::instance()->session().filePath, path);
        QTimer* retry = A::dsInitTimer(&w);
        QVERIFY(retry->isActive());
        QCOMPARE(retry->interval(), 300);
        TestSupport::fireTimer(retry);
        retry->start();   // fireTimer stops it; the window keeps it running
        QVERIFY(!ds->isInitialized());

        outputPresent = true;
        TestSupport::fireTimer(retry);
        QVERIFY(ds->isInitialized());
        QVERIFY(!retry->isActive());
        // The buttons of the open session are decoded without waiting for a
        // heal tick. Every one of them must be ready before the heal is
        // counted: one still decoding would be re-queued as well.
        const QString first = SessionManager::instance()->session().tabs[0].buttons[0].id;
        const auto readyCount = [ds] {
            int n = 0;
            for (const TabData& t : SessionManager::instance()->session().tabs)
                for (const ButtonData& b : t.buttons)
                    n += ds->isReady(b.id) ? 1 : 0;
            return n;
        };
        QTRY_COMPARE_WITH_TIMEOUT(readyCount(), 48, 30000);

        // Cache heal re-queues only what is missing, and says how many.
        ds->evict(first);
        TestSupport::fireTimer(A::cacheHealTimer(&w));
        QVERIFY(logHas(QStringLiteral("[CacheHeal] silently re-queued 1 button(s) for background preload")));
        QTRY_VERIFY_WITH_TIMEOUT(ds->isReady(first), 30000);
        const int before = logCount(QStringLiteral("[CacheHeal]"));
        TestSupport::fireTimer(A::cacheHealTimer(&w));
        QCOMPARE(logCount(QStringLiteral("[CacheHeal]")), before);
        ds->setOutputFactory(nullptr);
    }

    void firstSessionFromRecentFiles()
    {
        setRecent({});
        {
            MainWindow w;
            const Session& s = SessionManager::instance()->session();
            QVERIFY(s.filePath.isEmpty());
            QCOMPARE(s.tabs.size(), 1);
            QCOMPARE(s.tabs[0].name, QStringLiteral("Tab 1"));
            QCOMPARE(w.gridPanels().size(), 1);
            QCOMPARE(w.gridPanels()[0].grid->buttonCount(), 36);
            QVERIFY(A::recIndicator(&w)->isHidden());
            QCOMPARE(w.windowTitle(), QStringLiteral("Tarvello Rododu — Untitled"));
        }
        setRecent({QDir(TestSupport::tempDir()).filePath(QStringLiteral("deleted.vx"))});
        {
            MainWindow w;
            QVERIFY(SessionManager::instance()->session().filePath.isEmpty());
            QCOMPARE(w.gridPanels().size(), 1);
        }
    }

    void watchdogLogsOnlyStallsAbove800ms()
    {
        fakeNow = 10000;
        MainWindow w;
        QTimer* tick = A::freezeTimer(&w);
        QVERIFY(tick->isActive());
        QCOMPARE(tick->interval(), 250);
        const QString stall = QStringLiteral("[UI-FREEZE] main thread stalled ~");
        const int before = logCount(stall);

        fakeNow += 250;
        A::watchdogTick(&w);
        fakeNow += 800;   // exactly the limit
        A::watchdogTick(&w);
        QCOMPARE(logCount(stall), before);

        fakeNow += 1000;
        A::watchdogTick(&w);
        QCOMPARE(logCount(stall), before + 1);
        QCOMPARE(OpLog::entriesNewestFirst().filter(stall).first().section(QLatin1Char(' '), 1),
                 QStringLiteral("[UI-FREEZE] main thread stalled ~1000ms"));

        // The running timer measures from its own previous tick: a loop
        // blocked for 1.5 s shows at the next real tick.
        // Other work of the window may log meanwhile: look at the newest stall line.
        fakeNow += 1500;
        QTRY_COMPARE(logCount(stall), before + 2);
        QVERIFY(OpLog::entriesNewestFirst().filter(stall).first().endsWith(QStringLiteral("~1500ms")));
    }

    void cpuFigure_data()
    {
        QTest::addColumn<quint64>("wall");
        QTest::addColumn<quint64>("busy");
        QTest::addColumn<int>("cpus");
        QTest::addColumn<int>("percent");
        const quint64 twoSeconds = 20000000;
        QTest::newRow("two of eight cores") << twoSeconds << 2 * twoSeconds << 8 << 25;
        QTest::newRow("no wall time") << quint64(0) << quint64(500) << 4 << 0;
        QTest::newRow("clock step") << quint64(10) << quint64(5000) << 1 << 100;
        QTest::newRow("below one") << twoSeconds << twoSeconds / 200 << 1 << 0;
        QTest::newRow("truncates") << quint64(1000) << quint64(459) << 1 << 45;
        QTest::newRow("no processor count") << quint64(100) << quint64(50) << 0 << 50;
    }
    void cpuFigure()
    {
        QFETCH(quint64, wall);
        QFETCH(quint64, busy);
        QFETCH(int, cpus);
        QFETCH(int, percent);
        QCOMPARE(MainWindow::cpuPercent(wall, busy, cpus), percent);
    }

    void cpuLabelFromTheTimer()
    {
        MainWindow w;
        QLabel* label = A::cpuLabel(&w);
        QCOMPARE(label->text(), QStringLiteral("CPU: —"));
        QCOMPARE(A::cpuTimer(&w)->interval(), 2000);
        TestSupport::fireTimer(A::cpuTimer(&w));
        QCOMPARE(label->text(), QStringLiteral("CPU: 0%"));
        TestSupport::fireTimer(A::cpuTimer(&w));
        QVERIFY(QRegularExpression(QStringLiteral("^CPU: \\d{1,3}%$")).match(label->text()).hasMatch());
        QVERIFY(label->styleSheet().startsWith(QStringLiteral("color:#")));
    }

    void processTimes()
    {
        quint64 k0 = 0, u0 = 0;
        QVERIFY(ProcessTimes::processTimes(&k0, &u0));
        volatile double x = 0;
        for (int i = 0; i < 20000000; ++i)
            x = x + i * 0.5;
        quint64 k1 = 0, u1 = 0;
        QVERIFY(ProcessTimes::processTimes(&k1, &u1));
        QVERIFY(k1 + u1 > k0 + u0);
        QVERIFY(ProcessTimes::processorCount() >= 1);
        // 100 ns units of the same clock as the epoch milliseconds.
        const quint64 wall = ProcessTimes::systemTime100ns() / 10000;
        QVERIFY(qAbs(qint64(wall) - QDateTime::currentMSecsSinceEpoch()) < 60000);
    }

    void titleBarColours_data()
    {
        QTest::addColumn<quint32>("bg");
        QTest::addColumn<bool>("dark");
        QTest::newRow("white") << 0xFFFFFFu << false;
        QTest::newRow("128 grey, just above half") << 0x808080u << false;
        QTest::newRow("127 grey") << 0x7F7F7Fu << true;
        QTest::newRow("dark preset") << 0x0F0F12u << true;
        QTest::newRow("pure green is bright") << 0x00FF00u << false;
    }
    void titleBarColours()
    {
        QFETCH(quint32, bg);
        QFETCH(bool, dark);
        QCOMPARE(TitleBar::prefersDarkFrame(bg), dark);
    }

    void titleBarLayer()
    {
        QCOMPARE(TitleBar::toColorRef(0x112233u), 0x332211u);
        QVERIFY(qAbs(TitleBar::luminance(0x00FF00u) - 0.7152) < 1e-9);
        // X11 and Wayland draw the frame themselves.
        QVERIFY(!TitleBar::apply(quintptr(1), TitleBar::Colors{}));
        MainWindow w;
        w.show();
        w.applyTitleBarTheme();   // harmless with or without a native handle
    }

    void defaultOutputGuess()
    {
        const QByteArray usb("usb-headset");
        const QByteArray hda("hda-speakers");
        QCOMPARE(MainWindow::guessDefaultOutput({{QStringLiteral("USB Headset"), usb},
                                                 {QStringLiteral("Speakers (REALTEK Audio)"), hda}}),
                 QString::fromUtf8(hda));
        QCOMPARE(MainWindow::guessDefaultOutput({{QStringLiteral("USB Headset"), usb}}), QString());
        QCOMPARE(MainWindow::guessDefaultOutput({{QStringLiteral("High Definition Audio Device"), hda},
                                                 {QStringLiteral("Realtek"), usb}}),
                 QString::fromUtf8(hda));
    }

    void storedAccentSurvivesThePresetStep()
    {
        ThemeManager* tm = ThemeManager::instance();
        {
            AppSettings s;
            s.setValue(QStringLiteral("appearance/accent"), QStringLiteral("#12ab34"));
        }
        tm->applyPreset(ThemeManager::Dark);
        QCOMPARE(tm->colors().accent, QColor(0xE3, 0x1B, 0x23));
        QVERIFY(MainWindow::reapplyStoredAccent());
        QCOMPARE(tm->colors().accent, QColor(0x12, 0xab, 0x34));
        {
            AppSettings s;
            s.setValue(QStringLiteral("appearance/accent"), QStringLiteral("not a colour"));
        }
        QVERIFY(!MainWindow::reapplyStoredAccent());
        QCOMPARE(tm->colors().accent, QColor(0x12, 0xab, 0x34));
    }
};

QTEST_MAIN(TestMainWindowFrame)
#include "tst_mainwindow_frame.moc"
