#include "app/CurrentLimitsConnectorView.h"

#include "app/ProviderLimitRow.h"
#include "app/ViewSupport.h"
#include "app/ViewText.h"
#include "core/ConnectorModel.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace korvo {

CurrentLimitsConnectorView::CurrentLimitsConnectorView(ConnectorModel& model, Clock clock,
                                                       QWidget* parent)
    : QGroupBox(desktopWording(QStringLiteral("Current Limits on This Mac")), parent),
      model_(model), clock_(std::move(clock)),
      noData_(makeLabel(QStringLiteral("No local limit data found yet. Korvo can still detect "
                                       "CLIs; quota percentages appear only when the local CLI "
                                       "exposes a sanitized usage or rate-limit field."),
                        TextStyle::caption, Tint::secondary, this)),
      latest_(makeLabel(QStringLiteral("Latest local read"), TextStyle::caption, Tint::secondary,
                        this)),
      rows_(new QVBoxLayout),
      refreshAndUpload_(new QPushButton(QStringLiteral("Refresh && Upload"), this)) {
    auto* layout = new QVBoxLayout(this);
    noData_->setWordWrap(true);
    layout->addWidget(noData_);
    latest_->setObjectName(QStringLiteral("limitsCaption"));
    latest_->setWordWrap(true);
    layout->addWidget(latest_);
    rows_->setSpacing(6);
    layout->addLayout(rows_);
    auto* refreshLimits = new QPushButton(QStringLiteral("Refresh Limits"), this);
    refreshLimits->setObjectName(QStringLiteral("refreshLimits"));
    refreshAndUpload_->setObjectName(QStringLiteral("refreshAndUpload"));
    layout->addWidget(makeButtonRow(this, {refreshLimits, refreshAndUpload_}));

    connect(refreshLimits, &QPushButton::clicked, this,
            [this] { launch([this] { return model_.refreshLocalLimits(); }); });
    connect(refreshAndUpload_, &QPushButton::clicked, this,
            [this] { launch([this] { return model_.syncNow(); }); });
    refresh();
}

void CurrentLimitsConnectorView::refresh() {
    const auto& snapshot = model_.displaySnapshot();
    const bool hasRows = snapshot && !snapshot->providers.empty();
    noData_->setVisible(!hasRows);
    latest_->setVisible(hasRows);
    const UploadState& upload = model_.uploader().state();
    const std::optional<UsageSnapshot>& uploaded = upload.snapshot;
    const QString caption = qs(
        limitsCaptionText(model_.displayIsNotUploaded(),
                          uploaded ? std::optional(uploaded->updatedAt) : std::nullopt, clock_()));
    if (latest_->text() != caption) {
        latest_->setText(caption);
        applyTint(latest_, model_.displayIsNotUploaded() ? Tint::orange : Tint::secondary);
    }
    refreshAndUpload_->setEnabled(model_.isPaired() && !upload.isSyncing);

    // Only rows whose texts changed are re-created: a sync that changes nothing shown lays out
    // nothing, and one changed provider re-lays out one row.
    const Instant now = clock_();
    std::vector<QStringList> keys;
    std::vector<ProviderPace> paces;
    if (hasRows) {
        paces = providerPaces(*snapshot, model_.collector().collect().history, now);
        for (std::size_t i = 0; i < snapshot->providers.size(); ++i) {
            keys.push_back(ProviderLimitRow::contentKey(snapshot->providers[i], now, paces[i]));
        }
    }
    if (keys == shownRows_) {
        return;
    }
    if (keys.size() != shownRows_.size()) {
        clearLayout(rows_);
        shownRows_.assign(keys.size(), QStringList());
        for (std::size_t i = 0; i < keys.size(); ++i) {
            if (i > 0) {
                rows_->addWidget(makeDivider(this));
            }
            rows_->addWidget(new QWidget(this)); // replaced below
        }
    }
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (keys[i] == shownRows_[i]) {
            continue;
        }
        const int index = static_cast<int>(2 * i);
        QLayoutItem* old = rows_->takeAt(index);
        delete old->widget();
        delete old;
        rows_->insertWidget(index,
                            new ProviderLimitRow(snapshot->providers[i], now, paces[i], this));
    }
    shownRows_ = std::move(keys);
}

} // namespace korvo
