#pragma once

#include <QString>
#include <QWidget>

class QLabel;

namespace korvo {

// One numbered instruction: the number in a small accent-coloured circle, then the text.
class ConnectorGuideRow : public QWidget {
    Q_OBJECT
public:
    ConnectorGuideRow(int number, const QString& text, QWidget* parent = nullptr);

    int number() const { return number_; }
    QString text() const;

private:
    int number_;
    QLabel* textLabel_;
};

} // namespace korvo
