#include "NowPlayingBar.h"

#include <QFileInfo>
#include <QFontMetrics>
#include <QFutureWatcher>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QPushButton>
#include <QThreadPool>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>

#include "FileCheck.h"
#include "IdlePriority.h"
#include "ThemeManager.h"
#include "ToolbarWaveformWidget.h"

namespace {

NowPlayingBar::Decoder s_decoder;

// A title narrower than this is elided to the fallback width instead: the
// label has not been laid out yet.
constexpr int kNarrowLabelPx = 20;
constexpr int kFallbackTitlePx = 180;

} // namespace

QThreadPool* NowPlayingBar::decodePool()
{
    // Two threads: a new track's bars are read beside a stale read that has
    // not yet ended.
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(2);
        return p;
    }();
    return pool;
}

void NowPlayingBar::setDecoder(Decoder decoder)
{
    s_decoder = std::move(decoder);
}

NowPlayingBar::NowPlayingBar(QWidget* parent)
    : QWidget(parent), m_sharedGeneration(std::make_shared<std::atomic<quint64>>(0))
{
    setObjectName(QStringLiteral("nowPlayingPanel"));
    setMinimumWidth(180);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_StyledBackground, true);

    m_dot = new QLabel(this);
    m_dot->setFixedSize(8, 8);
    m_title = new QLabel(QStringLiteral("No Track"), this);
    m_title->setObjectName(QStringLiteral("npTitle"));
    m_title->setWordWrap(false);
    m_title->setTextFormat(Qt::PlainText);
    m_strip = new ToolbarWaveformWidget(this);
    m_strip->setFixedHeight(60);
    m_strip->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_remaining = new QLabel(this);
    m_remaining->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    m_remaining->hide();

    auto* v = new QVBoxLayout(this);
    v->setContentsMargins(8, 6, 8, 6);
    v->setSpacing(4);
    auto* top = new QHBoxLayout;
    top->setSpacing(6);
    top->addWidget(m_dot);
    top->addWidget(m_title, 1);
    v->addLayout(top);
    v->addWidget(m_strip);
    v->addWidget(m_remaining);
    auto* transport = new QHBoxLayout;
    transport->setContentsMargins(0, 4, 0, 4);
    transport->setSpacing(6);
    transport->addStretch();
    void (NowPlayingBar::*const signalOf[4])() = {&NowPlayingBar::prevClicked, &NowPlayingBar::stopClicked,
                                                  &NowPlayingBar::playClicked, &NowPlayingBar::nextClicked};
    for (int i = 0; i < 4; ++i) {
        auto* b = new QPushButton(this);
        const bool play = i == Play;
        b->setObjectName(play ? QStringLiteral("npPlayBtn") : QStringLiteral("npCtrlBtn"));
        b->setFixedSize(play ? 44 : 36, 30);
        b->setFlat(false);
        connect(b, &QPushButton::clicked, this, signalOf[i]);
        transport->addWidget(b);
        m_buttons[i] = b;
    }
    transport->addStretch();
    v->addLayout(transport);

    connect(ThemeManager::instance(), &ThemeManager::themeChanged, this, &NowPlayingBar::applyTheme);
    applyTheme();
}

NowPlayingBar::~NowPlayingBar()
{
    // Decodes not started yet return at once.
    m_sharedGeneration->fetch_add(1);
}

QPushButton* NowPlayingBar::button(TransportIcon kind) const
{
    return kind >= Previous && kind <= Next ? m_buttons[kind] : nullptr;
}

quint64 NowPlayingBar::bumpGeneration()
{
    ++m_generation;
    m_sharedGeneration->store(m_generation);
    return m_generation;
}

QString NowPlayingBar::fmtMs(qint64 ms) const
{
    const qint32 s = qint32(ms / 1000);
    return QStringLiteral("%1:%2").arg(s / 60).arg(s % 60, 2, 10, QLatin1Char('0'));
}

void NowPlayingBar::setTrack(const QString& title, const QString& path)
{
    m_hasTrack = true;
    const QString name = title.isEmpty() ? QFileInfo(path).completeBaseName() : title;
    const int labelWidth = m_title->width();
    const int room = labelWidth <= kNarrowLabelPx ? kFallbackTitlePx : labelWidth;
    m_title->setText(QFontMetrics(m_title->font()).elidedText(name, Qt::ElideRight, room));
    updateDot(true);
    m_strip->setTrack(name, {});
    // The time shown is the new track's, from its first position on.
    m_strip->setProgress(0.0);
    m_remaining->clear();
    m_remaining->hide();

    const quint64 g = bumpGeneration();
    auto* watcher = new QFutureWatcher<QList<WaveBar>>(this);
    connect(watcher, &QFutureWatcher<QList<WaveBar>>::finished, this, [this, watcher, name, g] {
        if (m_generation == g && m_strip)
            m_strip->setTrackBands(name, watcher->result());
        watcher->deleteLater();
    });
    const std::shared_ptr<std::atomic<quint64>> current = m_sharedGeneration;
    const Decoder decoder = s_decoder;
    watcher->setFuture(QtConcurrent::run(decodePool(), [current, g, path, decoder] {
        QList<WaveBar> bars;
        if (current->load() != g)
            return bars;
        IdlePriorityScope idle;
        // A named pipe or a device would hold the pool thread in open() for ever.
        if (FileCheck::isRegularFile(path))
            bars = decoder ? decoder(path, kBars) : WaveformDecoder::decodeBands(path, kBars);
        return bars;
    }));
}

void NowPlayingBar::setPosition(qint64 posMs, qint64 durMs)
{
    m_remaining->setText(QStringLiteral("-") + fmtMs(std::max<qint64>(durMs - posMs, 0))
                         + QStringLiteral(" remaining"));
    if (durMs > 0 && m_strip)
        m_strip->setProgress(double(posMs) / double(durMs));
    m_remaining->setVisible(durMs > 0);
}

void NowPlayingBar::clearTrack()
{
    m_hasTrack = false;
    bumpGeneration();
    m_title->setText(QStringLiteral("No Track"));
    updateDot(false);
    m_strip->clearTrack();
    m_remaining->clear();
    m_remaining->hide();
}

void NowPlayingBar::setWaveform(const QList<float>& peaks, const QList<float>& second)
{
    Q_UNUSED(second);
    bumpGeneration();
    if (m_strip)
        m_strip->setTrack(m_title ? m_title->text() : QString(), peaks);
}

void NowPlayingBar::setWaveformPeaks(const QList<float>& peaks)
{
    setWaveform(peaks, {});
}

void NowPlayingBar::updateDot(bool playing)
{
    const ThemeColors& c = ThemeManager::instance()->colors();
    m_dot->setStyleSheet(playing ? QStringLiteral("background:") + c.accent.name() + QStringLiteral(";border-radius:5px;")
                                 : QStringLiteral("background:%1;border-radius:4px;").arg(c.textMuted.name()));
}

void NowPlayingBar::applyTheme()
{
    const ThemeColors& c = ThemeManager::instance()->colors();
    updateDot(m_hasTrack);
    m_title->setStyleSheet(QStringLiteral("color:%1;font-size:10px;font-weight:600;").arg(c.text.name()));
    // The bar's ground is the panel surface (the global sheet's nowPlayingPanel).
    m_remaining->setStyleSheet(
        QStringLiteral("color:%1;font-size:9px;font-family:Consolas,monospace;border:none;outline:none;")
            .arg(ThemeManager::readableOn(c.textMuted, {c.surface}).name()));
    const QString ctrl =
        QStringLiteral("QPushButton#npCtrlBtn{  background:%1;  border:1px solid %3; border-radius:8px;}"
                       "QPushButton#npCtrlBtn:hover{  background:%4; border-color:%3;}"
                       "QPushButton#npCtrlBtn:pressed{background:%5;}")
            .arg(c.surface.name(), c.border.name(), c.surfaceAlt.name(), c.bg.name());
    for (TransportIcon k : {Previous, Stop, Next})
        m_buttons[k]->setStyleSheet(ctrl);
    m_buttons[Play]->setStyleSheet(
        QStringLiteral("QPushButton#npPlayBtn{  background:%1;  border:1px solid %2;border-radius:8px;}"
                       "QPushButton#npPlayBtn:hover{background:%3;border-color:%1;}"
                       "QPushButton#npPlayBtn:pressed{background:%2;}")
            .arg(c.accent.name(), c.accentPressed.name(), c.accent.lighter(115).name()));
    updateTransportIcons();
    setAttribute(Qt::WA_StyledBackground, true);
    update();
}

void NowPlayingBar::updateTransportIcons()
{
    const ThemeColors& c = ThemeManager::instance()->colors();
    const QColor a = c.accent;
    const double L = 0.2126 * a.redF() + 0.7152 * a.greenF() + 0.0722 * a.blueF();
    const QColor playColour = L > 0.35 ? QColor(QStringLiteral("#111111")) : QColor(QStringLiteral("#FFFFFF"));
    for (int i = 0; i < 4; ++i) {
        QPushButton* b = m_buttons[i];
        if (!b)
            continue;
        const QSize size = b->size();
        b->setIcon(makeTransportIcon(TransportIcon(i), i == Play ? playColour : c.text, size));
        b->setIconSize(size);
        b->setText(QString());
    }
}

QIcon NowPlayingBar::makeTransportIcon(TransportIcon kind, const QColor& colour, const QSize& size) const
{
    const qreal r = devicePixelRatioF();
    QPixmap pm(qRound(size.width() * r), qRound(size.height() * r));
    pm.setDevicePixelRatio(r);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    const double w = size.width();
    const double h = size.height();
    const double cx = w / 2;
    const double cy = h / 2;
    const double e = 0.62 * std::min(w, h);
    const double t = 0.62 * e;
    auto triangle = [&](QPointF a, QPointF b, QPointF c) {
        QPainterPath path;
        path.moveTo(a);
        path.lineTo(b);
        path.lineTo(c);
        path.closeSubpath();
        p.drawPath(path);
    };
    const double a = 0.45 * t;
    const double b = 0.55 * t;
    const double d = 0.16 * e;
    switch (kind) {
    case Play: {
        const double px = cx + 0.06 * e;
        triangle({px - 0.45 * e, cy - 0.55 * e}, {px - 0.45 * e, cy + 0.55 * e}, {px + 0.45 * e, cy});
        break;
    }
    case Stop: {
        const double q = 0.42 * e;
        QPainterPath path;
        path.addRoundedRect(QRectF(cx - q, cy - q, 2 * q, 2 * q), 0.28 * q, 0.28 * q, Qt::AbsoluteSize);
        p.drawPath(path);
        break;
    }
    case Next:
        for (double x : {cx - d - 0.15 * t, cx + d + 0.3 * t})
            triangle({x - a, cy - b}, {x - a, cy + b}, {x + a, cy});
        p.drawRect(QRectF(cx + 0.44 * e, cy - 0.525 * e, 0.12 * e, 1.05 * e));
        break;
    case Previous:
        for (double x : {cx + d + 0.15 * t, cx - d - 0.3 * t})
            triangle({x + a, cy - b}, {x + a, cy + b}, {x - a, cy});
        p.drawRect(QRectF(cx - 0.56 * e, cy - 0.525 * e, 0.12 * e, 1.05 * e));
        break;
    }
    p.end();
    return QIcon(pm);
}
