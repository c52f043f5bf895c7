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
    if (playing) {
        p->fillRect(r, withAlpha(kRed, 25));
        p->fillRect(inclusive(L, T, L + 2, B), c.accent);
        glyph = QStringLiteral("▶");
        glyphColour = c.accent;
        glyphPx = 14;
    } else if (flagged) {
        p->fillRect(r, withAlpha(kOrange, 10));
        p->fillRect(inclusive(L, T, L + 1, B), withAlpha(kOrange, 120));
        glyph = QStringLiteral("♪");
        glyphColour = kOrange;
    } else if (hovered) {
        p->fillRect(r, QColor(255, 255, 255, 6));
    }
    drawText(p, inclusive(L + 5, T, L + 30, B), glyphPx, glyphColour, glyph);

    const QString text = index.data(Qt::DisplayRole).toString();
    const qsizetype lf = text.indexOf(QLatin1Char('\n'));
    const QString title = lf < 0 ? text : text.left(lf);
    const QString folder = lf < 0 ? QString() : text.mid(lf + 1).trimmed();
    const int room = W - 72;

    QFont titleFont;
    titleFont.setPixelSize(11);
    titleFont.setWeight(playing ? QFont::DemiBold : QFont::Normal);
    const QColor titleColour = playing ? QColor(Qt::white) : flagged ? QColor(0xFF, 0xB3, 0x47) : c.textSecondary;
    drawText(p, inclusive(L + 34, T + 3, R - 38, T + 18), 11, titleColour,
             QFontMetrics(titleFont).elidedText(title, Qt::ElideRight, room), Qt::AlignLeft | Qt::AlignVCenter,
             titleFont.weight());
    if (!folder.isEmpty()) {
        QFont f;
        f.setPixelSize(9);
        drawText(p, inclusive(L + 34, T + 19, R - 38, T + 31), 9, c.border,
                 QFontMetrics(f).elidedText(folder, Qt::ElideLeft, room), Qt::AlignLeft | Qt::AlignVCenter);
    }

    if (hovered && !playing) {
        const int y = T + (B - T - 21) / 2;
        const QRect button = inclusive(R - 36, y, R - 11, y + 21);
        QPainterPath path;
        path.addRoundedRect(QRectF(button), 4, 4);
        p->fillPath(path, withAlpha(kRed, 200));
        drawText(p, button, 10, Qt::white, QStringLiteral("▶"));
    }
    if (flagged || hovered) {
        const int y = T + (B - T - 13) / 2;
        drawText(p, inclusive(R - 14, y, R - 3, y + 13), 8, flagged ? withAlpha(kOrange, 200) : c.textMuted,
                 flagged ? QStringLiteral("★") : QStringLiteral("☆"));
    }

    p->setPen(QPen(QColor(255, 255, 255, 5), 1));
    p->drawLine(L + 34, B, R, B);
    p->restore();
}
