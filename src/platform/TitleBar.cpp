#include "TitleBar.h"

namespace TitleBar {

double luminance(quint32 rgb)
{
    const double r = ((rgb >> 16) & 0xFF) / 255.0;
    const double g = ((rgb >> 8) & 0xFF) / 255.0;
    const double b = (rgb & 0xFF) / 255.0;
    return 0.2126 * r + 0.7152 * g + 0.0722 * b;
}

bool prefersDarkFrame(quint32 captionRgb)
{
    return luminance(captionRgb) <= 0.5;
}

quint32 toColorRef(quint32 rgb)
{
    const quint32 r = (rgb >> 16) & 0xFF;
    const quint32 g = (rgb >> 8) & 0xFF;
    const quint32 b = rgb & 0xFF;
    return (b << 16) | (g << 8) | r;
}

bool apply(quintptr nativeHandle, const Colors& colors)
{
    // X11 and Wayland frames belong to the window manager and its theme;
    // there is no per-window caption colour to set.
    Q_UNUSED(nativeHandle);
    Q_UNUSED(colors);
    return false;
}

} // namespace TitleBar
