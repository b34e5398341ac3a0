#include "app/SymbolLabel.h"

#include <QHBoxLayout>
#include <QLabel>

namespace korvo {

SymbolLabel::SymbolLabel(QWidget* parent)
    : QWidget(parent), icon_(new QLabel(this)), text_(new QLabel(this)) {
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
    if (symbol != symbol_) {
        symbol_ = std::string(symbol);
        icon_->setPixmap(symbolIcon(symbol).pixmap(16, 16));
    }
    tint_ = tint;
}

QString SymbolLabel::text() const {
    return text_->text();
}

} // namespace korvo
