#pragma once
#include <QtGlobal>

// Colours of a window's native title bar and frame. Only a desktop whose
// window manager takes colours from the program can follow them; on X11 and
// Wayland the window manager draws the frame from its own theme, so apply()
// does nothing there and says so.
namespace TitleBar {

struct Colors
{
    quint32 caption = 0;   // caption background, 0xRRGGBB
    quint32 text = 0;      // caption text, 0xRRGGBB
    quint32 border = 0;    // frame, 0xRRGGBB
};

// Relative luminance 0.2126 R + 0.7152 G + 0.0722 B of a 0xRRGGBB colour,
// each component taken as 0..1.
double luminance(quint32 rgb);
// Dark frame for a caption whose luminance is at most 0.5.
bool prefersDarkFrame(quint32 captionRgb);
// 0xRRGGBB as the 0x00BBGGRR form that native frame attributes take.
quint32 toColorRef(quint32 rgb);

// Applies the colours to the native window. False when the platform draws
// the frame itself (always on X11 and Wayland) or the handle is null.
bool apply(quintptr nativeHandle, const Colors& colors);

} // namespace TitleBar
