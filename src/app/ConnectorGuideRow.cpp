#include "app/ConnectorGuideRow.h"

#include "app/AppStyle.h"
#include "app/ViewSupport.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>

namespace korvo {

namespace {

// The 22 x 22 accent circle with the number in white bold caption type.
class NumberBadge : public QWidget {
public:
    NumberBadge(int number, QWidget* parent) : QWidget(parent), number_(number) {
        setFixedSize(22, 22);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(palette().color(QPalette::Highlight));
        painter.drawEllipse(rect());
        QFont font = this->font();
        font.setPointSizeF(font.pointSizeF() * 0.85);
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(rect(), Qt::AlignCenter, QString::number(number_));
    }

private:
    int number_;
};

} // namespace

ConnectorGuideRow::ConnectorGuideRow(int number, const QString& text, QWidget* parent)
    : QWidget(parent), number_(number), textLabel_(plainLabel(this, text)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(10);
    layout->addWidget(new NumberBadge(number, this), 0, Qt::AlignTop);
    textLabel_->setWordWrap(true);
    applyTextStyle(textLabel_, TextStyle::caption);
    applyTint(textLabel_, Tint::secondary);
    layout->addWidget(textLabel_, 1);
}

QString ConnectorGuideRow::text() const {
    return textLabel_->text();
}

} // namespace korvo
