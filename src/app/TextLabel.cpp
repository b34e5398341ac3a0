#include "app/TextLabel.h"

#include <QEvent>

namespace korvo {

TextLabel::TextLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
}

TextLabel::Inputs TextLabel::currentInputs() const {
    return {text(), contentsMargins(), indent(), margin(), wordWrap(), alignment()};
}

int TextLabel::heightForWidth(int width) const {
    Inputs now = currentInputs();
    if (!(now == inputs_)) {
        inputs_ = std::move(now);
        answers_.fill({});
    }
    for (const Answer& answer : answers_) {
        if (answer.width == width) {
            return answer.height;
        }
    }
    const int height = QLabel::heightForWidth(width);
    answers_[next_] = {width, height};
    next_ = (next_ + 1) % answers_.size();
    return height;
}

void TextLabel::changeEvent(QEvent* event) {
    // Font, style and similar changes alter the layout of the same text.
    answers_.fill({});
    QLabel::changeEvent(event);
}

} // namespace korvo
