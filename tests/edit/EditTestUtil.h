#pragma once
// Synthetic input for the editing dialogs' tests: mouse presses, drags and
// wheel steps with exact positions and modifiers.
#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>

namespace EditTest {

inline void mouse(QWidget* w, QEvent::Type type, Qt::MouseButton button, QPoint pos,
                  Qt::KeyboardModifiers mods = Qt::NoModifier, Qt::MouseButtons held = {})
{
    if (type == QEvent::MouseButtonPress)
        held |= button;
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, held, mods);
    QApplication::sendEvent(w, &e);
}

inline void press(QWidget* w, int x, Qt::MouseButton b = Qt::LeftButton, Qt::KeyboardModifiers m = Qt::NoModifier)
{
    mouse(w, QEvent::MouseButtonPress, b, {x, w->height() / 2}, m);
}
inline void moveTo(QWidget* w, int x, Qt::MouseButtons held = Qt::LeftButton)
{
    mouse(w, QEvent::MouseMove, Qt::NoButton, {x, w->height() / 2}, Qt::NoModifier, held);
}
inline void release(QWidget* w, int x, Qt::MouseButton b = Qt::LeftButton)
{
    mouse(w, QEvent::MouseButtonRelease, b, {x, w->height() / 2});
}
inline void drag(QWidget* w, int from, int to, Qt::MouseButton b = Qt::LeftButton,
                 Qt::KeyboardModifiers m = Qt::NoModifier)
{
    press(w, from, b, m);
    moveTo(w, to, b);
    release(w, to, b);
}

// One notch of a mouse wheel at x; dy > 0 turns away from the user.
inline bool wheel(QWidget* w, int x, int dy, int dx = 0)
{
    const QPointF pos(x, w->height() / 2);
    QWheelEvent e(pos, w->mapToGlobal(pos), QPoint(), QPoint(dx, dy), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    e.setAccepted(false);
    QApplication::sendEvent(w, &e);
    return e.isAccepted();
}

} // namespace EditTest
