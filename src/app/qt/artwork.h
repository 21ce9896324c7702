#pragma once
// The window's pictures, drawn at start-up: the restart picture (159 x 69,
// 24 bits: "1. OFF", the USB plug pulled out of the device; "2. ON", the plug
// pushed back in) and the application icon (48, 32 and 16 pixels in the
// window; any size for the desktop's icon theme).

#include <QIcon>
#include <QImage>

namespace corvane::app::qt {

inline constexpr int kRestartPictureWidth = 159;
inline constexpr int kRestartPictureHeight = 69;

QImage DrawRestartPicture();
QIcon DrawApplicationIcon();
// The application icon drawn at `size` x `size` pixels.
QImage DrawApplicationIconImage(int size);

}  // namespace corvane::app::qt
