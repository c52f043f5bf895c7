#include "ToastManager.h"

#include "Modal.h"
#include "ThemeManager.h"
#include "VXIcons.h"

#include <QCoreApplication>
#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QTimer>

// ---------------------------------------------------------------- manager

ToastManager* ToastManager::instance()
{
    static ToastManager* s_instance = new ToastManager(QCoreApplication::instance());
    return s_instance;
}

ToastManager::ToastManager(QObject* parent)
    : QObject(parent)
{
    m_nextTimer = new QTimer(this);
    m_nextTimer->setSingleShot(true);
    m_nextTimer->setInterval(kNextDelayMs);
    connect(m_nextTimer, &QTimer::timeout, this, &ToastManager::pump);
}

ToastManager::Type ToastManager::normalizedType(int type)
{
    return unsigned(type) > unsigned(Playback) ? Info : Type(type);
}

void ToastManager::show(QWidget* parent, const QString& text, Type type, int ms)
{
    if (m_current && m_current->property("toastMsg").toString() == text)
        return;
    for (const Pending& p : std::as_const(m_queue)) {
        if (p.text == text)
            return;
    }
    m_queue.append(Pending{parent, text, type, ms});
    pump();
}

void ToastManager::pump()
{
    while (!m_busyCard && !m_queue.isEmpty()) {
        const Pending next = m_queue.takeFirst();
        if (!next.parent)
            continue;   // its window is gone: drop the request and try the next one
        auto* card = new ToastWidget(next.parent, next.text, normalizedType(next.type), next.ms);
        m_current = card;
        m_busyCard = card;
        connect(card, &ToastWidget::finished, this, [this, card]() { cardGone(card); });
        // A card can also die without finishing (its window was closed under it);
        // the queue must not stay blocked then.
        connect(card, &QObject::destroyed, this, [this](QObject* obj) { cardGone(obj); });
        card->animateIn();
    }
}

void ToastManager::cardGone(QObject* card)
{
    if (card != m_busyCard)
        return;
    m_busyCard = nullptr;
    m_nextTimer->start();
}

// ---------------------------------------------------------------- card

namespace {

struct ToastLook {
    QColor bg, fg, border;
    QString svg;
};

ToastLook lookFor(ToastManager::Type type)
{
    const ThemeColors& tc = ThemeManager::instance()->colors();
    switch (type) {
    case ToastManager::Success:
        return {QColor(0x1a, 0x3a, 0x1a), QColor(0x6a, 0xdf, 0x6a), QColor(0x3a, 0x8a, 0x3a),
                VXIcons::strokeSvg(QStringLiteral("<polyline points='20 6 9 17 4 12'/>"), 2.4)};
    case ToastManager::Warning:
        return {QColor(0x3a, 0x2e, 0x00), QColor(0xff, 0xcf, 0x40), QColor(0x8a, 0x6a, 0x00),
                VXIcons::strokeSvg(QStringLiteral("<path d='m21.7 18-8-14a2 2 0 0 0-3.5 0l-8 14A2 2 0 0 0 4 "
                                                  "21h16a2 2 0 0 0 1.7-3z'/><line x1='12' y1='9' x2='12' "
                                                  "y2='13'/><circle cx='12' cy='17' r='0.5' fill='currentColor'/>"),
                                   2.0)};
    case ToastManager::Error:
        return {QColor(0x3a, 0x0a, 0x0a), QColor(0xff, 0x60, 0x60), QColor(0x8a, 0x20, 0x20),
                VXIcons::strokeSvg(QStringLiteral("<line x1='18' y1='6' x2='6' y2='18'/>"
                                                  "<line x1='6' y1='6' x2='18' y2='18'/>"),
                                   2.4)};
    case ToastManager::Highlight:
        return {QColor(0x0a, 0x1a, 0x3a), QColor(0x70, 0xaa, 0xff), QColor(0x1a, 0x4a, 0x8a),
                VXIcons::strokeSvg(
                    QStringLiteral("<circle cx='12' cy='12' r='9'/>"
                                   "<circle cx='8' cy='10' r='1' fill='currentColor' stroke='none'/>"
                                   "<circle cx='12' cy='8' r='1' fill='currentColor' stroke='none'/>"
                                   "<circle cx='16' cy='10' r='1' fill='currentColor' stroke='none'/>"
                                   "<circle cx='9.5' cy='15' r='1' fill='currentColor' stroke='none'/>"
                                   "<circle cx='14.5' cy='15' r='1' fill='currentColor' stroke='none'/>"),
                    2.0)};
    case ToastManager::Playback:
        return {QColor(0x1a, 0x1a, 0x3a), tc.accent.lighter(160), tc.accent, VXIcons::ic_play()};
    case ToastManager::Info:
    default:
        return {tc.surfaceHover, tc.textSecondary, tc.border,
                VXIcons::strokeSvg(QStringLiteral("<path d='M6 8a6 6 0 0 1 12 0c0 7 3 9 3 9H3s3-2 3-9'/>"
                                                  "<path d='M10.3 21a1.94 1.94 0 0 0 3.4 0'/>"),
                                   2.0)};
    }
}

constexpr int kTextWidth = 280;

// A text that fits the card's text width stays on one line; a longer one
// wraps onto more lines of that full width (the card grows in height), so it
// is neither cut nor squeezed into a narrow column.
void fitText(QLabel* label)
{
    label->ensurePolished();
    const int oneLine = label->fontMetrics().horizontalAdvance(label->text()) + 1;
    if (oneLine <= kTextWidth) {
        label->setWordWrap(false);
        label->setFixedWidth(oneLine);
    } else {
        label->setWordWrap(true);
        label->setFixedWidth(kTextWidth);
    }
}

// A warning card draws its warning sign as its icon: a text that opens with
// the same sign shows it once, not twice.
QString shownText(const QString& text, ToastManager::Type type)
{
    static const QString kSign = QStringLiteral("\u26A0");
    if (type != ToastManager::Warning || !text.startsWith(kSign))
        return text;
    qsizetype from = kSign.size();
    if (from < text.size() && text.at(from) == QChar(0xFE0F))   // the emoji form
        ++from;
    const QString rest = text.mid(from).trimmed();
    return rest.isEmpty() ? text : rest;
}

// The widgets cards keep clear of (ToastWidget::keepClearOf); entries whose
// widget has gone are dropped when next met.
QList<QPointer<QWidget>>& keptClear()
{
    static QList<QPointer<QWidget>> widgets;
    return widgets;
}

// The widget's rectangle on the screen as its window lays it out now: a bar
// just shown has its place only once its layout has run.
QRect placedRect(QWidget* w)
{
    for (QWidget* up = w->parentWidget(); up; up = up->parentWidget()) {
        if (up->layout())
            up->layout()->activate();
        if (up->isWindow())
            break;
    }
    return QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
}

// Where a card meant for `card` goes in window: moved down below each marked
// widget showing there that it would touch, until it touches none.
QRect clearOfMarked(QWidget* window, QRect card)
{
    QList<QPointer<QWidget>>& marked = keptClear();
    marked.removeAll(QPointer<QWidget>());
    for (qsizetype round = 0; round <= marked.size(); ++round) {
        bool moved = false;
        for (const QPointer<QWidget>& w : std::as_const(marked)) {
            if (w->window() != window || !w->isVisibleTo(window))
                continue;
            const QRect r = placedRect(w);
            if (!r.isEmpty() && card.intersects(r)) {
                card.moveTop(r.bottom() + 1 + ToastWidget::kClearGap);
                moved = true;
            }
        }
        if (!moved)
            break;
    }
    return card;
}

} // namespace

void ToastWidget::keepClearOf(QWidget* widget)
{
    if (widget && !keptClear().contains(widget))
        keptClear().append(widget);
}

ToastWidget::ToastWidget(QWidget* parent, const QString& text, Type type, int ms)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
    , m_ms(ms)
{
    setWindowFlags(windowFlags() | Qt::WindowTransparentForInput);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_DeleteOnClose);

    const ToastLook look = lookFor(ToastManager::normalizedType(type));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 10, 16, 10);
    layout->setSpacing(10);

    m_iconLabel = new QLabel(this);
    m_iconLabel->setPixmap(VXIcons::modernPixmap(look.svg, look.fg, 16));
    m_iconLabel->setStyleSheet(QStringLiteral("background:transparent;border:none;"));
    layout->addWidget(m_iconLabel);

    m_textLabel = new QLabel(shownText(text, ToastManager::normalizedType(type)), this);
    m_textLabel->setStyleSheet(QStringLiteral("font-family:'Segoe UI',Arial,sans-serif;font-size:12px;"
                                              "font-weight:600;color:%1;background:transparent;border:none;")
                                   .arg(look.fg.name()));
    fitText(m_textLabel);
    layout->addWidget(m_textLabel);

    setProperty("bgColor", look.bg);
    setProperty("borderColor", look.border);
    setProperty("toastMsg", text);
    adjustSize();
    setFixedHeight(qMax(height(), 44));

    m_effect = new QGraphicsOpacityEffect(this);
    m_effect->setOpacity(0.0);
    setGraphicsEffect(m_effect);

    m_holdTimer = new QTimer(this);
    m_holdTimer->setSingleShot(true);
    connect(m_holdTimer, &QTimer::timeout, this, &ToastWidget::holdEnded);

    m_modalCheck = new QTimer(this);
    m_modalCheck->setInterval(kModalCheckMs);
    connect(m_modalCheck, &QTimer::timeout, this, &ToastWidget::checkModal);
}

// A modal box over the window takes the eye (and may cover the card): the
// card is kept above it, and its time runs only once the box is gone, whole
// again, so a notice raised just before a box is still read after it.
void ToastWidget::checkModal()
{
    reposition();
    if (Modal::isUpOver(parentWidget())) {
        m_heldByModal = true;
        m_holdTimer->stop();
        raise();
        return;
    }
    if (m_heldByModal) {
        m_heldByModal = false;
        m_holdTimer->start(m_ms);
    }
}

void ToastWidget::holdEnded()
{
    checkModal();
    if (!m_heldByModal)
        animateOut();
}

QPropertyAnimation* ToastWidget::fadeAnimation() const
{
    return m_anim.data();
}

float ToastWidget::opacity() const
{
    return m_effect ? float(m_effect->opacity()) : 1.0f;
}

void ToastWidget::setOpacity(float value)
{
    if (m_effect)
        m_effect->setOpacity(qBound(0.0f, value, 1.0f));
}

void ToastWidget::reposition()
{
    QWidget* p = parentWidget();
    if (!p)
        return;
    // The parent's rectangle on the screen; for a top-level window this is its geometry.
    const QRect area(p->mapToGlobal(QPoint(0, 0)), p->size());
    const QRect corner(QPoint(area.left() + area.width() - width() - 12, area.top() + 58), size());
    move(clearOfMarked(p->window(), corner).topLeft());
}

void ToastWidget::animateIn()
{
    reposition();
    show();
    raise();
    m_modalCheck->start();
    auto* anim = new QPropertyAnimation(this, "opacity", this);
    anim->setStartValue(0.0f);
    anim->setEndValue(1.0f);
    anim->setDuration(kFadeInMs);
    anim->setEasingCurve(QEasingCurve::OutCubic);
    connect(anim, &QPropertyAnimation::finished, this, [this]() {
        if (!m_heldByModal)
            m_holdTimer->start(m_ms);
    });
    m_anim = anim;
    anim->start(QAbstractAnimation::DeleteWhenStopped);
}

void ToastWidget::animateOut()
{
    if (m_fadingOut)
        return;
    m_fadingOut = true;
    m_holdTimer->stop();
    m_modalCheck->stop();
    if (m_anim)
        m_anim->stop();   // a fade-in still running gives way
    auto* anim = new QPropertyAnimation(this, "opacity", this);
    anim->setStartValue(1.0f);
    anim->setEndValue(0.0f);
    anim->setDuration(kFadeOutMs);
    anim->setEasingCurve(QEasingCurve::InCubic);
    connect(anim, &QPropertyAnimation::finished, this, [this]() {
        hide();
        close();   // deletes the card (later)
        emit finished();
    });
    m_anim = anim;
    anim->start(QAbstractAnimation::DeleteWhenStopped);
}

void ToastWidget::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath path;
    path.addRoundedRect(QRectF(0.5, 0.5, width() - 1, height() - 1), 10, 10);
    QColor bg = property("bgColor").value<QColor>();
    bg.setAlpha(230);
    p.fillPath(path, bg);
    p.setPen(QPen(property("borderColor").value<QColor>(), 1, Qt::SolidLine));
    p.drawPath(path);
}
