#pragma once

#include "app/AppStyle.h"

#include <QLabel>
#include <QLayout>
#include <QString>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace korvo {

inline QString qs(const QString& text) {
    return text;
}
inline QString qs(const std::string& text) {
    return QString::fromStdString(text);
}
inline QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}
inline QString qs(const char* text) {
    return QString::fromUtf8(text);
}

// Starts a model operation from a button. An asynchronous operation returns a task that runs
// on by itself; its outcome lands in the model's fields, which the views re-read.
template <typename Operation> void launch(Operation&& operation) {
    if constexpr (std::is_void_v<decltype(operation())>) {
        operation();
    } else {
        [[maybe_unused]] auto task = operation();
    }
}

// A label in one of the window's text styles and tints.
inline QLabel* makeLabel(const QString& text, TextStyle style, Tint tint, QWidget* parent,
                         bool semibold = false) {
    auto* label = new QLabel(text, parent);
    applyTextStyle(label, style, semibold);
    if (tint != Tint::primary) {
        applyTint(label, tint);
    }
    return label;
}

// Deletes every item of a layout, widgets included (rows that are rebuilt on each change).
inline void clearLayout(QLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* widget = item->widget()) {
            delete widget;
        } else if (QLayout* child = item->layout()) {
            clearLayout(child);
        }
        delete item;
    }
}

} // namespace korvo
