#pragma once

#include <QIcon>
#include <QImage>

namespace korvo {

// The tray symbol, a small bar chart, as a mask: black, its shape in the alpha channel, drawn
// for `pixels` square. Menu bars that tint their icons (macOS) use only the alpha.
QImage trayMask(int pixels);

// The tray icon. On macOS the mask itself, marked as one, so the menu bar tints it; Linux panels
// do not tint, so there the same shape is filled light inside a dark rim, which reads on light
// and on dark panels alike.
QIcon trayIcon();

} // namespace korvo
