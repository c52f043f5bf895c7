#include "MusicItemDelegate.h"

#include <QPainter>
#include <QPainterPath>

#include "ThemeManager.h"

namespace {

const QColor kRed(0xE3, 0x1B, 0x23);
const QColor kOrange(0xFF, 0x8C, 0x00);

QColor withAlpha(QColor c, int alpha)
{
    c.setAlpha(alpha);
    return c;
}

// A rectangle given by its inclusive corners.
QRect inclusive(int x1, int y1, int x2, int y2)
{
    return QRect(QPoint(x1, y1), QPoint(x2, y2));
}

// ink where it reads on every ground a row of the list can have under its
// tint (and under an overlay drawn on top of that): the panel's surface (the
// list itself is clear), the alternate and hovered rows' raised surface and
// the selected row's hover surface.
QColor readableInRow(const QColor& ink, const ThemeColors& c, const QColor& tint,
                     const QColor& overlay = QColor(Qt::transparent))
{
    auto under = [&](const QColor& ground) {
        return ThemeManager::blended(overlay, ThemeManager::blended(tint, ground));
    };
    return ThemeManager::readableOn(ink, {under(c.surface), under(c.surfaceAlt), under(c.surfaceHover)});
}

void drawText(QPainter* p, const QRect& r, int px, const QColor& colour, const QString& text,
              int flags = Qt::AlignCenter, int weight = QFont::Normal)
{
    QFont f;
    f.setPixelSize(px);
    f.setWeight(QFont::Weight(weight));
    p->setFont(f);
    p->setPen(colour);
    p->drawText(r, flags, text);
}

} // namespace

QSize MusicItemDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const
{
    return {0, kRowHeight};
}

void MusicItemDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const ThemeColors& c = ThemeManager::instance()->colors();
    const bool playing = index.data(kPlayingRole).toBool();
    const bool flagged = index.data(kInPlaylistRole).toBool();
    const bool hovered = option.state.testFlag(QStyle::State_MouseOver);
    const QRect& r = option.rect;
    const int L = r.left(), T = r.top(), R = r.right(), B = r.bottom();
    const int W = R - L + 1;

    p->save();
    p->setRenderHint(QPainter::Antialiasing, true);

    QString glyph = QString::number(index.row() + 1);
    QColor glyphColour = c.textMuted;
    int glyphPx = 10;
    const QColor tint = playing ? withAlpha(kRed, 25)
                      : flagged ? withAlpha(kOrange, 10)
                      : hovered ? QColor(255, 255, 255, 6)
                                : QColor(Qt::transparent);
    if (tint.alpha() > 0)
        p->fillRect(r, tint);
    if (playing) {
        p->fillRect(inclusive(L, T, L + 2, B), c.accent);
        glyph = QStringLiteral("▶");
        glyphColour = c.accent;
        glyphPx = 14;
    } else if (flagged) {
        p->fillRect(inclusive(L, T, L + 1, B), withAlpha(kOrange, 120));
        glyph = QStringLiteral("♪");
        glyphColour = kOrange;
    }
    drawText(p, inclusive(L + 5, T, L + 30, B), glyphPx, readableInRow(glyphColour, c, tint), glyph);

    const QString text = index.data(Qt::DisplayRole).toString();
    const qsizetype lf = text.indexOf(QLatin1Char('\n'));
    const QString title = lf < 0 ? text : text.left(lf);
    const QString folder = lf < 0 ? QString() : text.mid(lf + 1).trimmed();
    const int room = W - 72;

    QFont titleFont;
    titleFont.setPixelSize(11);
    titleFont.setWeight(playing ? QFont::DemiBold : QFont::Normal);
    const QColor titleColour = playing ? QColor(Qt::white) : flagged ? QColor(0xFF, 0xB3, 0x47) : c.textSecondary;
    drawText(p, inclusive(L + 34, T + 3, R - 38, T + 18), 11, readableInRow(titleColour, c, tint),
             QFontMetrics(titleFont).elidedText(title, Qt::ElideRight, room), Qt::AlignLeft | Qt::AlignVCenter,
             titleFont.weight());
    if (!folder.isEmpty()) {
        QFont f;
        f.setPixelSize(9);
        drawText(p, inclusive(L + 34, T + 19, R - 38, T + 31), 9, readableInRow(c.textMuted, c, tint),
                 QFontMetrics(f).elidedText(folder, Qt::ElideLeft, room), Qt::AlignLeft | Qt::AlignVCenter);
    }

    if (hovered && !playing) {
        const int y = T + (B - T - 21) / 2;
        const QRect button = inclusive(R - 36, y, R - 11, y + 21);
        QPainterPath path;
        path.addRoundedRect(QRectF(button), 4, 4);
        const QColor fill = withAlpha(kRed, 200);
        p->fillPath(path, fill);
        drawText(p, button, 10, readableInRow(Qt::white, c, tint, fill), QStringLiteral("▶"));
    }
    if (flagged || hovered) {
        const int y = T + (B - T - 13) / 2;
        drawText(p, inclusive(R - 14, y, R - 3, y + 13), 8, readableInRow(flagged ? kOrange : c.textMuted, c, tint),
                 flagged ? QStringLiteral("★") : QStringLiteral("☆"));
    }

    p->setPen(QPen(QColor(255, 255, 255, 5), 1));
    p->drawLine(L + 34, B, R, B);
    p->restore();
}
