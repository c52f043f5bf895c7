#pragma once
#include <QStyledItemDelegate>

// Paints the rows of the list of recent sessions (52 px): an icon box with
// "▶" for the session now open and "♪" for the others, the name over its
// folder ("missing file" when the file is gone) and a dot for the open
// session. A row without a path (the list's placeholder) is drawn as centred
// muted text at its own height. Colours are read at every paint.
class SessionDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    static constexpr int kRowHeight = 52;
    static constexpr int kPathRole = Qt::UserRole;
    static constexpr int kNameRole = Qt::UserRole + 1;
    static constexpr int kFolderRole = Qt::UserRole + 2;
    static constexpr int kCurrentRole = Qt::UserRole + 3;
    static constexpr int kMissingRole = Qt::UserRole + 4;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
