#pragma once

#include "app/AppStyle.h"

#include <QString>
#include <QWidget>
#include <string>

class QLabel;

namespace korvo {

// A label with a leading symbol, both in one tint (the label of a state or a source).
class SymbolLabel : public QWidget {
    Q_OBJECT
public:
    explicit SymbolLabel(QWidget* parent = nullptr);

    void set(const QString& text, std::string_view symbol, Tint tint);

    QString text() const;
    const std::string& symbol() const { return symbol_; }
    Tint tint() const { return tint_; }
    QLabel* textLabel() const { return text_; }

protected:
    // The symbol is drawn again in the tint of a new palette (light or dark).
    void changeEvent(QEvent* event) override;

private:
    void drawSymbol();

    QLabel* icon_;
    QLabel* text_;
    std::string symbol_;
    Tint tint_ = Tint::primary;
};

} // namespace korvo
