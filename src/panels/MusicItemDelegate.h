#pragma once
#include <QStyledItemDelegate>

// Paints the rows of the music panel's two lists (38 px): the row number or a
// state glyph, the title over its folder, a play button and a playlist star
// when hovered, and a faint divider. Reads the row's data (text "title\n
// folder", the now-playing mark under Qt::UserRole + 2, the playlist flag
// under Qt::UserRole + 3) and the theme's colours at every paint.
class MusicItemDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static constexpr int kRowHeight = 38;
    static constexpr int kPlayingRole = Qt::UserRole + 2;
    static constexpr int kInPlaylistRole = Qt::UserRole + 3;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
