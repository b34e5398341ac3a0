#include "app/SymbolLabel.h"

#include "app/ViewSupport.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>

namespace korvo {

SymbolLabel::SymbolLabel(QWidget* parent)
    : QWidget(parent), icon_(plainLabel(this)), text_(plainLabel(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    icon_->setFixedSize(16, 16);
    layout->addWidget(icon_);
    layout->addWidget(text_, 1);
}

namespace {

// What a symbol's colour says, for screen readers, which do not see the colour.
QString stateWord(Tint tint) {
    switch (tint) {
    case Tint::green:
        return QStringLiteral("OK");
    case Tint::orange:
        return QStringLiteral("Needs attention");
    case Tint::red:
        return QStringLiteral("Problem");
    case Tint::blue:
    case Tint::secondary:
    case Tint::primary:
        break;
    }
    return {};
}

} // namespace

void SymbolLabel::set(const QString& text, std::string_view symbol, Tint tint) {
    text_->setText(text);
    // The symbol is named by the text beside it and described by the state its colour shows.
    icon_->setAccessibleName(text);
    icon_->setAccessibleDescription(stateWord(tint));
    applyTint(text_, tint);
    if (symbol != symbol_ || tint != tint_) {
        symbol_ = std::string(symbol);
        tint_ = tint;
        drawSymbol();
    }
}

void SymbolLabel::drawSymbol() {
    const QIcon icon = tint_ == Tint::primary
                           ? symbolIcon(symbol_)
                           : tintedSymbolIcon(symbol_, tintColor(tint_, QApplication::palette()));
    icon_->setPixmap(icon.pixmap(16, 16));
}

void SymbolLabel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && !symbol_.empty()) {
        drawSymbol();
    }
}

QString SymbolLabel::text() const {
    return text_->text();
}

} // namespace korvo
