#include "SessionDelegate.h"

#include <QPainter>

#include "ThemeManager.h"

namespace {

bool isPlaceholder(const QModelIndex& index)
{
    return index.data(SessionDelegate::kPathRole).toString().isEmpty();
}

QColor withAlpha(QColor c, int alpha)
{
    c.setAlpha(alpha);
    return c;
}

// The washes of a hovered and of a selected row.
QColor hoverWash(const ThemeColors& c) { return withAlpha(c.surfaceHover, 120); }
QColor selectWash(const ThemeColors& c) { return withAlpha(c.accent, 60); }

// ink where it reads on the rows' grounds: the panel's surface (the list is
// clear) plain, hovered or selected.
QColor readableInList(const QColor& ink, const ThemeColors& c)
{
    return ThemeManager::readableOn(ink, {c.surface, ThemeManager::blended(hoverWash(c), c.surface),
                                          ThemeManager::blended(selectWash(c), c.surface)});
}

} // namespace

QSize SessionDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex& index) const
{
    const QSize own = index.data(Qt::SizeHintRole).toSize();
    if (isPlaceholder(index) && own.height() > 0)
        return {0, own.height()};
    return {0, kRowHeight};
}

void SessionDelegate::paint(QPainter* p, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const ThemeColors& c = ThemeManager::instance()->colors();
    const QRect& r = option.rect;
    p->save();

    if (isPlaceholder(index)) {
        QFont f = option.font;
        f.setPixelSize(11);
        p->setFont(f);
        p->setPen(readableInList(c.textMuted, c));
        p->drawText(r, Qt::AlignCenter, index.data(Qt::DisplayRole).toString());
        p->restore();
        return;
    }

    const bool current = index.data(kCurrentRole).toBool();
    const bool missing = index.data(kMissingRole).toBool();

    if (option.state.testFlag(QStyle::State_Selected) || option.state.testFlag(QStyle::State_MouseOver)) {
        p->setRenderHint(QPainter::Antialiasing, true);
        p->setPen(Qt::NoPen);
        p->setBrush(option.state.testFlag(QStyle::State_Selected) ? selectWash(c) : hoverWash(c));
        p->drawRoundedRect(r.adjusted(2, 2, -2, -2), 8, 8);
    }

    const QString folder = missing ? QStringLiteral("missing file") : index.data(kFolderRole).toString();

    const QRect box(r.left() + 10, r.top() + 10, 32, 32);
    p->setRenderHint(QPainter::Antialiasing, true);
    p->setPen(Qt::NoPen);
    const QColor boxColour = current ? c.accent : missing ? c.surfaceHover : c.surfaceAlt;
    p->setBrush(boxColour);
    p->drawRoundedRect(box, 8, 8);

    const QColor glyphPen = current ? c.text : c.textSecondary;
    QFont glyphFont = p->font();
    glyphFont.setPixelSize(16);
    p->setFont(glyphFont);
    p->setPen(ThemeManager::readableOn(glyphPen, {boxColour}));
    p->drawText(box, Qt::AlignCenter, current ? QStringLiteral("▶") : QStringLiteral("♪"));

    const int x = r.left() + 51;
    const int W = r.width() - 59;
    QFont nameFont = option.font;
    nameFont.setPixelSize(12);
    nameFont.setWeight(QFont::Bold);
    p->setFont(nameFont);
    p->setPen(readableInList(missing ? c.textMuted : glyphPen, c));
    p->drawText(QRect(x, r.top() + 9, W, 17), Qt::AlignLeft | Qt::AlignVCenter,
                QFontMetrics(nameFont).elidedText(index.data(kNameRole).toString(), Qt::ElideRight, W));

    QFont folderFont = option.font;
    folderFont.setPixelSize(10);
    folderFont.setWeight(QFont::Normal);
    p->setFont(folderFont);
    p->setPen(readableInList(c.textMuted, c));
    p->drawText(QRect(x, r.top() + 27, W, 15), Qt::AlignLeft | Qt::AlignVCenter,
                QFontMetrics(folderFont).elidedText(folder, Qt::ElideMiddle, W));

    if (current) {
        const int cy = r.top() + r.height() / 2;
        p->setPen(Qt::NoPen);
        p->setBrush(c.accent);
        p->drawEllipse(QRect(r.right() - 9, cy - 3, 6, 6));
    }
    p->restore();
}
