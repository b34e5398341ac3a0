#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QStringList>
#include <QWidget>

namespace korvo::testing {

// Texts of the labels a person would see inside `root`, in widget order.
inline QStringList visibleLabelTexts(const QWidget* root) {
    QStringList texts;
    for (const QLabel* label : root->findChildren<QLabel*>()) {
        if (label->isVisibleTo(root) && !label->text().isEmpty()) {
            texts << label->text();
        }
    }
    return texts;
}

// The visible widget of type W with exactly this text, or null.
template <class W> W* visibleWithText(const QWidget* root, const QString& text) {
    for (W* widget : root->findChildren<W*>()) {
        if (widget->isVisibleTo(root) && widget->text() == text) {
            return widget;
        }
    }
    return nullptr;
}

// Button texts as shown: "&&" in a button's text is a literal ampersand.
inline QAbstractButton* button(const QWidget* root, QString shown) {
    return visibleWithText<QAbstractButton>(root, shown.replace('&', QStringLiteral("&&")));
}

inline QLabel* visibleLabel(const QWidget* root, const QString& text) {
    return visibleWithText<QLabel>(root, text);
}

} // namespace korvo::testing
