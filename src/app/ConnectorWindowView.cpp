#include "app/ConnectorWindowView.h"

#include "app/ConnectedConnectorView.h"
#include "app/ConnectorUpdateView.h"
#include "app/CurrentLimitsConnectorView.h"
#include "app/DiagnosticsConnectorView.h"
#include "app/PairingConnectorView.h"
#include "app/UserSupportConnectorView.h"
#include "app/ViewSupport.h"
#include "core/ConnectorModel.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace korvo {

ConnectorWindowView::ConnectorWindowView(ConnectorModel& model, Clock clock,
                                         KorvoBuildChannel channel, QWidget* parent)
    : QScrollArea(parent), model_(model) {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(20, 20, 20, 20);
    layout->setSpacing(16);

    auto* header = new QHBoxLayout;
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(
        makeLabel(QStringLiteral("Korvo Connector"), TextStyle::title2, Tint::primary, page, true));
    status_ = makeLabel({}, TextStyle::body, Tint::secondary, page);
    titles->addWidget(status_);
    header->addLayout(titles, 1);
    refreshNow_ = new QPushButton(QStringLiteral("Refresh Now"), page);
    header->addWidget(refreshNow_, 0, Qt::AlignTop);
    layout->addLayout(header);

    update_ = new ConnectorUpdateView(model, clock, page);
    layout->addWidget(update_);
    limits_ = new CurrentLimitsConnectorView(model, clock, page);
    layout->addWidget(limits_);
    connected_ = new ConnectedConnectorView(model, clock, channel, page);
    layout->addWidget(connected_);
    pairing_ = new PairingConnectorView(model, clock, page);
    layout->addWidget(pairing_);
    if (channel == KorvoBuildChannel::development) {
        diagnostics_ = new DiagnosticsConnectorView(model, clock, page);
        layout->addWidget(diagnostics_);
    } else {
        support_ = new UserSupportConnectorView(model, clock, channel, page);
        layout->addWidget(support_);
    }
    error_ = makeLabel({}, TextStyle::body, Tint::red, page);
    error_->setWordWrap(true);
    error_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(error_);
    layout->addStretch();

    setWidget(page);
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    connect(refreshNow_, &QPushButton::clicked, this,
            [this] { launch([this] { return model_.syncNow(); }); });

    // A burst of field changes becomes one re-read on the next turn of the event loop.
    pending_.setSingleShot(true);
    pending_.setInterval(0);
    connect(&pending_, &QTimer::timeout, this, &ConnectorWindowView::refresh);
    connect(&model, &ConnectorModel::stateChanged, &pending_, qOverload<>(&QTimer::start));
    // Relative times ("2 minutes ago") age without a change of the model.
    ticker_.setInterval(30000);
    connect(&ticker_, &QTimer::timeout, this, &ConnectorWindowView::refresh);
    ticker_.start();
    refresh();
}

void ConnectorWindowView::refresh() {
    pending_.stop();
    status_->setText(model_.statusMessage());
    refreshNow_->setEnabled(model_.isPaired() && !model_.isSyncing());
    update_->refresh();
    limits_->refresh();
    const bool paired = model_.isPaired();
    connected_->setVisible(paired);
    pairing_->setVisible(!paired);
    if (paired) {
        connected_->refresh();
    } else {
        pairing_->refresh();
    }
    if (diagnostics_) {
        diagnostics_->refresh();
    }
    if (support_) {
        support_->refresh();
    }
    const auto& error = model_.errorMessage();
    error_->setVisible(error.has_value());
    error_->setText(error.value_or(QString()));
}

} // namespace korvo
