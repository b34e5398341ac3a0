#pragma once

#include <QLabel>
#include <QMargins>
#include <QString>
#include <array>

namespace korvo {

// A plain-text label that remembers its height for the last few widths. QLabel lays its text out
// again on every heightForWidth() call, and a layout pass of the window asks every wrapping label
// several times, so a sync that changes one value re-shaped the text of every other one. The
// answers are kept per text, font, margins and wrapping, which is everything they depend on.
class TextLabel : public QLabel {
    Q_OBJECT
public:
    explicit TextLabel(QWidget* parent = nullptr);

    int heightForWidth(int width) const override;

protected:
    void changeEvent(QEvent* event) override;

private:
    struct Answer {
        int width = -1;
        int height = 0;
    };
    // What the answers were computed for; any difference empties them.
    struct Inputs {
        QString text;
        QMargins margins;
        int indent = 0;
        int margin = 0;
        bool wordWrap = false;
        Qt::Alignment alignment;
        bool operator==(const Inputs&) const = default;
    };
    Inputs currentInputs() const;

    mutable Inputs inputs_;
    mutable std::array<Answer, 4> answers_;
    mutable std::size_t next_ = 0;
};

} // namespace korvo
