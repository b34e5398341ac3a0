#pragma once

#include "app/AppStyle.h"
#include "app/FlowLayout.h"
#include "app/TextLabel.h"
#include "app/ViewText.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QLayout>
#include <QString>
#include <QStringList>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>
#include <initializer_list>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

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

// Menu items and buttons read "&" as the mark of a keyboard shortcut; this shows it as text.
inline QString literalAmpersands(QString text) {
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
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

// A label that shows its text as it is. Labels show device names, error texts and URLs that come
// from the relay; as rich text they could draw markup or links into the window.
inline QLabel* plainLabel(QWidget* parent, const QString& text = {}) {
    auto* label = new TextLabel(parent);
    label->setText(text);
    return label;
}

// A plain-text label in one of the window's text styles and tints.
inline QLabel* makeLabel(const QString& text, TextStyle style, Tint tint, QWidget* parent,
                         bool semibold = false) {
    auto* label = plainLabel(parent, text);
    applyTextStyle(label, style, semibold);
    if (tint != Tint::primary) {
        applyTint(label, tint);
    }
    return label;
}

// The value label beside `label` in a panel's (label text, value label) pairs, or nullptr.
inline QLabel* findValueLabel(const std::vector<std::pair<QString, QLabel*>>& values,
                              const QString& label) {
    for (const auto& [name, value] : values) {
        if (name == label) {
            return value;
        }
    }
    return nullptr;
}

// A panel's grid of status lines: each label in the desktop's wording, its value beside it.
// Returns the (label as written, value label) pairs for findValueLabel().
template <std::size_t Count>
std::vector<std::pair<QString, QLabel*>> addValueGrid(QBoxLayout* layout, QWidget* parent,
                                                      const char* const (&labels)[Count]) {
    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(4);
    grid->setColumnStretch(1, 1);
    std::vector<std::pair<QString, QLabel*>> values;
    int row = 0;
    for (const char* name : labels) {
        auto* label = makeLabel(desktopWording(QString::fromUtf8(name)), TextStyle::body,
                                Tint::secondary, parent);
        auto* value = plainLabel(parent);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setWordWrap(true);
        grid->addWidget(label, row, 0, Qt::AlignTop);
        grid->addWidget(value, row, 1);
        // Looked up by the label as written, whatever the desktop's wording.
        values.emplace_back(QString::fromUtf8(name), value);
        ++row;
    }
    layout->addLayout(grid);
    return values;
}

// A caption that wraps, added to `layout` (introductions and notes of a panel).
inline QLabel* addCaption(QBoxLayout* layout, QWidget* parent, const QString& text) {
    auto* label = makeLabel(text, TextStyle::caption, Tint::secondary, parent);
    label->setWordWrap(true);
    layout->addWidget(label);
    return label;
}

// A thin horizontal line between rows or blocks.
inline QFrame* makeDivider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

// A row of buttons that wraps onto more lines when the window is narrow.
inline QWidget* makeButtonRow(QWidget* parent, std::initializer_list<QWidget*> buttons) {
    auto* row = new QWidget(parent);
    auto* flow = new FlowLayout(row);
    for (QWidget* button : buttons) {
        button->setParent(row);
        flow->addWidget(button);
    }
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    row->setSizePolicy(policy);
    return row;
}

// Tools that are not installed, collapsed into one line "Not found (N)" that discloses their
// names when pressed.
inline QWidget* makeNotFoundDisclosure(QWidget* parent, const QStringList& names) {
    auto* box = new QWidget(parent);
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    auto* toggle = new QToolButton(box);
    toggle->setObjectName(QStringLiteral("notFound"));
    toggle->setText(QStringLiteral("Not found (%1)").arg(names.size()));
    toggle->setCheckable(true);
    toggle->setAutoRaise(true);
    toggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toggle->setArrowType(Qt::RightArrow);
    auto* list =
        makeLabel(names.join(QStringLiteral(", ")), TextStyle::caption, Tint::secondary, box);
    list->setObjectName(QStringLiteral("notFoundNames"));
    list->setWordWrap(true);
    list->setContentsMargins(22, 0, 0, 0);
    list->setVisible(false);
    layout->addWidget(toggle);
    layout->addWidget(list);
    QObject::connect(toggle, &QToolButton::toggled, list, [toggle, list](bool open) {
        toggle->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        list->setVisible(open);
    });
    return box;
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
