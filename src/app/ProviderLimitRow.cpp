#include "app/ProviderLimitRow.h"

#include "app/UsageSparkline.h"
#include "app/ViewSupport.h"
#include "app/ViewText.h"
#include "model/DisplayText.h"

#include <QHBoxLayout>
#include <QProgressBar>
#include <QResizeEvent>
#include <QVBoxLayout>
#include <cmath>

namespace korvo {

QStringList ProviderLimitRow::contentKey(const ProviderUsage& provider, Instant now,
                                         const std::optional<ProviderPace>& pace) {
    const auto gauge = limitGaugeValue(provider);
    QString points;
    if (pace) {
        points = pace->text;
        for (const UsagePoint& point : pace->points) {
            points +=
                QStringLiteral(" %1:%2").arg(unixSecondsTruncated(point.at)).arg(point.usedPercent);
        }
    }
    return {points,
            qs(provider.displayName),
            qs(sourceLabel(provider.source) + " · " + confidenceLabel(provider.confidence)),
            qs(primaryRemainingText(provider)),
            qs(providerStatusLabel(provider.status)),
            gauge ? QString::number(std::lround(*gauge)) : QString(),
            qs(primaryUsedText(provider)),
            qs(primaryWindowText(provider)),
            qs(resetText(provider, now)),
            qs(tokenDetailsText(provider).value_or(std::string()))};
}

ProviderLimitRow::ProviderLimitRow(const ProviderUsage& provider, Instant now,
                                   const std::optional<ProviderPace>& pace, QWidget* parent)
    : QWidget(parent), provider_(provider) {
    // As tall as its lines, however tall the window: extra height goes below the page.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    const Tint tint = statusTint(provider.status);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->setSpacing(4);

    auto* top = new QHBoxLayout;
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    names->addWidget(makeLabel(qs(provider.displayName), TextStyle::headline, Tint::primary, this));
    names->addWidget(
        makeLabel(qs(sourceLabel(provider.source) + " · " + confidenceLabel(provider.confidence)),
                  TextStyle::caption, Tint::secondary, this));
    names->addStretch();
    top->addLayout(names, 1);

    auto* figures = new QVBoxLayout;
    figures->setSpacing(0);
    auto* figure =
        makeLabel(qs(primaryRemainingText(provider)), TextStyle::title2, tint, this, true);
    figure->setAlignment(Qt::AlignRight);
    // A tool's own remaining text can be a sentence: it wraps rather than widening the page
    // past the window.
    figure->setWordWrap(true);
    figures->addWidget(figure);
    auto* captionRow = new QHBoxLayout;
    captionRow->setSpacing(6);
    captionRow->addStretch();
    captionRow->addWidget(
        makeLabel(QStringLiteral("remaining"), TextStyle::caption, Tint::secondary, this));
    captionRow->addWidget(
        makeLabel(qs(providerStatusLabel(provider.status)), TextStyle::caption, tint, this, true));
    figures->addLayout(captionRow);
    top->addLayout(figures, 1);
    layout->addLayout(top);

    if (const auto value = limitGaugeValue(provider)) {
        gauge_ = new QProgressBar(this);
        gauge_->setRange(0, 100);
        gauge_->setValue(static_cast<int>(std::lround(*value)));
        gauge_->setTextVisible(false);
        gauge_->setFixedHeight(8);
        QPalette palette = gauge_->palette();
        palette.setColor(QPalette::Highlight, tintColor(tint, palette));
        gauge_->setPalette(palette);
        layout->addWidget(gauge_);
    }

    const auto caption = [this, layout](const std::string& text) {
        auto* label = makeLabel(qs(text), TextStyle::caption, Tint::secondary, this);
        label->setWordWrap(true);
        layout->addWidget(label);
    };
    if (pace) {
        if (pace->points.size() >= 2) {
            layout->addWidget(new UsageSparkline(pace->points, this));
        }
        caption(pace->text.toStdString());
    }
    caption("Used " + primaryUsedText(provider));
    caption("Window " + primaryWindowText(provider));
    caption("Reset " + resetText(provider, now));
    if (const auto details = tokenDetailsText(provider)) {
        caption(*details);
    }
}

QSize ProviderLimitRow::sizeHint() const {
    QSize hint = QWidget::sizeHint();
    if (layout() != nullptr && layout()->hasHeightForWidth()) {
        hint.setHeight(layout()->totalHeightForWidth(width()));
    }
    return hint;
}

void ProviderLimitRow::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The height the row may take changed with its width: the layout asks again.
    if (event->size().width() != event->oldSize().width()) {
        updateGeometry();
    }
}

} // namespace korvo
