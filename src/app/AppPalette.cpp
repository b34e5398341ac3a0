#include "app/AppPalette.h"

#include <QApplication>

namespace korvo {

namespace {

struct Colors {
    QColor window, text, base, alternateBase, button, highlight, highlightedText, disabledText,
        placeholder, link, linkVisited, light, midlight, mid, dark, shadow;
};

QPalette makePalette(const Colors& c) {
    QPalette palette;
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        const QColor text = disabled ? c.disabledText : c.text;
        palette.setColor(group, QPalette::Window, c.window);
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Base, disabled ? c.window : c.base);
        palette.setColor(group, QPalette::AlternateBase, c.alternateBase);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::Button, c.button);
        palette.setColor(group, QPalette::ButtonText, text);
        palette.setColor(group, QPalette::BrightText, c.highlightedText);
        palette.setColor(group, QPalette::Highlight, disabled ? c.mid : c.highlight);
        palette.setColor(group, QPalette::HighlightedText, c.highlightedText);
        palette.setColor(group, QPalette::PlaceholderText, c.placeholder);
        palette.setColor(group, QPalette::Link, c.link);
        palette.setColor(group, QPalette::LinkVisited, c.linkVisited);
        palette.setColor(group, QPalette::ToolTipBase, c.button);
        palette.setColor(group, QPalette::ToolTipText, c.text);
        palette.setColor(group, QPalette::Light, c.light);
        palette.setColor(group, QPalette::Midlight, c.midlight);
        palette.setColor(group, QPalette::Mid, c.mid);
        palette.setColor(group, QPalette::Dark, c.dark);
        palette.setColor(group, QPalette::Shadow, c.shadow);
    }
    return palette;
}

} // namespace

QPalette lightPalette() {
    return makePalette({.window = QColor(0xef, 0xef, 0xef),
                        .text = QColor(0x1d, 0x1d, 0x1f),
                        .base = QColor(0xff, 0xff, 0xff),
                        .alternateBase = QColor(0xf7, 0xf7, 0xf7),
                        .button = QColor(0xf4, 0xf4, 0xf4),
                        .highlight = QColor(0x1f, 0x63, 0xb8),
                        .highlightedText = QColor(0xff, 0xff, 0xff),
                        .disabledText = QColor(0x66, 0x66, 0x66),
                        .placeholder = QColor(0x6b, 0x6b, 0x6b),
                        .link = QColor(0x0a, 0x58, 0xb8),
                        .linkVisited = QColor(0x6a, 0x3d, 0xa8),
                        .light = QColor(0xff, 0xff, 0xff),
                        .midlight = QColor(0xf7, 0xf7, 0xf7),
                        .mid = QColor(0xb8, 0xb8, 0xb8),
                        .dark = QColor(0x9f, 0x9f, 0x9f),
                        .shadow = QColor(0x76, 0x76, 0x76)});
}

QPalette darkPalette() {
    return makePalette({.window = QColor(0x1f, 0x1f, 0x1f),
                        .text = QColor(0xec, 0xec, 0xec),
                        .base = QColor(0x16, 0x16, 0x16),
                        .alternateBase = QColor(0x26, 0x26, 0x26),
                        .button = QColor(0x2d, 0x2d, 0x2d),
                        .highlight = QColor(0x2a, 0x66, 0xc4),
                        .highlightedText = QColor(0xff, 0xff, 0xff),
                        .disabledText = QColor(0x9a, 0x9a, 0x9a),
                        .placeholder = QColor(0x9a, 0x9a, 0x9a),
                        .link = QColor(0x6c, 0xb4, 0xff),
                        .linkVisited = QColor(0xc0, 0x9c, 0xff),
                        .light = QColor(0x4a, 0x4a, 0x4a),
                        .midlight = QColor(0x3a, 0x3a, 0x3a),
                        .mid = QColor(0x55, 0x55, 0x55),
                        .dark = QColor(0x12, 0x12, 0x12),
                        .shadow = QColor(0x00, 0x00, 0x00)});
}

ColorSchemeFollower::ColorSchemeFollower(AppearanceWatcher& watcher, QObject* parent)
    : QObject(parent), desktopPalette_(QApplication::palette()) {
    connect(&watcher, &AppearanceWatcher::colorSchemeChanged, this, &ColorSchemeFollower::apply);
    if (watcher.colorScheme() != ColorScheme::noPreference) {
        apply(watcher.colorScheme());
    }
}

void ColorSchemeFollower::apply(ColorScheme scheme) {
    switch (scheme) {
    case ColorScheme::light:
        QApplication::setPalette(lightPalette());
        break;
    case ColorScheme::dark:
        QApplication::setPalette(darkPalette());
        break;
    case ColorScheme::noPreference:
        QApplication::setPalette(desktopPalette_);
        break;
    }
}

} // namespace korvo
