#pragma once
#include <QList>
#include <QWidget>

#include "WaveformDecoder.h"

// The compact waveform strip of the now-playing bar: the track's bars
// mirrored about the middle line, the played part in the accent colour, a
// playhead and a thin progress bar along the bottom. Without a track it says
// "No Track Playing". Colours are read from the theme at every paint.
class ToolbarWaveformWidget : public QWidget
{
    Q_OBJECT
public:
    explicit ToolbarWaveformWidget(QWidget* parent = nullptr);

    // The title is not shown; it is part of the call for the bar's sake.
    void setTrack(const QString& title, const QList<float>& peaks);
    void setTrackBands(const QString& title, const QList<WaveBar>& bands);
    void clearTrack();
    // Clamped to 0..1 (anything not above 0, NaN included, gives 0).
    void setProgress(double p);

    const QList<float>& peaks() const { return m_peaks; }
    double progress() const { return m_progress; }
    bool hasTrack() const { return m_hasTrack; }

    QSize sizeHint() const override { return {500, 56}; }
    QSize minimumSizeHint() const override { return {120, 56}; }

    // Left and right margin of the bars, and the pitch of one bar.
    static constexpr int kMargin = 8;
    static constexpr int kPitch = 4;

signals:
    // A press on the strip: the fraction of the track under the pointer.
    void seekRequested(double fraction);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    QList<float> m_peaks;
    double m_progress = 0.0;
    bool m_hasTrack = false;
};
