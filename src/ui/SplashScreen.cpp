#include "SplashScreen.h"
#include "VXIcons.h"

#include <QColor>
#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr int kRepaintMs = 33;
constexpr int kFinishDelayMs = 50;
constexpr double kSweepMs = 1400.0;
constexpr double kHighlightHalf = 0.18;

const char* const kBadgeStyle =
    "background:qlineargradient(x1:0,y1:0,x2:1,y2:1,stop:0 #FF3B3B,stop:0.55 #E31B23,stop:1 #9E1015);"
    "border-radius:60px;";

} // namespace

SplashScreen::SplashScreen(QWidget* parent)
    : QWidget(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setFixedSize(460, 340);
    setAttribute(Qt::WA_TranslucentBackground);
    setWindowModality(Qt::ApplicationModal);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 28, 32, 26);
    layout->setSpacing(8);

    // Logo badge.
    auto* logoRow = new QHBoxLayout();
    logoRow->addStretch();
    auto* logoBox = new QWidget(this);
    logoBox->setFixedSize(136, 136);
    m_logo = new QLabel(logoBox);
    m_logo->setGeometry(8, 8, 120, 120);
    m_logo->setAlignment(Qt::AlignCenter);
    m_logo->setScaledContents(false);
    m_logo->setStyleSheet(QString::fromLatin1(kBadgeStyle));
    auto* shadow = new QGraphicsDropShadowEffect(m_logo);
    shadow->setBlurRadius(28);
    shadow->setOffset(0, 6);
    QColor glow(0xE3, 0x1B, 0x23);
    glow.setAlpha(130);
    shadow->setColor(glow);
    m_logo->setGraphicsEffect(shadow);
    logoRow->addWidget(logoBox);
    logoRow->addStretch();
    layout->addLayout(logoRow);

    layout->addSpacing(6);

    auto* title = new QLabel(this);
    title->setTextFormat(Qt::RichText);
    title->setAlignment(Qt::AlignCenter);
    title->setText(QStringLiteral(
        "<span style='font-weight:800;font-size:17px;letter-spacing:0.6px;'>"
        "<span style='color:#F5F5F7;'>Tar</span><span style='color:#FF3B3B;'>vello</span>"
        "<span style='color:#F5F5F7;'> Rododu</span></span>"));
    layout->addWidget(title);

    auto* tagline = new QLabel(QStringLiteral("The cartwall for live radio: every sound one click away."), this);
    tagline->setAlignment(Qt::AlignCenter);
    tagline->setWordWrap(true);
    tagline->setStyleSheet(QStringLiteral("color:#9A9AA2;font-size:10px;letter-spacing:0.3px;padding:0 18px;"));
    layout->addWidget(tagline);

    layout->addSpacing(10);

    m_status = new QLabel(QStringLiteral("Initializing..."), this);
    m_status->setAlignment(Qt::AlignCenter);
    m_status->setStyleSheet(QStringLiteral("color:#C9C9CE;font-size:11px;font-weight:500;letter-spacing:0.4px;"));
    layout->addWidget(m_status);

    layout->addSpacing(4);

    m_bar = new QWidget(this);
    m_bar->setFixedHeight(4);
    layout->addWidget(m_bar);

    layout->addSpacing(2);

    auto* version = new QLabel(QStringLiteral("v2.0.84  ·  tarvello.com"), this);
    version->setAlignment(Qt::AlignCenter);
    version->setStyleSheet(QStringLiteral("color:#4A4A50;font-size:9px;letter-spacing:0.6px;"));
    layout->addWidget(version);

    m_clock.start();
    m_repaint = new QTimer(this);
    m_repaint->setInterval(kRepaintMs);
    connect(m_repaint, &QTimer::timeout, this, qOverload<>(&QWidget::update));
    m_repaint->start();

    m_finishTimer = new QTimer(this);
    m_finishTimer->setSingleShot(true);
    m_finishTimer->setInterval(kFinishDelayMs);
    connect(m_finishTimer, &QTimer::timeout, this, [this]() {
        hide();
        deleteLater();
    });
}

void SplashScreen::setStatus(const QString& text)
{
    m_status->setText(text);
}

QString SplashScreen::statusText() const
{
    return m_status->text();
}

void SplashScreen::setProgress(int value)
{
    m_progress = qBound(0, value, 100);
}

void SplashScreen::setLogoPixmap(const QPixmap& pixmap)
{
    if (pixmap.isNull())
        return;
    m_logo->setStyleSheet(QStringLiteral("background:transparent;"));
    const QSize target = m_logo->size();
    QPixmap scaled = pixmap.scaled(target * 2, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                         .scaled(target, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    scaled = VXIcons::roundedCorners(scaled, std::round(scaled.width() * 0.14));
    m_logo->setPixmap(scaled);
}

void SplashScreen::finish()
{
    if (m_finishing)
        return;   // finished() goes out once
    m_finishing = true;
    m_progress = 100;
    m_repaint->stop();
    update();
    emit finished();
    m_finishTimer->start();
}

QGradientStops SplashScreen::fillStops(double t)
{
    const double a = t - kHighlightHalf;
    const double b = t + kHighlightHalf;
    QGradientStops stops;
    stops.append({0.0, QColor(0xB7, 0x15, 0x18)});
    if (a > 0)
        stops.append({qBound(0.0, a, 1.0), QColor(0xE3, 0x1B, 0x23)});
    stops.append({qBound(0.0, t, 1.0), QColor(0xFF, 0x6B, 0x5B)});
    if (b < 1)
        stops.append({qBound(0.0, b, 1.0), QColor(0xE3, 0x1B, 0x23)});
    stops.append({1.0, QColor(0xB7, 0x15, 0x18)});
    return stops;
}

void SplashScreen::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);

    double t = 0.0;
    if (m_fixedPhase >= 0.0)
        t = std::fmod(m_fixedPhase, 1.0);
    else if (m_clock.isValid())
        t = std::fmod(m_clock.elapsed() / kSweepMs, 1.0);

    const double w = width();
    const double h = height();
    QPainterPath card;
    card.addRoundedRect(QRectF(0, 0, w, h), 18, 18);

    QLinearGradient base(0, 0, 0, h);
    base.setColorAt(0.0, QColor(0x1D, 0x1D, 0x21));
    base.setColorAt(0.5, QColor(0x18, 0x18, 0x1B));
    base.setColorAt(1.0, QColor(0x14, 0x14, 0x16));
    p.fillPath(card, base);

    QRadialGradient glow(QPointF(w / 2, 0), 0.85 * w);
    glow.setColorAt(0.0, QColor(227, 27, 35, 46));
    glow.setColorAt(0.6, QColor(227, 27, 35, 14));
    glow.setColorAt(1.0, QColor(227, 27, 35, 0));
    p.fillPath(card, glow);

    QLinearGradient sheen(0, 0, w / 2, h);
    sheen.setColorAt(0.0, QColor(255, 255, 255, 10));
    sheen.setColorAt(0.35, QColor(255, 255, 255, 0));
    p.fillPath(card, sheen);

    QLinearGradient shade(0, h - 70, 0, h);
    shade.setColorAt(0.0, QColor(0, 0, 0, 0));
    shade.setColorAt(1.0, QColor(0, 0, 0, 70));
    p.fillPath(card, shade);

    QLinearGradient edge(0, 0, 0, h);
    edge.setColorAt(0.0, QColor(255, 255, 255, 28));
    edge.setColorAt(1.0, QColor(0, 0, 0, 40));
    p.setPen(QPen(QBrush(edge), 1, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    p.drawPath(card);

    if (m_bar) {
        const QRectF bar(m_bar->mapTo(this, QPoint(0, 0)), m_bar->size());
        p.save();
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x24, 0x24, 0x28));
        p.drawRoundedRect(bar, 2, 2);
        const double fillW = m_progress / 100.0 * bar.width();
        if (fillW > 0.5) {
            QLinearGradient fill(bar.left(), 0, bar.left() + fillW, 0);
            fill.setStops(fillStops(t));
            p.setBrush(fill);
            p.drawRoundedRect(QRectF(bar.left(), bar.top(), fillW, bar.height()), 2, 2);
        }
        p.restore();
    }
}
