#include "ToolbarWaveformWidget.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

#include "ThemeManager.h"
#include "WaveformPeaks.h"

ToolbarWaveformWidget::ToolbarWaveformWidget(QWidget* parent) : QWidget(parent)
{
    setFixedHeight(56);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(ThemeManager::instance(), &ThemeManager::themeChanged, this, qOverload<>(&QWidget::update));
}

void ToolbarWaveformWidget::setTrack(const QString& title, const QList<float>& peaks)
{
    Q_UNUSED(title);
    m_peaks = WaveformPeaks::cleaned(peaks);
    m_hasTrack = true;
    update();
}

void ToolbarWaveformWidget::setTrackBands(const QString& title, const QList<WaveBar>& bands)
{
    Q_UNUSED(title);
    m_peaks = WaveformPeaks::broadband(bands);
    m_hasTrack = true;
    update();
}

void ToolbarWaveformWidget::clearTrack()
{
    m_peaks.clear();
    m_progress = 0.0;
    m_hasTrack = false;
    update();
}

void ToolbarWaveformWidget::setProgress(double p)
{
    m_progress = p > 1.0 ? 1.0 : (p > 0.0 ? p : 0.0);
    update();
}

void ToolbarWaveformWidget::mousePressEvent(QMouseEvent* e)
{
    if (!m_hasTrack)
        return;
    const int inner = width() - 2 * kMargin;
    const double x = std::round(e->position().x());
    const double f = inner > 0 ? (x - kMargin) / inner : 0.0;
    emit seekRequested(std::clamp(f, 0.0, 1.0));
}

void ToolbarWaveformWidget::paintEvent(QPaintEvent*)
{
    const ThemeColors& c = ThemeManager::instance()->colors();
    const int w = width();
    const int h = height();
    const int W = w - 2 * kMargin;
    const int mid = h / 2;
    const int P = int(m_progress * W) + kMargin;

    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath frame;
    frame.addRoundedRect(QRectF(0, 0, w, h), 8, 8);
    QLinearGradient back(0, 0, 0, h);
    back.setColorAt(0.0, c.bg.darker(130));
    back.setColorAt(1.0, c.bg.darker(200));
    p.fillPath(frame, back);

    if (W > 20 && !m_peaks.isEmpty()) {
        const int N = int(W * 0.25);
        QList<float> v(N);
        float M = 0.001f;
        for (int i = 0; i < N; ++i) {
            v[i] = WaveformPeaks::meanAround(m_peaks, double(i) / N);
            M = std::max(M, v[i]);
        }
        QColor faint = c.accent;
        faint.setAlpha(90);
        p.save();
        p.setClipPath(frame);
        p.setPen(Qt::NoPen);
        for (int i = 0; i < N; ++i) {
            double H = (mid - 2) * 0.97 * std::pow(double(v[i]) / M, 2.2);
            if (!(H > 1.0))
                H = 1.0;
            const int x = kMargin + kPitch * i;
            p.setBrush(P >= x + 2 ? c.accent : faint);
            p.drawRoundedRect(QRectF(x, mid - H, 2, 2 * H), 1, 1);
        }
        p.restore();

        if (m_progress > 0.003 && m_progress < 0.997) {
            p.setRenderHint(QPainter::Antialiasing, false);
            p.setPen(QPen(QColor(255, 255, 255, 220), 1.5));
            p.drawLine(QPointF(P, 2), QPointF(P, h - 2));
            p.setRenderHint(QPainter::Antialiasing, true);
        }
        if (m_progress > 0.002) {
            const double len = m_progress * W;
            QLinearGradient bar(kMargin, 0, kMargin + len, 0);
            bar.setColorAt(0.0, c.accent);
            bar.setColorAt(1.0, c.accent.lighter(140));
            p.setPen(Qt::NoPen);
            p.setBrush(bar);
            p.drawRoundedRect(QRectF(kMargin, h - 2, len, 2), 1, 1);
        }
    }

    if (!m_hasTrack) {
        QFont f = font();
        f.setPixelSize(9);
        p.setFont(f);
        // Muted, but readable over the part of the gradient the text covers.
        const QFontMetrics fm(f);
        const double top = std::clamp(double(mid - fm.height() / 2) / std::max(h, 1), 0.0, 1.0);
        const double bottom = std::clamp(double(mid + fm.height() / 2) / std::max(h, 1), 0.0, 1.0);
        auto groundAt = [&](double t) {
            const QColor a = c.bg.darker(130), b = c.bg.darker(200);
            return QColor::fromRgbF(float(a.redF() + (b.redF() - a.redF()) * t),
                                    float(a.greenF() + (b.greenF() - a.greenF()) * t),
                                    float(a.blueF() + (b.blueF() - a.blueF()) * t));
        };
        // Small, antialiased strokes never reach their full colour: the ink
        // keeps a margin above 4.5 : 1.
        p.setPen(ThemeManager::readableOn(c.textDisabled, {groundAt(top), groundAt(bottom)}, 6.0));
        p.drawText(rect(), Qt::AlignCenter, QStringLiteral("No Track Playing"));
    }

    p.setPen(QPen(c.border.darker(110), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(0.5, 0.5, w - 1, h - 1), 8, 8);
}
