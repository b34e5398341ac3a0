#include "app/UsageSparkline.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace korvo {

UsageSparkline::UsageSparkline(std::vector<UsagePoint> points, QWidget* parent)
    : QWidget(parent), points_(std::move(points)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(sizeHint().height());
    setAccessibleName(QStringLiteral("Usage of the current window"));
}

QSize UsageSparkline::sizeHint() const {
    return {160, 24};
}

void UsageSparkline::paintEvent(QPaintEvent*) {
    if (points_.size() < 2) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(1, 2, -1, -2);
    const double first = double(unixSecondsTruncated(points_.front().at));
    const double span = std::max(1.0, double(unixSecondsTruncated(points_.back().at)) - first);
    const auto place = [&](const UsagePoint& point) {
        const double x = (double(unixSecondsTruncated(point.at)) - first) / span;
        const double y = std::clamp(point.usedPercent, 0.0, 100.0) / 100.0;
        return QPointF(area.left() + x * area.width(), area.bottom() - y * area.height());
    };
    // The used share as a step line: a reading holds until the next one.
    QPainterPath line(place(points_.front()));
    for (std::size_t i = 1; i < points_.size(); ++i) {
        const QPointF at = place(points_[i]);
        line.lineTo(at.x(), line.currentPosition().y());
        line.lineTo(at);
    }
    QPainterPath fill = line;
    fill.lineTo(area.right(), area.bottom());
    fill.lineTo(area.left(), area.bottom());
    fill.closeSubpath();
    QColor color = palette().color(QPalette::Highlight);
    QColor shade = color;
    shade.setAlphaF(0.18f);
    painter.fillPath(fill, shade);
    painter.setPen(QPen(color, 1.5));
    painter.drawPath(line);
    // The 100 % line, faint.
    QColor limit = palette().color(QPalette::WindowText);
    limit.setAlphaF(0.2f);
    painter.setPen(QPen(limit, 1, Qt::DotLine));
    painter.drawLine(QPointF(area.left(), area.top()), QPointF(area.right(), area.top()));
}

} // namespace korvo
