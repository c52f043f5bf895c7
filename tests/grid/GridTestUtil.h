#pragma once
// Small helpers shared by the grid tests: synthetic mouse and drop events and
// a scripted answer for menus.
#include <QAction>
#include <QApplication>
#include <QDropEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QWidget>
#include <QWidgetAction>

#include "Modal.h"
#include "Types.h"

namespace GridTest {

inline void mouse(QWidget* w, QEvent::Type type, Qt::MouseButton button, QPoint pos, Qt::MouseButtons held = {})
{
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick)
        held |= button;
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}
inline void press(QWidget* w, QPoint pos = {30, 30}) { mouse(w, QEvent::MouseButtonPress, Qt::LeftButton, pos); }
inline void release(QWidget* w, QPoint pos = {30, 30}) { mouse(w, QEvent::MouseButtonRelease, Qt::LeftButton, pos); }
inline void dblClick(QWidget* w, QPoint pos = {30, 30})
{
    mouse(w, QEvent::MouseButtonDblClick, Qt::LeftButton, pos);
}

// Sends drag-enter then drop of the given data; returns whether the drop was accepted.
inline bool dropOn(QWidget* w, QMimeData* md, bool* enterAccepted = nullptr)
{
    const QPoint at = w->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, md, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &enter);
    if (enterAccepted)
        *enterAccepted = enter.isAccepted();
    QDropEvent drop(QPointF(at), Qt::CopyAction | Qt::MoveAction, md, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &drop);
    return drop.isAccepted();
}

inline QMimeData* urlData(const QStringList& paths)
{
    auto* md = new QMimeData;
    QList<QUrl> urls;
    for (const QString& p : paths)
        urls << QUrl::fromLocalFile(p);
    md->setUrls(urls);
    return md;
}

inline QAction* actionByText(QMenu* menu, const QString& text)
{
    for (QAction* a : menu->actions())
        if (a->text() == text)
            return a;
    return nullptr;
}

// Texts of a menu's entries; separators as "-", sections by their text.
inline QStringList menuTexts(QMenu* menu)
{
    QStringList out;
    for (QAction* a : menu->actions())
        out << (a->isSeparator() && a->text().isEmpty() ? QStringLiteral("-") : a->text());
    return out;
}

// The headings a menu draws when it shows: entries whose own label shows the
// entry's text whole. A plain section is drawn as a bare line under a menu
// style sheet, so it never counts.
inline QStringList shownHeadings(QMenu* menu)
{
    QStringList out;
    menu->popup(QPoint(20, 20));
    for (QAction* a : menu->actions()) {
        auto* wa = qobject_cast<QWidgetAction*>(a);
        auto* label = wa ? qobject_cast<QLabel*>(wa->defaultWidget()) : nullptr;
        if (label && label->isVisible() && label->text() == a->text()
            && label->contentsRect().width() >= label->fontMetrics().horizontalAdvance(label->text()))
            out << a->text();
    }
    menu->hide();
    return out;
}

// A picture of one entry of the menu, as the menu draws it.
inline QImage entryPicture(QMenu* menu, QAction* entry)
{
    menu->popup(QPoint(20, 20));
    const QImage shot = menu->grab(menu->actionGeometry(entry)).toImage();
    menu->hide();
    return shot;
}

inline ButtonData assigned(const QString& id, const QString& path, const QString& name = QString())
{
    ButtonData b;
    b.id = id;
    b.audioPath = path;
    b.name = name;
    return b;
}

} // namespace GridTest
