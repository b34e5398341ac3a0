#pragma once

#include "app/ViewText.h"

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

// The icon that tells the state at a glance (TrayGlance): a meter whose filled share is the
// lowest remaining percentage among the tracked tools, in its status colour (green, orange, red);
// limited replaces the meter with a red stop sign; sync failing adds a yellow badge with an
// exclamation mark, not paired a grey badge with a dash. Without any percentage the plain bar
// chart stands in for the meter. `mask` draws the same shapes in black alpha (macOS menu bars
// tint them; the glyphs of badges are cut out).
QImage trayStateImage(const TrayGlance& glance, int pixels, bool mask = false);
QIcon trayIcon(const TrayGlance& glance);

} // namespace korvo
