#pragma once

#include "model/UsagePace.h"

#include <QWidget>
#include <vector>

namespace korvo {

// A small line of a window's used percentage over time, 0 at the bottom and 100 % at the top,
// from its first reading to its last. Draws nothing with fewer than two readings.
class UsageSparkline : public QWidget {
    Q_OBJECT
public:
    explicit UsageSparkline(std::vector<UsagePoint> points, QWidget* parent = nullptr);

    const std::vector<UsagePoint>& points() const { return points_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<UsagePoint> points_;
};

} // namespace korvo
