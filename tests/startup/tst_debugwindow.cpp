#include "MediaPlayer.h"
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTimer>
#include <QtTest>

#include "AudioEngine.h"
#include "CrashReport.h"
#include "DebugWindow.h"
#include "SessionManager.h"
#include "TestSupport.h"

namespace {

QStringList lines(DebugWindow& w)
{
    return w.view()->toPlainText().split(QLatin1Char('\n'));
}

// The message part of each line, after "[time] [category] ". The view shows
// HTML, so runs of blanks read as one: messages come back simplified.
QStringList messages(DebugWindow& w, const QString& category)
{
    QStringList out;
    const QString tag = QStringLiteral("[%1] ").arg(category);
    for (const QString& line : lines(w)) {
        const qsizetype at = line.indexOf(tag);
        if (at >= 0)
            out << line.mid(at + tag.size()).simplified();
    }
    return out;
}

ButtonData button(const QString& name, const QString& path, double trimStart, double trimEnd)
{
    ButtonData b;
    b.id = name;
    b.name = name;
    b.audioPath = path;
    b.trimStart = trimStart;
    b.trimEnd = trimEnd;
    return b;
}

void setSession(const QList<QList<ButtonData>>& tabs)
{
    Session& s = SessionManager::instance()->session();
    s.tabs.clear();
    for (const auto& buttons : tabs) {
        TabData t;
        t.buttons = buttons;
        s.tabs << t;
    }
}

} // namespace

class TestDebugWindow : public QObject
{
    Q_OBJECT
private slots:
    void lineFormat()
    {
        QCOMPARE(DebugWindow::formatLine(QStringLiteral("10:11:12.013"), QStringLiteral("PLAY"), QStringLiteral("a<b>")),
                 QStringLiteral("<span style='color:#6272A4'>[10:11:12.013]</span> "
                                "<span style='color:#50FA7B;font-weight:bold'>[PLAY]</span> "
                                "<span style='color:#50FA7B'>a&lt;b&gt;</span>"));
        QCOMPARE(DebugWindow::colorFor(QStringLiteral("ERROR")), QStringLiteral("#FF5555"));
        QCOMPARE(DebugWindow::colorFor(QStringLiteral("error")), QStringLiteral("#C9D1D9"));
        QCOMPARE(DebugWindow::colorFor(QStringLiteral("TRIM")), QStringLiteral("#FFB86C"));
        QCOMPARE(DebugWindow::colorFor(QStringLiteral("STOP")), QStringLiteral("#FF79C6"));
        QCOMPARE(DebugWindow::colorFor(QStringLiteral("TEST")), QStringLiteral("#8BE9FD"));

        DebugWindow w;
        QCOMPARE(w.windowTitle(), QStringLiteral("Tarvello Debug Log"));
        QVERIFY(w.windowFlags() & Qt::WindowStaysOnTopHint);
        QCOMPARE(messages(w, QStringLiteral("INFO")),
                 QStringList({QStringLiteral("Debug window ready. Press 'Test Audio Engine' to inspect state."),
                              QStringLiteral("Press 'Test Trim' to test seek on trimmed buttons.")}));
        w.log(QStringLiteral("X"), QStringLiteral("<b>bold?</b>"));
        QCOMPARE(messages(w, QStringLiteral("X")), QStringList{QStringLiteral("<b>bold?</b>")});
        QRegularExpression stamp(QStringLiteral("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\] \\[X\\] "));
        QVERIFY(stamp.match(lines(w).last()).hasMatch());

        // Engine starts and stops are logged.
        emit AudioEngine::instance()->playStarted(QStringLiteral("id-1"));
        emit AudioEngine::instance()->playStopped(QStringLiteral("id-1"));
        QCOMPARE(messages(w, QStringLiteral("PLAY")), QStringList{QStringLiteral("playStarted: id-1")});
        QCOMPARE(messages(w, QStringLiteral("STOP")), QStringList{QStringLiteral("playStopped: id-1")});

        // Buttons: Clear empties, Close hides.
        w.show();
        for (QPushButton* b : w.findChildren<QPushButton*>()) {
            if (b->text() == QLatin1String("Clear"))
                b->click();
        }
        QCOMPARE(w.view()->toPlainText(), QString());
        for (QPushButton* b : w.findChildren<QPushButton*>()) {
            if (b->text() == QLatin1String("Close"))
                b->click();
        }
        QVERIFY(!w.isVisible());
    }

    void keepsTheLast2000Lines()
    {
        DebugWindow w;
        for (int i = 0; i < 2100; ++i)
            w.log(QStringLiteral("N"), QString::number(i));
        const QStringList all = lines(w);
        QCOMPARE(all.size(), 2000);
        QVERIFY(all.first().endsWith(QLatin1String("[N] 100")));
        QVERIFY(all.last().endsWith(QLatin1String("[N] 2099")));
    }

    // The shared window is where the message handler sends debug and warning
    // messages.
    void receivesQtMessages()
    {
        qInstallMessageHandler(&CrashReport::qtMessageHandler);
        qWarning("before the window exists");
        QCoreApplication::processEvents();
        DebugWindow* w = DebugWindow::instance();
        QCOMPARE(DebugWindow::instance(), w);
        qWarning("a warning for the log");
        qDebug("a note for the log");
        qWarning("ignore this box-shadow warning");
        qCritical("a critical message");
        QCoreApplication::processEvents();
        qInstallMessageHandler(nullptr);
        QCOMPARE(messages(*w, QStringLiteral("WARN")), QStringList{QStringLiteral("a warning for the log")});
        QCOMPARE(messages(*w, QStringLiteral("DBG")), QStringList{QStringLiteral("a note for the log")});
        QVERIFY(!w->view()->toPlainText().contains(QLatin1String("before the window")));
        QVERIFY(!w->view()->toPlainText().contains(QLatin1String("critical")));
    }

    void testAudioEngine()
    {
        DebugWindow w;
        setSession({});
        w.testAudioEngine();
        QCOMPARE(messages(w, QStringLiteral("TEST")),
                 QStringList({QStringLiteral("=== Audio Engine State ==="),
                              QStringLiteral("Playing count: %1").arg(AudioEngine::instance()->playingIds().size()),
                              QStringLiteral("Total assigned buttons: 0")}));

        setSession({{button(QStringLiteral("Intro"), QStringLiteral("/a/intro.wav"), 1.5, 0), ButtonData()},
                    {ButtonData(), button(QStringLiteral("Sting"), QStringLiteral("/a/sting.mp3"), 0, 2.25)}});
        w.view()->clear();
        w.testAudioEngine();
        const QStringList m = messages(w, QStringLiteral("TEST"));
        QCOMPARE(m.mid(2), QStringList({QStringLiteral("Button: Intro | trim=1.500–0.000 | path=/a/intro.wav"),
                                        QStringLiteral("Button: Sting | trim=0.000–2.250 | path=/a/sting.mp3"),
                                        QStringLiteral("Total assigned buttons: 2")}));
    }

    void testTrimFindsAButton()
    {
        DebugWindow w;
        setSession({{button(QStringLiteral("Plain"), QStringLiteral("/a/plain.wav"), 0, 0)}});
        w.testTrim();
        QCOMPARE(messages(w, QStringLiteral("TRIM")),
                 QStringList({QStringLiteral("=== Testing QMediaPlayer seek ==="),
                              QStringLiteral("No trimmed buttons found. Assign a button and set trim first.")}));
        QVERIFY(!w.trimPlayer());

        w.view()->clear();
        setSession({{button(QStringLiteral("Plain"), QStringLiteral("/a/plain.wav"), 0, 0),
                     button(QStringLiteral("NoFile"), QString(), 2, 3)},
                    {button(QStringLiteral("Tail"), toneFile(), 0, 5.0),
                     button(QStringLiteral("Later"), QStringLiteral("/a/later.wav"), 1, 0)}});
        w.testTrim();
        QCOMPARE(messages(w, QStringLiteral("TRIM")).mid(1, 3),
                 QStringList({QStringLiteral("Found trimmed button: Tail"),
                              QStringLiteral("trimStart=0.000s trimEnd=5.000s"),
                              QStringLiteral("Expected start position: 0 ms")}));
        QVERIFY(w.trimPlayer());
    }

    // Load reported twice, then an invalid-media report and an error: the
    // seek runs for each load, and the player is released exactly once.
    // The reports are sent by hand; the FFmpeg back end adds its own as it
    // loads and seeks, so the loads are counted from the log.
    void testTrimReleasesItsPlayerOnce()
    {
        DebugWindow w;
        setSession({{button(QStringLiteral("T"), toneFile(), 0.25, 0)}});
        w.testTrim();
        QPointer<MediaPlayer> player = w.trimPlayer();
        QVERIFY(player);
        int released = 0;
        watchRelease(player, &released);
        auto seeks = [&] {
            return messages(w, QStringLiteral("TRIM")).filter(QStringLiteral("Seeking to 250ms...")).size();
        };
        const qsizetype seeksBefore = seeks();

        emit player->mediaStatusChanged(QMediaPlayer::LoadedMedia);
        emit player->mediaStatusChanged(QMediaPlayer::BufferedMedia);
        QCOMPARE_GE(seeks(), seeksBefore + 2);
        QVERIFY(messages(w, QStringLiteral("TRIM")).contains(QStringLiteral("mediaStatus -> %1").arg(int(QMediaPlayer::BufferedMedia))));
        const QList<QTimer*> stops = player->findChildren<QTimer*>(QStringLiteral("trimStopTimer"));
        const QList<QTimer*> releases = player->findChildren<QTimer*>(QStringLiteral("trimReleaseTimer"));
        QCOMPARE(stops.size(), seeks());
        QCOMPARE(releases.size(), stops.size());
        QCOMPARE(stops[0]->interval(), 3000);
        QCOMPARE(releases[0]->interval(), 3100);

        for (QTimer* t : stops)
            TestSupport::fireTimer(t);
        TestSupport::fireTimer(releases[0]);
        QVERIFY(!w.trimPlayer());
        for (QTimer* t : releases.mid(1))
            TestSupport::fireTimer(t);
        emit player->mediaStatusChanged(QMediaPlayer::InvalidMedia);
        emit player->errorOccurred(QMediaPlayer::ResourceError, QStringLiteral("gone"));
        const QStringList m = messages(w, QStringLiteral("TRIM"));
        QVERIFY(!m.contains(QStringLiteral("ERROR: InvalidMedia — file not found or unsupported!")));
        QVERIFY(!m.contains(QStringLiteral("PLAYER ERROR 1: gone")));
        QTRY_COMPARE(released, 1);
        QVERIFY(!player);
    }

    void testTrimInvalidMediaAndErrors()
    {
        DebugWindow w;
        setSession({{button(QStringLiteral("Odd"), toneFile(), 1, 2)}});
        w.testTrim();
        QPointer<MediaPlayer> p = w.trimPlayer();
        QVERIFY(p);
        int released = 0;
        watchRelease(p, &released);
        emit p->mediaStatusChanged(QMediaPlayer::InvalidMedia);
        emit p->errorOccurred(QMediaPlayer::ResourceError, QStringLiteral("no file"));
        const QStringList m = messages(w, QStringLiteral("TRIM"));
        QVERIFY(m.contains(QStringLiteral("ERROR: InvalidMedia — file not found or unsupported!")));
        QVERIFY(!m.contains(QStringLiteral("PLAYER ERROR 1: no file")));
        QTRY_COMPARE(released, 1);

        w.testTrim();
        QPointer<MediaPlayer> q = w.trimPlayer();
        QVERIFY(q);
        emit q->errorOccurred(QMediaPlayer::FormatError, QStringLiteral("bad"));
        QVERIFY(messages(w, QStringLiteral("TRIM")).contains(QStringLiteral("PLAYER ERROR 2: bad")));
        QTRY_VERIFY(!q);
    }

private:
    // The player cuts its own connections when it goes; a child of it tells.
    static void watchRelease(QObject* player, int* count)
    {
        auto* sentinel = new QObject(player);
        QObject::connect(sentinel, &QObject::destroyed, [count] { ++*count; });
    }

    static QString toneFile()
    {
        static const QString path = [] {
            const QString p = TestSupport::tempDir() + QStringLiteral("/t.wav");
            TestSupport::writeWav16(p, TestSupport::sine(440, 0.5, 2, 44100), 2, 44100);
            return p;
        }();
        return path;
    }
};

QTEST_MAIN(TestDebugWindow)
#include "tst_debugwindow.moc"
