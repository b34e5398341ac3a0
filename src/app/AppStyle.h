#pragma once

#include <QColor>
#include <QIcon>
#include <QList>
#include <QPalette>
#include <string_view>

class QLabel;
class QWidget;

namespace korvo {

// The few colours the window and the tray menu use for states.
enum class Tint { green, orange, red, blue, secondary, primary };

QColor tintColor(Tint tint, const QPalette& palette);

// Icon for one of the symbol names the views use ("checkmark.circle.fill", "qrcode", ...):
// the desktop theme's icon when there is one, else a drawn one in the text colour. Every name
// the views use is listed in AppStyle.cpp; an unknown name gives a null icon.
QIcon symbolIcon(std::string_view symbol);

// The drawn symbol in one colour, for labels whose colour tells a state (a theme's icon would
// lose it). Null for an unknown name.
QIcon tintedSymbolIcon(std::string_view symbol, const QColor& color);

// Text styles of the window.
enum class TextStyle { body, caption, headline, title2 };

void applyTextStyle(QLabel* label, TextStyle style, bool semibold = false);
// Colours the widget's text (or the given roles) in the tint, now and after every change of the
// application's palette.
void applyTint(QWidget* widget, Tint tint,
               QList<QPalette::ColorRole> roles = {QPalette::WindowText, QPalette::Text});

} // namespace korvo
