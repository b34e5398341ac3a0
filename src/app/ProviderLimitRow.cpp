#include "app/ProviderLimitRow.h"

#include "app/UsageSparkline.h"
#include "app/ViewSupport.h"
#include "app/ViewText.h"
#include "model/DisplayText.h"
#include "model/TimeText.h"

#include <QHBoxLayout>
#include <QProgressBar>
#include <QResizeEvent>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace korvo {

namespace {

// The texts of a row, computed once for its key and its widgets.
struct RowTexts {
    QString name;
    QString source;
    UsageFigure figure;
    QString status;
    std::optional<double> gauge;
    QStringList lines; // the caption lines under the first window's gauge
    std::optional<SecondWindow> second;
    QString secondFigure; // "90% remaining"
    QString secondReset;  // "Resets Mon 09:00"
    std::optional<std::string> details;
};

RowTexts rowTexts(const ProviderUsage& provider, Instant now) {
    RowTexts t;
    t.name = qs(provider.displayName);
    t.source = qs(sourceLabel(provider.source) + " · " + confidenceLabel(provider.confidence));
    t.figure = usageFigure(provider);
    t.status = qs(providerStatusLabel(rowStatus(provider)));
    t.gauge = limitGaugeValue(provider);
    // A row without a percentage has nothing used to show and no window to reset.
    if (t.gauge) {
        t.lines << qs("Used " + primaryUsedText(provider));
    }
    t.lines << qs("Window " + primaryWindowText(provider));
    const std::string reset = resetText(provider, now);
    if (t.gauge || reset != "unknown") {
        t.lines << qs("Reset " + reset);
    }
    t.second = secondWindow(provider);
    if (t.second) {
        t.secondFigure = qs(wholePercentText(t.second->remainingPercent) + " remaining");
        t.secondReset = t.second->resetAt
                            ? qs("Resets " + resetPhrase(*t.second->resetAt, now,
                                                         localUtcOffset(*t.second->resetAt)))
                            : QStringLiteral("Reset unknown");
    }
    t.details = tokenDetailsText(provider);
    return t;
}

QProgressBar* makeGauge(double value, Tint tint, const QString& name, QWidget* parent) {
    auto* gauge = new QProgressBar(parent);
    gauge->setRange(0, 100);
    gauge->setValue(static_cast<int>(std::lround(std::clamp(value, 0.0, 100.0))));
    gauge->setTextVisible(false);
    gauge->setFixedHeight(8);
    gauge->setAccessibleName(name);
    QPalette palette = gauge->palette();
    palette.setColor(QPalette::Highlight, tintColor(tint, palette));
    gauge->setPalette(palette);
    return gauge;
}

} // namespace

QStringList ProviderLimitRow::contentKey(const ProviderUsage& provider, Instant now,
                                         const std::optional<ProviderPace>& pace) {
    const RowTexts t = rowTexts(provider, now);
    QString points;
    if (pace && t.gauge) {
        points = pace->text;
        for (const UsagePoint& point : pace->points) {
            points +=
                QStringLiteral(" %1:%2").arg(unixSecondsTruncated(point.at)).arg(point.usedPercent);
        }
    }
    QStringList key{points,
                    t.name,
                    t.source,
                    qs(t.figure.figure),
                    qs(t.figure.caption),
                    t.status,
                    t.gauge ? QString::number(std::lround(*t.gauge)) : QString(),
                    t.secondFigure,
                    t.second ? qs(secondWindowName(*t.second)) : QString(),
                    t.secondReset,
                    qs(t.details.value_or(std::string()))};
    key << t.lines;
    return key;
}

ProviderLimitRow::ProviderLimitRow(const ProviderUsage& provider, Instant now,
                                   const std::optional<ProviderPace>& pace, QWidget* parent)
    : QWidget(parent), provider_(provider) {
    // As tall as its lines, however tall the window: extra height goes below the page.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    const RowTexts t = rowTexts(provider, now);
    const Tint tint = statusTint(rowStatus(provider));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 4, 0, 4);
    layout->setSpacing(4);

    auto* top = new QHBoxLayout;
    auto* names = new QVBoxLayout;
    names->setSpacing(2);
    names->addWidget(makeLabel(t.name, TextStyle::headline, Tint::primary, this));
    names->addWidget(makeLabel(t.source, TextStyle::caption, Tint::secondary, this));
    names->addStretch();
    top->addLayout(names, 1);

    auto* figures = new QVBoxLayout;
    figures->setSpacing(0);
    // Usage that is not a remaining share is not a status: it is written in the primary colour.
    auto* figure = makeLabel(qs(t.figure.figure), TextStyle::title2,
                             t.figure.isRemaining ? tint : Tint::primary, this, true);
    figure->setObjectName(QStringLiteral("figure"));
    figure->setAlignment(Qt::AlignRight);
    // A tool's own remaining text can be a sentence: it wraps rather than widening the page
    // past the window.
    figure->setWordWrap(true);
    figures->addWidget(figure);
    auto* captionRow = new QHBoxLayout;
    captionRow->setSpacing(6);
    captionRow->addStretch();
    if (!t.figure.caption.empty()) {
        captionRow->addWidget(
            makeLabel(qs(t.figure.caption), TextStyle::caption, Tint::secondary, this));
    }
    if (t.figure.isRemaining || provider.status != ProviderStatus::unknown) {
        captionRow->addWidget(makeLabel(t.status, TextStyle::caption, tint, this, true));
    }
    figures->addLayout(captionRow);
    top->addLayout(figures, 1);
    layout->addLayout(top);

    if (t.gauge) {
        gauge_ = makeGauge(*t.gauge, tint,
                           t.name + QStringLiteral(" ") + qs(primaryRemainingText(provider)) +
                               QStringLiteral(" remaining"),
                           this);
        layout->addWidget(gauge_);
    }

    const auto caption = [this, layout](const QString& text) {
        auto* label = makeLabel(text, TextStyle::caption, Tint::secondary, this);
        label->setWordWrap(true);
        layout->addWidget(label);
        return label;
    };
    // A row without a percentage has no window to run out of, so no pace.
    if (pace && t.gauge) {
        if (pace->points.size() >= 2) {
            layout->addWidget(new UsageSparkline(pace->points, this));
        }
        caption(pace->text);
    }
    for (const QString& line : t.lines) {
        caption(line);
    }

    // The second window, as clearly as the first: its name, its remaining figure in its own
    // status colour, a gauge and its reset.
    if (t.second) {
        const QString name = qs(secondWindowName(*t.second));
        const Tint secondTint = statusTint(statusForRemaining(t.second->remainingPercent));
        auto* head = new QHBoxLayout;
        head->setContentsMargins(0, 4, 0, 0);
        head->addWidget(
            makeLabel(name + QStringLiteral(" window"), TextStyle::body, Tint::primary, this));
        head->addStretch();
        auto* secondFigure = makeLabel(t.secondFigure, TextStyle::body, secondTint, this, true);
        secondFigure->setObjectName(QStringLiteral("secondFigure"));
        head->addWidget(secondFigure);
        layout->addLayout(head);
        secondGauge_ = makeGauge(
            t.second->remainingPercent, secondTint,
            t.name + QStringLiteral(" ") + name + QStringLiteral(" ") + t.secondFigure, this);
        layout->addWidget(secondGauge_);
        caption(t.secondReset);
    }
    if (t.details) {
        caption(qs(*t.details));
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
