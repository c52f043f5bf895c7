#include "ScreenFit.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLayout>
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

namespace {

// Sizes a combo box's popup, as it is shown, to the rows it holds. Under
// the program's style sheet the menu-like popup lays out margins that
// QComboBox did not count when it sized it, so its last rows went behind a
// scroll arrow although the screen had room for them.
class PopupRows : public QObject
{
public:
    static constexpr const char* kName = "popupRows";
    explicit PopupRows(QAbstractItemView* view) : QObject(view), m_view(view) { setObjectName(QLatin1String(kName)); }

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && watched == m_view->window())
            fit(m_view->window());
        return false;
    }

private:
    int rowsHeight() const
    {
        int h = 0;
        const QAbstractItemModel* model = m_view->model();
        for (int row = 0; model && row < model->rowCount(m_view->rootIndex()); ++row)
            h += m_view->visualRect(model->index(row, 0, m_view->rootIndex())).height();
        return h;
    }

    // Grows the popup by what its rows lack, then gives back what the
    // scroll arrows, once gone, leave over; within the screen's free area.
    void fit(QWidget* popup)
    {
        const QScreen* screen = popup->screen();
        const QRect room = screen ? screen->availableGeometry() : QRect();
        for (int pass = 0; pass < 2; ++pass) {
            if (QLayout* l = popup->layout())
                l->activate();
            const int change = rowsHeight() - m_view->viewport()->height();
            if (change == 0 || (pass == 0 && change < 0))
                return;
            QRect g = popup->geometry();
            g.setHeight(g.height() + change);
            if (room.isValid()) {
                g.setHeight(std::min(g.height(), room.height()));
                if (g.bottom() > room.bottom())
                    g.moveBottom(room.bottom());
                if (g.top() < room.top())
                    g.moveTop(room.top());
            }
            if (g == popup->geometry())
                return;
            popup->setGeometry(g);
        }
    }

    QAbstractItemView* m_view;
};

} // namespace

void showAllEntries(QComboBox* combo)
{
    // The popup is never taller than the screen's free area; the cap on its
    // rows (10 unless set) and the popup's own sizing are the other limits.
    combo->setMaxVisibleItems(std::max(combo->maxVisibleItems(), combo->count()));
    QAbstractItemView* view = combo->view();
    if (!view->findChild<QObject*>(QLatin1String(PopupRows::kName), Qt::FindDirectChildrenOnly))
        view->window()->installEventFilter(new PopupRows(view));
}

} // namespace ScreenFit
