#pragma once

#include "platform/AppearanceWatcher.h"

#include <QObject>
#include <QPalette>

namespace korvo {

// The window's two palettes. Every text role reads at a contrast of at least 4.5:1 on the
// background it is drawn on, disabled texts included.
QPalette lightPalette();
QPalette darkPalette();

// Gives the application the palette of the desktop's colour scheme, now and whenever the
// desktop switches: light or dark as the watcher tells, and the palette the application started
// with while the desktop states no preference. Tinted texts and symbols follow by themselves
// (AppStyle).
class ColorSchemeFollower : public QObject {
    Q_OBJECT
public:
    explicit ColorSchemeFollower(AppearanceWatcher& watcher, QObject* parent = nullptr);

private:
    void apply(ColorScheme scheme);

    QPalette desktopPalette_;
};

} // namespace korvo
