#pragma once

#include "core/ProviderPace.h"
#include "model/Instant.h"
#include "model/UsageSnapshot.h"

#include <QWidget>

class QProgressBar;

namespace korvo {

// One provider of a snapshot: name, source and confidence, the big figure (remaining share
// coloured by status, or the usage of a tool that reports no share), a gauge when a percentage is
// known, the used, window and reset lines, the second window (weekly, 7-day) with its own gauge,
// and the token line; with a pace, a sparkline of the current window and the pace line. Each part
// is a block of the row's vertical layout.
class ProviderLimitRow : public QWidget {
    Q_OBJECT
public:
    ProviderLimitRow(const ProviderUsage& provider, Instant now,
                     const std::optional<ProviderPace>& pace = std::nullopt,
                     QWidget* parent = nullptr);

    /// Everything a row for `provider` shows at `now`: equal keys mean an equal row, so a view
    /// re-creates only the rows whose key changed.
    static QStringList contentKey(const ProviderUsage& provider, Instant now,
                                  const std::optional<ProviderPace>& pace = std::nullopt);

    const ProviderUsage& provider() const { return provider_; }
    // The gauge, or null when the row has no percentage.
    QProgressBar* gauge() const { return gauge_; }
    // The gauge of the second window (weekly, 7-day), or null when the row carries none.
    QProgressBar* secondGauge() const { return secondGauge_; }

    // The height of the row's lines at its current width: the remaining figure wraps, so the
    // height a row needs follows its width.
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    ProviderUsage provider_;
    QProgressBar* gauge_ = nullptr;
    QProgressBar* secondGauge_ = nullptr;
};

} // namespace korvo
