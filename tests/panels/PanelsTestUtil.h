#pragma once
// Pictures and synthetic input for the now-playing widgets' tests.
#include <QApplication>
#include <QColor>
#include <QImage>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QWidget>

namespace PanelsTest {

inline QImage picture(QWidget& w)
{
    QImage img(w.size(), QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    w.render(&img);
    return img.convertToFormat(QImage::Format_RGB32);
}

inline QRgb rgb(const QImage& img, int x, int y)
{
    return img.pixel(x, y) & 0xFFFFFF;
}

inline QRgb rgbOf(const QColor& c)
{
    return c.rgb() & 0xFFFFFF;
}

inline void mouse(QWidget* w, QEvent::Type type, Qt::MouseButton button, QPointF pos)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonPress ? Qt::MouseButtons(button) : Qt::NoButton;
    QMouseEvent e(type, pos, w->mapToGlobal(pos), button, type == QEvent::MouseMove ? Qt::LeftButton : held,
                  Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

inline void press(QWidget* w, double x) { mouse(w, QEvent::MouseButtonPress, Qt::LeftButton, {x, w->height() / 2.0}); }
inline void moveTo(QWidget* w, double x) { mouse(w, QEvent::MouseMove, Qt::NoButton, {x, w->height() / 2.0}); }
inline void release(QWidget* w, double x)
{
    mouse(w, QEvent::MouseButtonRelease, Qt::LeftButton, {x, w->height() / 2.0});
}

// One wheel notch at x; up > 0 turns away from the user.
inline void wheel(QWidget* w, double x, int up)
{
    const QPointF pos(x, w->height() / 2.0);
    QWheelEvent e(pos, w->mapToGlobal(pos), QPoint(), QPoint(0, up > 0 ? 120 : -120), Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

} // namespace PanelsTest
