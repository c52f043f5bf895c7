#include "ScreenFit.h"

#include <QComboBox>
#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace ScreenFit {

namespace {

// Title bar and borders of the window frame around a dialog.
constexpr int kFrameRoom = 40;

const QScreen* screenOf(const QWidget* w)
{
    for (const QWidget* at = w; at; at = at->parentWidget()) {
        if (at->isWindow() && at->windowHandle() && at->windowHandle()->screen())
            return at->windowHandle()->screen();
    }
    if (w && w->screen())
        return w->screen();
    return QGuiApplication::primaryScreen();
}

} // namespace

int availableHeight(const QWidget* w)
{
    const QScreen* s = screenOf(w);
    return s ? s->availableGeometry().height() : 600;
}

QScrollArea* scrolling(QWidget* content, int maxHeight, QWidget* parent)
{
    auto* area = new QScrollArea(parent);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    area->setWidget(content);
    area->setMaximumHeight(qMax(60, maxHeight));
    return area;
}

QRect fitInto(const QRect& r, const QRect& area, const QMargins& frame, const QSize& minimum)
{
    const QRect room = area.marginsRemoved(frame);
    QRect out = r;
    out.setWidth(std::max(std::min(r.width(), room.width()), minimum.width()));
    out.setHeight(std::max(std::min(r.height(), room.height()), minimum.height()));
    out.moveLeft(std::max(std::min(out.left(), room.right() + 1 - out.width()), room.left()));
    out.moveTop(std::max(std::min(out.top(), room.bottom() + 1 - out.height()), room.top()));
    return out;
}

void fitWindow(QWidget* window)
{
    if (!window || (window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    const QScreen* s = screenOf(window);
    if (!s)
        return;
    // A shown window knows its frame; before that the title bar's room is
    // kept free all the same.
    QMargins frame(0, kFrameRoom, 0, 0);
    if (window->isVisible()) {
        const QRect outer = window->frameGeometry(), inner = window->geometry();
        frame = QMargins(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                         outer.bottom() - inner.bottom());
    }
    const QRect fitted = fitInto(window->geometry(), s->availableGeometry(), frame, window->minimumSize());
    if (fitted.size() != window->size())
        window->resize(fitted.size());
    // A window nobody placed yet is left to the window manager's placement.
    const bool placed = window->isVisible() || window->testAttribute(Qt::WA_Moved);
    if (placed && fitted.topLeft() != window->geometry().topLeft())
        window->move(fitted.topLeft() - QPoint(frame.left(), frame.top()));
}

void capHeight(QWidget* dialog)
{
    if (dialog)
        dialog->setMaximumHeight(qMax(120, availableHeight(dialog) - kFrameRoom));
}

void showAllEntries(QComboBox* combo)
{
    // A plain list below the combo box, not the menu-like popup laid over it:
    // under the style sheets that one comes out a row short and hides the
    // rest behind scroll arrows. The list is never taller than the screen's
    // free area; the cap on its rows (10 unless set) is the only other limit.
    static const QString plainList = QStringLiteral("QComboBox{combobox-popup:0;}");
    if (!combo->styleSheet().contains(plainList))
        combo->setStyleSheet(combo->styleSheet() + plainList);
    combo->setMaxVisibleItems(std::max(combo->maxVisibleItems(), combo->count()));
}

} // namespace ScreenFit
