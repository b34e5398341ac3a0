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

// The visible button with exactly this text, or null.
inline QAbstractButton* visibleButton(const QWidget* root, const QString& text) {
    for (QAbstractButton* button : root->findChildren<QAbstractButton*>()) {
        if (button->isVisibleTo(root) && button->text() == text) {
            return button;
        }
    }
    return nullptr;
}

// The visible label with exactly this text, or null.
inline QLabel* visibleLabel(const QWidget* root, const QString& text) {
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (label->isVisibleTo(root) && label->text() == text) {
            return label;
        }
    }
    return nullptr;
}

} // namespace korvo::testing
