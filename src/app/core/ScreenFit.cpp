#include "ScreenFit.h"

#include <QGuiApplication>
#include <QScreen>
#include <QScrollArea>
#include <QWidget>
#include <QWindow>

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

void capHeight(QWidget* dialog)
{
    if (dialog)
        dialog->setMaximumHeight(qMax(120, availableHeight(dialog) - kFrameRoom));
}

} // namespace ScreenFit
