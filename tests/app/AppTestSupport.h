#pragma once

#include "core/ConnectorModel.h"
#include "platform/Notifier.h"
#include "sources/adapters/MockAdapter.h"
#include "support/ModelHarness.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMenu>
#include <QTest>
#include <gtest/gtest.h>

namespace korvo::test {

// What the visible widgets of type W inside `root` show (by `text`: a label's text, a group's
// title; a literal "&" written "&&" reads as one), in widget order, empty ones left out.
template <class W>
QStringList visibleTexts(const QWidget* root, QString (W::*text)() const = &QLabel::text) {
    QStringList texts;
    for (const W* widget : root->findChildren<W*>()) {
        if (widget->isVisibleTo(root) && !(widget->*text)().isEmpty()) {
            texts << (widget->*text)().replace("&&", "&");
        }
    }
    return texts;
}
inline QStringList visibleLabelTexts(const QWidget* root) {
    return visibleTexts<QLabel>(root);
}

// The visible widget of type W with this object name, or null.
template <class W = QLabel> W* named(const QWidget* root, const QString& name) {
    for (W* widget : root->findChildren<W*>(name)) {
        if (widget->isVisibleTo(root)) {
            return widget;
        }
    }
    return nullptr;
}
// The visible label with this text, or null: for checking that a text is shown.
inline QLabel* visible(const QWidget* root, const QString& text) {
    for (QLabel* label : root->findChildren<QLabel*>()) {
        if (label->isVisibleTo(root) && label->text().replace("&&", "&") == text) {
            return label;
        }
    }
    return nullptr;
}
inline QAbstractButton* button(const QWidget* root, const QString& name) {
    return named<QAbstractButton>(root, name);
}
// Whether the visible button with this name is enabled; nothing when there is none.
inline std::optional<bool> enabled(const QWidget* root, const QString& name) {
    const QAbstractButton* found = button(root, name);
    return found ? std::optional(found->isEnabled()) : std::nullopt;
}

// The menu's entries as shown, "--" for a separator.
inline QStringList actionTexts(const QMenu& menu) {
    QStringList texts;
    for (const QAction* action : menu.actions()) {
        if (action->isVisible()) {
            texts << (action->isSeparator() ? QStringLiteral("--") : action->text());
        }
    }
    return texts;
}
// The visible menu entry with this object name, or, for the rows of text that have none, with
// this text; null when there is none.
inline QAction* action(const QMenu& menu, const QString& nameOrText) {
    for (QAction* item : menu.actions()) {
        if (item->isVisible() && (item->objectName() == nameOrText ||
                                  (item->objectName().isEmpty() && item->text() == nameOrText))) {
            return item;
        }
    }
    return nullptr;
}

// A tool that is or is not on this machine, as its adapter would report it; its row is the
// usage it reads.
inline std::shared_ptr<test::FixedAdapter> tool(std::string id, std::string name, bool available,
                                                bool limits = false) {
    auto adapter = std::make_shared<test::FixedAdapter>(std::move(id), std::move(name));
    adapter->diagnostic.isAvailable = adapter->diagnostic.cliInstalled = available;
    adapter->diagnostic.limitDataFound = limits;
    adapter->diagnostic.trackingStatus = available ? "Detected" : "Not detected";
    return adapter;
}

// Keeps the desktop notifications instead of showing them.
struct RecordingNotifier final : Notifier {
    void notify(const QString& summary, const QString& body) override {
        notices.append(summary + QStringLiteral(": ") + body);
    }
    QStringList notices;
};

} // namespace korvo::test
