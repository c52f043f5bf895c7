#pragma once
#include <QList>
#include <QString>
#include <QWidget>

#include "WaveformDecoder.h"

// The waveform editor of the trim dialog: mirrored peak bars of one file, the
// selected range (trim start to trim end) with its fade ramps, a playhead and
// a zoomed, pannable view. It knows nothing of playback or files: the owner
// feeds it the bars, the duration and the values, and listens to its signals.
// All times are seconds; GUI thread only.
class QPainter;

class TrimCanvas : public QWidget
{
    Q_OBJECT
public:
    enum DragMode {
        DragNone = 0,
        DragStartHandle = 1,
        DragEndHandle = 2,
        DragMoveSelection = 3,
        DragPan = 4,
        DragFadeInHandle = 5,
        DragFadeOutHandle = 6,
    };

    static constexpr int kHandleGrabPx = 16;     // trim handles answer closer than this
    static constexpr int kFadeGrabPx = 12;       // fade handles answer closer than this
    static constexpr double kMinSelection = 0.05;
    static constexpr double kMinZoom = 1.0;
    static constexpr double kMaxZoom = 100.0;
    static constexpr double kWheelFactor = 1.3;
    // The longest fade, as the dialog's fade sliders reach.
    static constexpr double kMaxFade = 5.0;

    explicit TrimCanvas(QWidget* parent = nullptr);

    // Broadband peaks 0..1, one per bar of the whole file; drops any bands.
    void setWaveform(const QList<float>& peaks);
    // Band bars; their broadband values become the drawn peaks.
    void setWaveformBands(const QList<WaveBar>& bands);
    // Words drawn across the canvas while it has no bars (the waveform is
    // still being read, or none could be); empty draws nothing but the line.
    void setPlaceholderText(const QString& text);
    const QString& placeholderText() const { return m_placeholderText; }
    // A trim end not set yet (0 or less) becomes the duration.
    void setDuration(double seconds);
    void setTrimStart(double seconds);
    void setTrimEnd(double seconds);
    // Playhead as a fraction of the whole file; 0 hides it.
    void setProgress(double fraction);
    void setFadeIn(double seconds);
    void setFadeOut(double seconds);
    // Bounded to kMinZoom..kMaxZoom; the view start is kept inside the file.
    void setZoom(double zoom);
    // Fraction of the file at the left edge, bounded to 0..1 - 1/zoom.
    void setViewStart(double fraction);

    const QList<float>& peaks() const { return m_peaks; }
    const QList<WaveBar>& bands() const { return m_bands; }
    double duration() const { return m_duration; }
    double trimStart() const { return m_trimStart; }
    // As stored: 0 or less means "not set".
    double trimEnd() const { return m_trimEnd; }
    // The end the selection really has: trim end when set, else the duration.
    double effectiveEnd() const { return m_trimEnd > 0 ? m_trimEnd : m_duration; }
    double progress() const { return m_progress; }
    double zoom() const { return m_zoom; }
    double viewStart() const { return m_viewStart; }
    double fadeIn() const { return m_fadeIn; }
    double fadeOut() const { return m_fadeOut; }
    DragMode dragMode() const { return m_dragMode; }

    // Seconds under pixel x (0 without a duration), within 0..duration.
    double xToTime(int x) const;
    // Pixel of time t in the current view; may lie outside the widget.
    int timeToX(double t) const;

signals:
    // Emitted by mouse edits (and by the owner's reset), never by the setters.
    void trimChanged(double start, double end);
    void fadeInChanged(double seconds);
    void fadeOutChanged(double seconds);

protected:
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;
    void mouseMoveEvent(QMouseEvent* e) override;
    void wheelEvent(QWheelEvent* e) override;
    void paintEvent(QPaintEvent* e) override;

private:
    struct PaintFrame;
    void paintPlaceholder(QPainter& p);
    void paintBars(QPainter& p, const PaintFrame& f);
    void paintFades(QPainter& p, const PaintFrame& f);
    void paintGridAndPlayhead(QPainter& p, const PaintFrame& f);
    void paintHandles(QPainter& p, const PaintFrame& f);
    int widthPx() const;
    void startPan(int x);
    double maxViewStart() const { return 1.0 - 1.0 / m_zoom; }

    QList<float> m_peaks;
    QList<WaveBar> m_bands;
    QString m_placeholderText;
    double m_duration = 0;
    double m_trimStart = 0;
    double m_trimEnd = 0;
    double m_progress = 0;
    double m_zoom = 1.0;
    double m_viewStart = 0;
    double m_fadeIn = 0;
    double m_fadeOut = 0;
    DragMode m_dragMode = DragNone;
    int m_dragStartX = 0;
    double m_dragStartValue = 0;
    double m_dragStartEnd = 0;
};
