#pragma once
#include <QList>
#include <QPixmap>
#include <QWidget>

#include "WaveformDecoder.h"

class QTimer;

// A waveform view that zooms with the wheel, pans by dragging and seeks by
// clicking. The static picture (grid, bars, ticks, scale gutter) is drawn
// into a cache that is redrawn only when the view, the size or the theme
// changes; each repaint adds the played bars, the playhead and the zoom label.
// Zoom and offset ease towards their targets on a 16 ms timer that runs while
// the view holds peaks.
class WaveformWidget : public QWidget
{
    Q_OBJECT
public:
    explicit WaveformWidget(QWidget* parent = nullptr);

    void setWaveformData(const QList<float>& peaks);
    void setWaveformBands(const QList<WaveBar>& bands);
    // Stored as given (a value that is not a number counts as 0).
    void setProgress(double p);
    // Drops the peaks (the bands are kept) and stops the timer.
    void clear();

    // The mean of the three peaks around fraction t of the track.
    float samplePeak(double t) const;
    WaveBar sampleBand(double t) const;
    // Height fraction 0..1 of a peak, against the loudest of the shown range.
    float applyScale(float v) const;

    // Redraws the static picture for the current view and size.
    void rebuildCache();

    double zoom() const { return m_zoom; }
    double offset() const { return m_offset; }
    double targetZoom() const { return m_targetZoom; }
    double targetOffset() const { return m_targetOffset; }
    double progress() const { return m_progress; }
    const QList<float>& peaks() const { return m_peaks; }
    QTimer* animationTimer() const { return m_timer; }
    // How often the static picture has been drawn.
    int cacheRebuilds() const { return m_rebuilds; }

    static constexpr int kGutter = 32;
    static constexpr int kBarPitch = 5;
    static constexpr double kMaxZoom = 32.0;

signals:
    void seekRequested(double t);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    void onTimer();
    void startTimerIfNeeded();
    // The end of the shown range and its length, as fractions of the track.
    double viewEnd() const;
    int plotWidth() const { return width() - kGutter; }
    // Bar i's half height for the view drawn in the cache.
    double barHalfHeight(int i, int bars) const;

    QList<float> m_peaks;
    QList<WaveBar> m_bands;
    float m_peakMax = 0.001f;
    double m_progress = 0.0;
    double m_zoom = 1.0;
    double m_offset = 0.0;
    double m_targetZoom = 1.0;
    double m_targetOffset = 0.0;
    QTimer* m_timer = nullptr;
    bool m_dragging = false;
    int m_pressX = 0;
    double m_pressOffset = 0.0;
    QPixmap m_cache;
    bool m_cacheDirty = true;
    double m_cacheZoom = -1.0;
    double m_cacheOffset = -1.0;
    int m_rebuilds = 0;
};
