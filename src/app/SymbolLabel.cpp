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

void SymbolLabel::set(const QString& text, std::string_view symbol, Tint tint) {
    text_->setText(text);
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
