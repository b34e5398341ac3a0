#pragma once

#include <QColor>
#include <QIcon>
#include <QPalette>
#include <string_view>

class QLabel;
class QWidget;

namespace korvo {

// The few colours the window and the tray menu use for states.
enum class Tint { green, orange, red, blue, secondary, primary };

QColor tintColor(Tint tint, const QPalette& palette);

// Icon for one of the symbol names the views use ("checkmark.circle.fill", "qrcode", ...):
// the desktop theme's icon when there is one, else a standard style icon, else a drawn one.
// Every name the views use is listed in AppStyle.cpp; an unknown name gives a null icon.
QIcon symbolIcon(std::string_view symbol);

// The tray icon: a small bar chart, drawn so it exists on every desktop.
QIcon trayIcon();

// Text styles of the window.
enum class TextStyle { body, caption, headline, title2 };

void applyTextStyle(QLabel* label, TextStyle style, bool semibold = false);
void applyTint(QWidget* widget, Tint tint);

} // namespace korvo
