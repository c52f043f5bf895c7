#include "DebugWindow.h"

#include "MediaPlayer.h"
#include <QDateTime>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include "AudioEngine.h"
#include "CrashReport.h"
#include "FileCheck.h"
#include "SessionManager.h"

DebugWindow* DebugWindow::s_instance = nullptr;

namespace {
const char* const kReleasedProperty = "trimTestReleased";
}

DebugWindow* DebugWindow::instance()
{
    if (!s_instance) {
        s_instance = new DebugWindow(nullptr);
        // From now on Qt's debug and warning messages come here.
        CrashReport::setDebugWindowSink(s_instance);
    }
    return s_instance;
}

DebugWindow::DebugWindow(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowStaysOnTopHint)
{
    setWindowTitle(QStringLiteral("Tarvello Debug Log"));
    resize(800, 500);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 6, 6, 6);
    layout->setSpacing(4);

    auto* row = new QHBoxLayout;
    auto button = [this, row](const QString& text) {
        auto* b = new QPushButton(text, this);
        b->setFixedHeight(24);
        row->addWidget(b);
        return b;
    };
    QPushButton* clear = button(QStringLiteral("Clear"));
    QPushButton* testEngine = button(QStringLiteral("Test Audio Engine"));
    QPushButton* testTrimButton = button(QStringLiteral("Test Trim"));
    row->addStretch();
    QPushButton* close = button(QStringLiteral("Close"));
    layout->addLayout(row);

    m_view = new QPlainTextEdit(this);
    m_view->setReadOnly(true);
    m_view->setMaximumBlockCount(kMaxLines);
    QFont mono(QStringLiteral("Consolas"), 9);
    mono.setFixedPitch(true);
    mono.setStyleHint(QFont::Monospace);
    m_view->setFont(mono);
    m_view->setStyleSheet(QStringLiteral(
        "QPlainTextEdit{background:#0D1117;color:#C9D1D9;border:1px solid #30363D;border-radius:4px;"
        "selection-background-color:#264F78;}"));
    layout->addWidget(m_view);

    connect(clear, &QPushButton::clicked, m_view, &QPlainTextEdit::clear);
    connect(close, &QPushButton::clicked, this, &QWidget::hide);
    connect(testEngine, &QPushButton::clicked, this, &DebugWindow::testAudioEngine);
    connect(testTrimButton, &QPushButton::clicked, this, &DebugWindow::testTrim);

    AudioEngine* engine = AudioEngine::instance();
    connect(engine, &AudioEngine::playStarted, this,
            [this](const QString& id) { log(QStringLiteral("PLAY"), QStringLiteral("playStarted: %1").arg(id)); });
    connect(engine, &AudioEngine::playStopped, this,
            [this](const QString& id) { log(QStringLiteral("STOP"), QStringLiteral("playStopped: %1").arg(id)); });

    log(QStringLiteral("INFO"), QStringLiteral("Debug window ready. Press 'Test Audio Engine' to inspect state."));
    log(QStringLiteral("INFO"), QStringLiteral("Press 'Test Trim' to test seek on trimmed buttons."));
}

DebugWindow::~DebugWindow()
{
    if (s_instance == this) {
        CrashReport::setDebugWindowSink(nullptr);
        s_instance = nullptr;
    }
}

MediaPlayer* DebugWindow::trimPlayer() const
{
    return m_trimPlayer;
}

QString DebugWindow::colorFor(const QString& category)
{
    if (category == QLatin1String("ERROR"))
        return QStringLiteral("#FF5555");
    if (category == QLatin1String("TRIM"))
        return QStringLiteral("#FFB86C");
    if (category == QLatin1String("PLAY"))
        return QStringLiteral("#50FA7B");
    if (category == QLatin1String("STOP"))
        return QStringLiteral("#FF79C6");
    if (category == QLatin1String("TEST"))
        return QStringLiteral("#8BE9FD");
    return QStringLiteral("#C9D1D9");
}

QString DebugWindow::formatLine(const QString& stamp, const QString& category, const QString& msg)
{
    const QString color = colorFor(category);
    return QStringLiteral("<span style='color:#6272A4'>[%1]</span> "
                          "<span style='color:%2;font-weight:bold'>[%3]</span> "
                          "<span style='color:%4'>%5</span>")
        .arg(stamp, color, category, color, msg.toHtmlEscaped());
}

void DebugWindow::log(const QString& category, const QString& msg)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz"));
    m_view->appendHtml(formatLine(stamp, category, msg));
    QScrollBar* bar = m_view->verticalScrollBar();
    bar->setValue(bar->maximum());
}

void DebugWindow::testAudioEngine()
{
    const QString tag = QStringLiteral("TEST");
    log(tag, QStringLiteral("=== Audio Engine State ==="));
    log(tag, QStringLiteral("Playing count: %1").arg(AudioEngine::instance()->playingIds().size()));
    int assigned = 0;
    for (const TabData& tab : SessionManager::instance()->session().tabs) {
        for (const ButtonData& b : tab.buttons) {
            if (b.audioPath.isEmpty())
                continue;
            log(tag, QStringLiteral("Button: %1 | trim=%2–%3 | path=%4")
                         .arg(b.name)
                         .arg(b.trimStart, 0, 'f', 3)
                         .arg(b.trimEnd, 0, 'f', 3)
                         .arg(b.audioPath));
            ++assigned;
        }
    }
    log(tag, QStringLiteral("Total assigned buttons: %1").arg(assigned));
}

void DebugWindow::testTrim()
{
    const QString tag = QStringLiteral("TRIM");
    log(tag, QStringLiteral("=== Testing QMediaPlayer seek ==="));

    const ButtonData* found = nullptr;
    for (const TabData& tab : SessionManager::instance()->session().tabs) {
        for (const ButtonData& b : tab.buttons) {
            if (!b.audioPath.isEmpty() && (b.trimStart > 0 || b.trimEnd > 0)) {
                found = &b;
                break;
            }
        }
        if (found)
            break;
    }
    if (!found) {
        log(tag, QStringLiteral("No trimmed buttons found. Assign a button and set trim first."));
        return;
    }
    const ButtonData btn = *found;
    const qint64 startMs = qint64(btn.trimStart * 1000);
    log(tag, QStringLiteral("Found trimmed button: %1").arg(btn.name));
    log(tag, QStringLiteral("  trimStart=%1s  trimEnd=%2s").arg(btn.trimStart, 0, 'f', 3).arg(btn.trimEnd, 0, 'f', 3));
    log(tag, QStringLiteral("  Expected start position: %1 ms").arg(startMs));
    if (FileCheck::kindOf(btn.audioPath) == FileCheck::Kind::NotRegular) {
        log(tag, QStringLiteral("  ERROR: %1: not a regular file").arg(btn.audioPath));
        return;
    }

    auto* player = new MediaPlayer(this);
    auto* output = new MediaOutput(player);
    player->setAudioOutput(output);
    m_trimPlayer = player;

    connect(player, &MediaPlayer::mediaStatusChanged, this, [this, player, btn, startMs, tag](QMediaPlayer::MediaStatus st) {
        if (player->property(kReleasedProperty).toBool())
            return;
        log(tag, QStringLiteral("  mediaStatus -> %1").arg(int(st)));
        if (st == QMediaPlayer::LoadedMedia || st == QMediaPlayer::BufferedMedia) {
            log(tag, QStringLiteral("  Media loaded! Duration=%1ms").arg(player->duration()));
            log(tag, QStringLiteral("  Seeking to %1ms...").arg(startMs));
            player->setPosition(startMs);
            log(tag, QStringLiteral("  Position after seek: %1ms").arg(player->position()));
            player->play();
            log(tag, QStringLiteral("  play() called — listen for audio at trim point"));
            // Both timers belong to the player and go with it.
            auto* stopTimer = new QTimer(player);
            stopTimer->setObjectName(QStringLiteral("trimStopTimer"));
            stopTimer->setSingleShot(true);
            connect(stopTimer, &QTimer::timeout, player, &MediaPlayer::stop);
            stopTimer->start(3000);
            auto* releaseTimer = new QTimer(player);
            releaseTimer->setObjectName(QStringLiteral("trimReleaseTimer"));
            releaseTimer->setSingleShot(true);
            connect(releaseTimer, &QTimer::timeout, this, [this, player] { releaseTrimPlayer(player); });
            releaseTimer->start(3100);
        } else if (st == QMediaPlayer::InvalidMedia) {
            log(tag, QStringLiteral("  ERROR: InvalidMedia — file not found or unsupported!"));
            releaseTrimPlayer(player);
        }
    });
    connect(player, &MediaPlayer::errorOccurred, this,
            [this, player, tag](QMediaPlayer::Error error, const QString& text) {
                if (player->property(kReleasedProperty).toBool())
                    return;
                log(tag, QStringLiteral("  PLAYER ERROR %1: %2").arg(int(error)).arg(text));
                releaseTrimPlayer(player);
            });
    player->setSource(QUrl::fromLocalFile(btn.audioPath));
}

// A player may be asked to go several times (a load reported twice, an error
// after the invalid-media report): only the first request releases it.
void DebugWindow::releaseTrimPlayer(MediaPlayer* player)
{
    if (player->property(kReleasedProperty).toBool())
        return;
    player->setProperty(kReleasedProperty, true);
    disconnect(player, nullptr, this, nullptr);
    player->stop();
    player->deleteLater();
    if (m_trimPlayer == player)
        m_trimPlayer = nullptr;
}
