#pragma once
#include <QIcon>
#include <QList>
#include <QWidget>

#include <atomic>
#include <functional>
#include <memory>

#include "WaveformDecoder.h"

class QLabel;
class QPushButton;
class QThreadPool;
class ToolbarWaveformWidget;

// The panel at the top of the music panel that shows what plays, sound
// buttons and music alike: a status dot, the title, the track's waveform with
// the play position, the remaining time and four transport buttons. It plays
// nothing itself; the window feeds it through setTrack and setPosition.
//
// Each new track's waveform is decoded on a pool of the panel's own. A counter
// decides which decode lands: only the result of the newest setTrack reaches
// the strip, whichever decode ends first.
class NowPlayingBar : public QWidget
{
    Q_OBJECT
public:
    enum TransportIcon { Previous = 0, Stop = 1, Play = 2, Next = 3 };

    explicit NowPlayingBar(QWidget* parent = nullptr);
    ~NowPlayingBar() override;

    void setTrack(const QString& title, const QString& path);
    void setPosition(qint64 posMs, qint64 durMs);
    void clearTrack();
    // The second list is not read.
    void setWaveform(const QList<float>& peaks, const QList<float>& second);
    void setWaveformPeaks(const QList<float>& peaks);

    // "m:ss" with the minutes unbounded (an hour is 60:00).
    QString fmtMs(qint64 ms) const;
    void updateDot(bool playing);
    void updateTransportIcons();
    QIcon makeTransportIcon(TransportIcon kind, const QColor& colour, const QSize& size) const;

    ToolbarWaveformWidget* strip() const { return m_strip; }
    QLabel* titleLabel() const { return m_title; }
    QLabel* remainingLabel() const { return m_remaining; }
    QLabel* dot() const { return m_dot; }
    QPushButton* button(TransportIcon kind) const;
    bool hasTrack() const { return m_hasTrack; }
    quint64 waveformGeneration() const { return m_generation; }
    // Bars decoded for each track.
    static constexpr int kBars = 600;

    // The decode that setTrack runs on the pool; null restores
    // WaveformDecoder::decodeBands. Tests put a controllable one here.
    using Decoder = std::function<QList<WaveBar>(const QString& path, int bars)>;
    static void setDecoder(Decoder decoder);
    // The pool the bars are read on. It is not the global pool: Qt's painting
    // spreads large fills over the global pool's threads and waits for them,
    // and a read at idle priority on a busy machine keeps its thread for
    // seconds, so every repaint of the window would wait behind it.
    static QThreadPool* decodePool();

public slots:
    void applyTheme();

signals:
    void prevClicked();
    void stopClicked();
    void playClicked();
    void nextClicked();
    // Declared for callers that want to seek from the bar; never emitted.
    void seekRequested(double fraction);

private:
    // Every change of what the strip shows; an older decode's result is dropped.
    quint64 bumpGeneration();

    QLabel* m_dot = nullptr;
    QLabel* m_title = nullptr;
    ToolbarWaveformWidget* m_strip = nullptr;
    QLabel* m_remaining = nullptr;
    QPushButton* m_buttons[4] = {};
    bool m_hasTrack = false;
    quint64 m_generation = 0;
    // The same counter for the pool jobs: a job that is stale before it
    // starts returns at once. Shared so a job outliving the bar reads it safely.
    std::shared_ptr<std::atomic<quint64>> m_sharedGeneration;
};
