#include "WaveformWidget.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

#include "ThemeManager.h"
#include "WaveformPeaks.h"

namespace {

constexpr double kZoomStep = 1.2;
constexpr double kEase = 0.18;
// Bars reach this share of the half height at full level.
constexpr double kReach = 0.86;

struct Palette
{
    QColor background, played, bars, middle, ticks, playhead, grid, gutter, labels, gutterEdge, zoomLabel;
};

QColor accentAt(const QColor& accent, int alpha)
{
    QColor c = accent;
    c.setAlpha(alpha);
    return c;
}

Palette waveformPalette()
{
    const ThemeColors& c = ThemeManager::instance()->colors();
    Palette p;
    p.background = c.bg;
    p.played = c.accent;
    p.bars = accentAt(c.accent, 90);
    p.middle = accentAt(c.accent, 50);
    p.ticks = accentAt(c.accent, 130);
    p.playhead = QColor(255, 255, 255, 215);
    p.grid = accentAt(c.accent, 14);
    p.gutter = c.bg.darker(115);
    p.gutter.setAlpha(200);
    p.labels = c.textMuted;
    p.gutterEdge = accentAt(c.accent, 110);
    p.zoomLabel = accentAt(c.accent, 150);
    return p;
}

// Moves v 18 % of the way to target; within 0.0005 it takes the target.
// True when it took the step.
bool ease(double& v, double target)
{
    if (std::abs(target - v) <= 0.0005) {
        v = target;
        return false;
    }
    v += (target - v) * kEase;
    return true;
}

double maxOffset(double zoom)
{
    return std::max(0.0, 1.0 - 1.0 / zoom);
}

} // namespace

WaveformWidget::WaveformWidget(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setCursor(Qt::CrossCursor);
    m_timer = new QTimer(this);
    m_timer->setInterval(16);
    connect(m_timer, &QTimer::timeout, this, &WaveformWidget::onTimer);
    connect(ThemeManager::instance(), &ThemeManager::themeChanged, this, [this] {
        m_cacheDirty = true;
        update();
    });
}

void WaveformWidget::setWaveformData(const QList<float>& peaks)
{
    m_peaks = WaveformPeaks::cleaned(peaks);
    m_bands.clear();
    m_cacheDirty = true;
    startTimerIfNeeded();
    update();
}

void WaveformWidget::setWaveformBands(const QList<WaveBar>& bands)
{
    m_bands = bands;
    m_peaks = WaveformPeaks::broadband(bands);
    m_cacheDirty = true;
    startTimerIfNeeded();
    update();
}

void WaveformWidget::startTimerIfNeeded()
{
    if (!m_peaks.isEmpty() && !m_timer->isActive())
        m_timer->start();
}

void WaveformWidget::setProgress(double p)
{
    m_progress = std::isnan(p) ? 0.0 : p;
    update();
}

void WaveformWidget::clear()
{
    m_peaks.clear();
    m_progress = 0.0;
    m_cacheDirty = true;
    m_timer->stop();
    update();
}

float WaveformWidget::samplePeak(double t) const
{
    return WaveformPeaks::meanAround(m_peaks, t);
}

WaveBar WaveformWidget::sampleBand(double t) const
{
    const qsizetype n = m_bands.size();
    if (n == 0 || !std::isfinite(t))
        return {};
    const qsizetype k = qsizetype(std::clamp(t * n, 0.0, double(n - 1)));
    return m_bands[k];
}

float WaveformWidget::applyScale(float v) const
{
    float r = std::min(WaveformPeaks::clean(v), 1.0f);
    if (m_peakMax > 0.00001f)
        r /= m_peakMax;
    r = std::clamp(r, 0.0f, 1.0f);
    return std::pow(r, 2.2f);
}

double WaveformWidget::viewEnd() const
{
    return std::min(m_offset + 1.0 / m_zoom, 1.0);
}

void WaveformWidget::onTimer()
{
    const bool zoomed = ease(m_zoom, m_targetZoom);
    const bool panned = ease(m_offset, m_targetOffset);
    if (zoomed || panned)
        m_cacheDirty = true;
    update();
}

void WaveformWidget::wheelEvent(QWheelEvent* e)
{
    m_targetZoom *= e->angleDelta().y() > 0 ? kZoomStep : 1.0 / kZoomStep;
    m_targetZoom = std::clamp(m_targetZoom, 1.0, kMaxZoom);
    const int W = plotWidth();
    const double f = W > 0 ? (e->position().x() - kGutter) / W : 0.0;
    const double anchor = f / m_zoom + m_offset;
    m_targetOffset = std::clamp(anchor - f / m_targetZoom, 0.0, maxOffset(m_targetZoom));
    m_cacheDirty = true;
    e->accept();
}

void WaveformWidget::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton)
        return;
    m_dragging = true;
    m_pressX = int(e->position().x());
    m_pressOffset = m_offset;
}

void WaveformWidget::mouseMoveEvent(QMouseEvent* e)
{
    if (!m_dragging)
        return;
    const int W = plotWidth();
    if (W <= 0)
        return;
    const double moved = (e->position().x() - m_pressX) / W / m_zoom;
    m_targetOffset = std::clamp(m_pressOffset - moved, 0.0, maxOffset(m_zoom));
    m_cacheDirty = true;
}

void WaveformWidget::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || !m_dragging)
        return;
    m_dragging = false;
    const double x = e->position().x();
    if (std::abs(x - m_pressX) >= 5)
        return;
    const int W = plotWidth();
    const double f = W > 0 ? (x - kGutter) / W : 0.0;
    const double t = m_offset + (viewEnd() - m_offset) * f;
    emit seekRequested(std::clamp(t, 0.0, 1.0));
}

void WaveformWidget::resizeEvent(QResizeEvent* e)
{
    QWidget::resizeEvent(e);
    m_cacheDirty = true;
}

double WaveformWidget::barHalfHeight(int i, int bars) const
{
    const double span = std::min(m_cacheOffset + 1.0 / m_cacheZoom, 1.0) - m_cacheOffset;
    const double t = m_cacheOffset + double(i) / bars * span;
    const double H = applyScale(samplePeak(t)) * (height() * 0.5) * kReach;
    return H > 1.0 ? H : 1.0;
}

void WaveformWidget::rebuildCache()
{
    const int w = width();
    const int h = height();
    if (w <= 0 || h <= 0)
        return;
    ++m_rebuilds;
    const Palette pal = waveformPalette();
    const double mid = h * 0.5;
    const int W = plotWidth();
    m_cacheZoom = m_zoom;
    m_cacheOffset = m_offset;
    const double E = viewEnd();
    const double S = E - m_offset;

    const qreal dpr = devicePixelRatioF();
    m_cache = QPixmap(qRound(w * dpr), qRound(h * dpr));
    m_cache.setDevicePixelRatio(dpr);
    m_cache.fill(pal.background);
    QPainter p(&m_cache);
    p.setRenderHint(QPainter::Antialiasing, false);

    p.setPen(QPen(pal.grid, 1));
    for (double g : {0.33, 0.66, 1.0}) {
        const int y = int(mid - g * mid * kReach);
        p.drawLine(kGutter, y, w, y);
        p.drawLine(kGutter, h - y, w, h - y);
    }

    const int N = W / kBarPitch;
    if (W > 4) {
        m_peakMax = 0.001f;
        for (int i = 0; i < N; ++i)
            m_peakMax = std::max(m_peakMax, samplePeak(m_offset + double(i) / N * S));
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(Qt::NoPen);
        p.setBrush(pal.bars);
        for (int i = 0; i < N; ++i) {
            const double H = barHalfHeight(i, N);
            p.drawRoundedRect(QRectF(kGutter + kBarPitch * i, mid - H, 3, 2 * H), 1.6, 1.6);
        }
        p.setRenderHint(QPainter::Antialiasing, false);
    }

    p.fillRect(QRect(QPoint(kGutter, int(mid)), QPoint(w - 1, int(mid))), pal.middle);

    if (S > 0) {
        for (int k = 0; k <= 50; ++k) {
            const double t = k / 50.0;
            if (t < m_offset || t > E)
                continue;
            const int x = int((t - m_offset) / S * W) + kGutter;
            p.fillRect(QRect(x, 0, 1, 3), pal.ticks);
            p.fillRect(QRect(x, h - 3, 1, 3), pal.ticks);
        }
    }

    p.fillRect(QRect(0, 0, kGutter, h), pal.gutter);
    p.fillRect(QRect(kGutter - 1, 0, 1, h), pal.gutterEdge);

    // Each level stands at the height the bars reach for it: "0" at the full
    // reach above (and below) the middle line, "-60" on the middle line.
    QFont f = font();
    f.setFamily(QStringLiteral("Monospace"));
    f.setPixelSize(7);
    p.setFont(f);
    p.setPen(pal.labels);
    struct Level { double g; const char* text; };
    for (const Level& l : {Level{1.0, "0"}, Level{0.816, "-20"}, Level{0.577, "-40"}, Level{0.0, "-60"}}) {
        const double y = mid - l.g * kReach * mid;
        const QString text = QString::fromLatin1(l.text);
        p.drawText(QRectF(0, y - 4.5, 29, 9), Qt::AlignRight | Qt::AlignVCenter, text);
        if (l.g > 0.05)
            p.drawText(QRectF(0, h - y - 4.5, 29, 9), Qt::AlignRight | Qt::AlignVCenter, text);
    }
    m_cacheDirty = false;
}

void WaveformWidget::paintEvent(QPaintEvent*)
{
    const int w = width();
    const int h = height();
    const Palette pal = waveformPalette();
    QPainter p(this);
    p.fillRect(rect(), pal.background);
    if (w <= 0 || h <= 0)
        return;

    const qreal dpr = devicePixelRatioF();
    if (m_cacheDirty || m_cache.isNull() || m_cache.size() != QSize(qRound(w * dpr), qRound(h * dpr))
        || std::abs(m_cacheZoom - m_zoom) > 0.001 || std::abs(m_cacheOffset - m_offset) > 0.0005)
        rebuildCache();
    p.drawPixmap(0, 0, m_cache);

    const int W = plotWidth();
    const double E = viewEnd();
    const double S = E - m_offset;
    int X;
    if (m_progress < m_offset)
        X = kGutter;
    else if (m_progress > E)
        X = w;
    else
        X = S > 0 ? int((m_progress - m_offset) / S * W) + kGutter : kGutter;

    const double mid = h * 0.5;
    if (W > 4 && X > kGutter) {
        const int N = W / kBarPitch;
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(Qt::NoPen);
        p.setBrush(pal.played);
        for (int i = 0; i < N && kGutter + kBarPitch * i < X; ++i) {
            const double H = barHalfHeight(i, N);
            p.drawRoundedRect(QRectF(kGutter + kBarPitch * i, mid - H, 3, 2 * H), 1.6, 1.6);
        }
        p.setRenderHint(QPainter::Antialiasing, false);
    }

    if (m_progress >= m_offset && m_progress <= E && m_progress > 0.001) {
        QLinearGradient glow(X - 6, 0, X + 6, 0);
        glow.setColorAt(0.0, QColor(255, 255, 255, 0));
        glow.setColorAt(0.5, QColor(255, 255, 255, 40));
        glow.setColorAt(1.0, QColor(255, 255, 255, 0));
        p.fillRect(QRectF(X - 6, 0, 12, h), glow);
        p.setPen(QPen(pal.playhead, 1));
        p.drawLine(X, 0, X, h);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        QPainterPath tri;
        tri.moveTo(X - 4, 0);
        tri.lineTo(X + 4, 0);
        tri.lineTo(X, 8);
        tri.closeSubpath();
        p.drawPath(tri);
        p.setRenderHint(QPainter::Antialiasing, false);
    }

    if (m_zoom > 1.02) {
        QFont f = font();
        f.setPixelSize(9);
        p.setFont(f);
        p.setPen(pal.zoomLabel);
        p.drawText(QPointF(36, 12), QStringLiteral("x%1").arg(m_zoom, 0, 'f', 1));
    }
}
