#include "TrimCanvas.h"

#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "ThemeManager.h"

namespace {

double bounded(double v, double lo, double hi)
{
    if (!(v >= lo)) // NaN lands on the lower bound
        return lo;
    return v > hi ? hi : v;
}

// Largest pixel value a time may map to; keeps far-away times finite as int.
constexpr double kPxLimit = 1.0e7;

const QColor kFadeFill(60, 120, 255, 45);
const QColor kFadeLine(80, 160, 255, 200);
const QColor kFadeDot(80, 160, 255);

// A fade's shaded area, its ramp line and the dot on the ramp's top end;
// only the line and the dot are antialiased.
void drawFadeRamp(QPainter& p, const QPolygon& area, QPoint lineFrom, QPoint lineTo)
{
    const QPoint top = lineFrom.y() < lineTo.y() ? lineFrom : lineTo;
    p.setPen(Qt::NoPen);
    p.setBrush(kFadeFill);
    p.drawPolygon(area);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(kFadeLine, 2));
    p.drawLine(lineFrom, lineTo);
    p.setPen(Qt::NoPen);
    p.setBrush(kFadeDot);
    p.drawEllipse(QRect(top - QPoint(5, 5), top + QPoint(4, 4)));
    p.setRenderHint(QPainter::Antialiasing, false);
}

} // namespace

TrimCanvas::TrimCanvas(QWidget* parent)
    : QWidget(parent)
{
    setMinimumHeight(220);
    setMouseTracking(true);
    setCursor(Qt::ArrowCursor);
}

void TrimCanvas::setWaveform(const QList<float>& peaks)
{
    m_peaks = peaks;
    m_bands.clear();
    update();
}

void TrimCanvas::setPlaceholderText(const QString& text)
{
    m_placeholderText = text;
    update();
}

void TrimCanvas::setWaveformBands(const QList<WaveBar>& bands)
{
    m_bands = bands;
    m_peaks.clear();
    m_peaks.reserve(bands.size());
    for (const WaveBar& b : bands)
        m_peaks.append(b.full);
    update();
}

void TrimCanvas::setDuration(double seconds)
{
    m_duration = std::isfinite(seconds) && seconds > 0 ? seconds : 0.0;
    if (m_trimEnd <= 0)
        m_trimEnd = m_duration;
    update();
}

void TrimCanvas::setTrimStart(double seconds)
{
    m_trimStart = std::isfinite(seconds) ? seconds : 0.0;
    update();
}

void TrimCanvas::setTrimEnd(double seconds)
{
    m_trimEnd = std::isfinite(seconds) ? seconds : 0.0;
    update();
}

void TrimCanvas::setProgress(double fraction)
{
    m_progress = std::isfinite(fraction) ? fraction : 0.0;
    update();
}

void TrimCanvas::setFadeIn(double seconds)
{
    m_fadeIn = std::isfinite(seconds) ? std::clamp(seconds, 0.0, kMaxFade) : 0.0;
    update();
}

void TrimCanvas::setFadeOut(double seconds)
{
    m_fadeOut = std::isfinite(seconds) ? std::clamp(seconds, 0.0, kMaxFade) : 0.0;
    update();
}

void TrimCanvas::setZoom(double zoom)
{
    m_zoom = bounded(zoom, kMinZoom, kMaxZoom);
    m_viewStart = bounded(m_viewStart, 0.0, maxViewStart());
    update();
}

void TrimCanvas::setViewStart(double fraction)
{
    m_viewStart = bounded(fraction, 0.0, maxViewStart());
    update();
}

int TrimCanvas::widthPx() const
{
    return std::max(1, width());
}

double TrimCanvas::xToTime(int x) const
{
    if (m_duration <= 0)
        return 0.0;
    const double t = (double(x) / widthPx() / m_zoom + m_viewStart) * m_duration;
    return bounded(t, 0.0, m_duration);
}

int TrimCanvas::timeToX(double t) const
{
    if (m_duration <= 0)
        return 0;
    const double x = (t / m_duration - m_viewStart) * m_zoom * widthPx();
    return int(bounded(x, -kPxLimit, kPxLimit)); // truncation toward zero
}

void TrimCanvas::startPan(int x)
{
    m_dragMode = DragPan;
    m_dragStartX = x;
    m_dragStartValue = m_viewStart;
    setCursor(Qt::ClosedHandCursor);
}

void TrimCanvas::mousePressEvent(QMouseEvent* e)
{
    const int x = int(e->position().x());
    const bool left = e->button() == Qt::LeftButton;
    if (e->button() == Qt::MiddleButton || (left && (e->modifiers() & Qt::ControlModifier))) {
        startPan(x);
        return;
    }
    if (!left)
        return;

    const bool known = m_duration > 0;
    const double end = effectiveEnd();
    const int startX = known ? timeToX(m_trimStart) : 0;
    const int endX = known ? timeToX(end) : 0;
    const bool hasFadeIn = known && m_fadeIn > 0;
    const bool hasFadeOut = known && m_fadeOut > 0;
    const int fadeInX = hasFadeIn ? timeToX(m_trimStart + m_fadeIn) : 0;
    const int fadeOutX = hasFadeOut ? timeToX(end - m_fadeOut) : 0;

    if (std::abs(x - startX) < kHandleGrabPx) {
        m_dragMode = DragStartHandle;
        setCursor(Qt::SizeHorCursor);
    } else if (std::abs(x - endX) < kHandleGrabPx) {
        m_dragMode = DragEndHandle;
        setCursor(Qt::SizeHorCursor);
    } else if (hasFadeIn && std::abs(x - fadeInX) < kFadeGrabPx) {
        m_dragMode = DragFadeInHandle;
        setCursor(Qt::SizeHorCursor);
    } else if (hasFadeOut && std::abs(x - fadeOutX) < kFadeGrabPx) {
        m_dragMode = DragFadeOutHandle;
        setCursor(Qt::SizeHorCursor);
    } else if (startX + kHandleGrabPx < x && x < endX - kHandleGrabPx && m_zoom <= 1.01) {
        m_dragMode = DragMoveSelection;
        m_dragStartX = x;
        m_dragStartValue = m_trimStart;
        m_dragStartEnd = end;
        setCursor(Qt::ClosedHandCursor);
    } else {
        startPan(x);
    }
}

void TrimCanvas::mouseMoveEvent(QMouseEvent* e)
{
    const int x = int(e->position().x());
    const int w = widthPx();
    const double end = effectiveEnd();

    switch (m_dragMode) {
    case DragStartHandle: {
        const double limit = m_trimEnd > 0 ? m_trimEnd - kMinSelection : m_duration;
        m_trimStart = std::max(0.0, std::min(limit, xToTime(x)));
        emit trimChanged(m_trimStart, m_trimEnd);
        setCursor(Qt::SizeHorCursor);
        update();
        return;
    }
    case DragEndHandle:
        m_trimEnd = std::max(std::min(m_duration, xToTime(x)), m_trimStart + kMinSelection);
        emit trimChanged(m_trimStart, m_trimEnd);
        setCursor(Qt::SizeHorCursor);
        update();
        return;
    case DragMoveSelection: {
        const double length = m_dragStartEnd - m_dragStartValue;
        const double shift = double(x - m_dragStartX) * m_duration / w / m_zoom;
        m_trimStart = std::max(0.0, std::min(m_duration - length, m_dragStartValue + shift));
        m_trimEnd = std::min(m_trimStart + length, m_duration);
        emit trimChanged(m_trimStart, m_trimEnd);
        setCursor(Qt::ClosedHandCursor);
        update();
        return;
    }
    case DragPan:
        m_viewStart = bounded(m_dragStartValue - double(x - m_dragStartX) / w / m_zoom, 0.0, maxViewStart());
        setCursor(Qt::ClosedHandCursor);
        update();
        return;
    case DragFadeInHandle:
        m_fadeIn = std::max(0.0, std::min({end - m_trimStart, kMaxFade, xToTime(x) - m_trimStart}));
        emit fadeInChanged(m_fadeIn);
        setCursor(Qt::SizeHorCursor);
        update();
        return;
    case DragFadeOutHandle:
        m_fadeOut = std::max(0.0, std::min({end - m_trimStart, kMaxFade, end - xToTime(x)}));
        emit fadeOutChanged(m_fadeOut);
        setCursor(Qt::SizeHorCursor);
        update();
        return;
    case DragNone:
        break;
    }

    // Hover: show what a press here would grab.
    Qt::CursorShape shape = Qt::ArrowCursor;
    if (m_duration <= 0) {
        if (std::abs(x) < kHandleGrabPx)
            shape = Qt::SizeHorCursor;
        else if (m_zoom > 1.01)
            shape = Qt::PointingHandCursor;
    } else {
        const int startX = timeToX(m_trimStart);
        const int endX = timeToX(end);
        if (std::abs(x - startX) < kHandleGrabPx || std::abs(x - endX) < kHandleGrabPx)
            shape = Qt::SizeHorCursor;
        else if (startX + kHandleGrabPx < x && x < endX - kHandleGrabPx)
            shape = Qt::OpenHandCursor;
        else if (m_zoom > 1.01)
            shape = Qt::PointingHandCursor;
    }
    setCursor(shape);
    update();
}

void TrimCanvas::mouseReleaseEvent(QMouseEvent*)
{
    m_dragMode = DragNone;
    setCursor(Qt::ArrowCursor);
}

void TrimCanvas::wheelEvent(QWheelEvent* e)
{
    const double factor = e->angleDelta().y() > 0 ? kWheelFactor : 1.0 / kWheelFactor;
    const double oldZoom = m_zoom;
    double newZoom = bounded(oldZoom * factor, kMinZoom, kMaxZoom);
    // Repeated steps out land a hair above 1.0; that is the whole file.
    if (newZoom < kMinZoom + 1e-9)
        newZoom = kMinZoom;
    const double f = e->position().x() / widthPx();
    m_zoom = newZoom;
    m_viewStart = bounded(m_viewStart + f / oldZoom - f / newZoom, 0.0, maxViewStart());
    update();
    e->accept();
}

// What one paint needs to know of the widget and the selection.
struct TrimCanvas::PaintFrame
{
    int w = 0;
    int h = 0;
    double mid = 0;
    double maxH = 0;
    bool known = false;   // the duration is known
    double end = 0;       // the selection's effective end
    int startX = 0;
    int endX = 0;
    QColor accent;
};

void TrimCanvas::paintEvent(QPaintEvent*)
{
    const ThemeColors& tc = ThemeManager::instance()->colors();
    PaintFrame f;
    f.w = width();
    f.h = height();
    f.mid = f.h / 2.0;
    f.maxH = 0.92 * f.mid;
    f.known = m_duration > 0;
    f.end = effectiveEnd();
    f.startX = f.known ? timeToX(m_trimStart) : 0;
    f.endX = f.known ? timeToX(f.end) : 0;
    f.accent = tc.accent;

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, false);

    // The canvas stays dark under light presets.
    QColor bg = tc.bg.darker(125);
    if (bg.lightness() > 60)
        bg = QColor(22, 22, 24);
    p.fillRect(rect(), bg);

    const QLineF midLine(0, f.mid, f.w, f.mid);
    if (m_peaks.isEmpty()) {
        p.setPen(QPen(f.accent.darker(180), 1));
        p.drawLine(midLine);
        paintPlaceholder(p);
    } else {
        paintBars(p, f);
        p.setPen(QPen(QColor(255, 255, 255, 35), 1));
        p.drawLine(midLine);
        paintFades(p, f);
    }
    p.setPen(QPen(QColor(255, 255, 255, 20), 1));
    p.drawLine(midLine);

    if (f.known)
        paintGridAndPlayhead(p, f);
    paintHandles(p, f);
    if (m_zoom > 1.01) {
        QFont hintFont = font();
        hintFont.setPixelSize(10);
        p.setFont(hintFont);
        p.setPen(ThemeManager::readableOn(f.accent.lighter(160), {bg}));
        p.drawText(rect().adjusted(8, 5, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                   QStringLiteral("×%1  ·  drag to pan  |  Ctrl+drag or middle-click").arg(m_zoom, 0, 'f', 1));
    }
}

void TrimCanvas::paintPlaceholder(QPainter& p)
{
    if (m_placeholderText.isEmpty())
        return;
    // Words, not bars: nothing here can be taken for the sound's shape.
    QFont textFont = font();
    textFont.setPixelSize(13);
    textFont.setItalic(true);
    p.setFont(textFont);
    p.setPen(QColor(200, 200, 205));
    const QRect box = rect().adjusted(12, 0, -12, 0);
    const QRect textRect = p.fontMetrics().boundingRect(box, Qt::AlignCenter | Qt::TextWordWrap, m_placeholderText);
    p.fillRect(textRect.adjusted(-8, -4, 8, 4), QColor(22, 22, 24));
    p.drawText(box, Qt::AlignCenter | Qt::TextWordWrap, m_placeholderText);
}

void TrimCanvas::paintBars(QPainter& p, const PaintFrame& f)
{
    // One bar every 3 px: the loudest peak of the file stretch under it.
    const int n = int(m_peaks.size());
    const int count = int(f.w / 3.0);
    QList<float> values(count, 0.0f);
    float largest = 0.0f;
    for (int i = 0; i < count; ++i) {
        const int x = 3 * i;
        const int from = std::max(0, int((double(x) / f.w / m_zoom + m_viewStart) * n));
        const int to = std::min(n, int((double(x + 3) / f.w / m_zoom + m_viewStart) * n) + 1);
        float v = 0.0f;
        for (int k = from; k < to; ++k)
            v = std::max(v, m_peaks.at(k));
        values[i] = v;
        largest = std::max(largest, v);
    }
    const double scale = std::max(double(largest), 0.001);
    QColor dim = f.accent;
    dim.setAlpha(90);
    for (int i = 0; i < count; ++i) {
        const int x = 3 * i;
        const double v = bounded(values.at(i) / scale, 0.0, 1.0);
        const int barH = std::max(1, int(std::pow(v, 2.2) * f.maxH));
        p.fillRect(x, int(f.mid - barH), 2, 2 * barH, (f.startX <= x && x <= f.endX) ? f.accent : dim);
    }
}

void TrimCanvas::paintFades(QPainter& p, const PaintFrame& f)
{
    const int topY = int(f.mid - f.maxH);
    const int midY = int(f.mid);
    const int h = f.h;
    if (m_fadeIn > 0 && f.known) {
        const int fadeEndX = timeToX(std::min(m_trimStart + m_fadeIn, f.end));
        drawFadeRamp(p, {QPoint(f.startX, h), QPoint(f.startX, midY), QPoint(fadeEndX, topY), QPoint(fadeEndX, h)},
                     QPoint(f.startX, h), QPoint(fadeEndX, topY));
    }
    if (m_fadeOut > 0 && f.known) {
        const int fadeStartX = timeToX(std::max(m_trimStart, f.end - m_fadeOut));
        drawFadeRamp(p, {QPoint(fadeStartX, topY), QPoint(fadeStartX, h), QPoint(f.endX, h), QPoint(f.endX, midY)},
                     QPoint(fadeStartX, topY), QPoint(f.endX, h));
    }
    p.setBrush(Qt::NoBrush);
}

void TrimCanvas::paintGridAndPlayhead(QPainter& p, const PaintFrame& f)
{
    const int w = f.w;
    const int h = f.h;
    if (m_zoom > 1.5) {
        p.setPen(QPen(QColor(255, 255, 255, 12), 1));
        for (int i = 1; i <= 9; ++i) {
            const int gx = int(i * w / 10.0);
            p.drawLine(gx, 0, gx, h);
        }
    }
    if (m_progress > 0) {
        const int px = int(bounded((m_progress - m_viewStart) * m_zoom * w, -kPxLimit, kPxLimit));
        if (px >= 0 && px <= w) {
            p.setPen(QPen(Qt::white, 1.5));
            p.drawLine(QPointF(px, 0), QPointF(px, h));
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::white);
            p.drawPolygon(QPolygon({QPoint(px - 5, 0), QPoint(px + 5, 0), QPoint(px, 8)}));
            p.drawPolygon(QPolygon({QPoint(px - 5, h), QPoint(px + 5, h), QPoint(px, h - 8)}));
            p.setBrush(Qt::NoBrush);
        }
    }
}

// Trim handles with their IN and OUT tags.
void TrimCanvas::paintHandles(QPainter& p, const PaintFrame& f)
{
    const int h = f.h;
    p.fillRect(f.startX - 2, 0, 3, h, f.accent);
    p.fillRect(f.endX, 0, 3, h, f.accent);
    QFont tagFont = font();
    tagFont.setPixelSize(10);
    tagFont.setWeight(QFont::Bold);
    p.setFont(tagFont);
    const QRect inTag(f.startX, h - 32, 36, 28);
    const QRect outTag(f.endX - 42, h - 32, 42, 28);
    p.setPen(Qt::NoPen);
    p.setBrush(f.accent);
    p.drawRoundedRect(inTag, 5, 5);
    p.drawRoundedRect(outTag, 5, 5);
    p.setBrush(Qt::NoBrush);
    p.setPen(ThemeManager::readableOn(Qt::white, {f.accent}));
    p.drawText(inTag, Qt::AlignCenter, QStringLiteral("IN"));
    p.drawText(outTag, Qt::AlignCenter, QStringLiteral("OUT"));
}
