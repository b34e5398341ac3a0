#include "app/ConnectorWindowView.h"

#include "app/ConnectedConnectorView.h"
#include "app/ConnectorUpdateView.h"
#include "app/CurrentLimitsConnectorView.h"
#include "app/DiagnosticsConnectorView.h"
#include "app/PairingConnectorView.h"
#include "app/QRCodeView.h"
#include "app/UserSupportConnectorView.h"
#include "app/ViewSupport.h"
#include "app/ViewText.h"
#include "core/ConnectorModel.h"
#include "core/ConnectorStatusText.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <algorithm>

namespace korvo {

namespace {

// The page's side margin, and the widest its content grows in a wide window.
constexpr int kSideMargin = 14;
constexpr int kMaxContentWidth = 680;

} // namespace

ConnectorWindowView::ConnectorWindowView(ConnectorModel& model, Clock clock,
                                         KorvoBuildChannel channel, QWidget* parent)
    : QScrollArea(parent), model_(model), clock_(clock) {
    auto* page = new QWidget(this);
    auto* layout = new QVBoxLayout(page);
    // Narrow side margins leave a row of four buttons on one line at the default width.
    layout->setContentsMargins(kSideMargin, 16, kSideMargin, 16);
    layout->setSpacing(16);

    auto* header = new QHBoxLayout;
    auto* titles = new QVBoxLayout;
    titles->setSpacing(2);
    titles->addWidget(
        makeLabel(QStringLiteral("Korvo Connector"), TextStyle::title2, Tint::primary, page, true));
    status_ = makeLabel({}, TextStyle::body, Tint::secondary, page);
    status_->setObjectName(QStringLiteral("status"));
    titles->addWidget(status_);
    // A relay reached over plain HTTP is said under the status, in every build channel.
    relayWarning_ = makeLabel({}, TextStyle::caption, Tint::orange, page);
    relayWarning_->setWordWrap(true);
    titles->addWidget(relayWarning_);
    header->addLayout(titles, 1);
    refreshNow_ = new QPushButton(QStringLiteral("Refresh Now"), page);
    refreshNow_->setObjectName(QStringLiteral("refreshNow"));
    header->addWidget(refreshNow_, 0, Qt::AlignTop);
    layout->addLayout(header);
    // The current error also stands right under the header, where it is seen; the red line at
    // the end of the page stays as well.
    currentError_ = makeLabel({}, TextStyle::body, Tint::red, page);
    currentError_->setObjectName(QStringLiteral("currentError"));
    currentError_->setWordWrap(true);
    currentError_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(currentError_);

    update_ = new ConnectorUpdateView(model.updateChecker(), clock, page);
    layout->addWidget(update_);
    limits_ = new CurrentLimitsConnectorView(model, clock, page);
    layout->addWidget(limits_);
    connected_ = new ConnectedConnectorView(model, clock, channel, page);
    layout->addWidget(connected_);
    pairing_ = new PairingConnectorView(model.pairing(), model.relayClient(), clock, page);
    layout->addWidget(pairing_);
    if (channel == KorvoBuildChannel::development) {
        diagnostics_ = new DiagnosticsConnectorView(model, clock, page);
        layout->addWidget(diagnostics_);
    } else {
        support_ = new UserSupportConnectorView(model, clock, channel, page);
        layout->addWidget(support_);
    }
    error_ = makeLabel({}, TextStyle::body, Tint::red, page);
    error_->setObjectName(QStringLiteral("error"));
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

    // The changes that may come with a change of isPaired(): the sync space, and the keychain
    // read that comes before a connection status, an upload or a device listing.
    const auto paired = {&ConnectorModel::pairingChanged, &ConnectorModel::connectionChanged,
                         &ConnectorModel::uploadChanged, &ConnectorModel::relayChanged};
    follow(paired, [this] { refreshHeader(); });
    follow({&ConnectorModel::updatesChanged}, [this] { update_->refresh(); });
    const auto pairedOrSources = {&ConnectorModel::pairingChanged,
                                  &ConnectorModel::connectionChanged,
                                  &ConnectorModel::uploadChanged, &ConnectorModel::relayChanged,
                                  &ConnectorModel::sourcesChanged};
    follow(pairedOrSources, [this] { limits_->refresh(); });
    follow(pairedOrSources, [this] { refreshPanels(); });
    // The diagnostics and support panels show a field of nearly every concern.
    if (diagnostics_) {
        follow({&ConnectorModel::stateChanged}, [this] { diagnostics_->refresh(); });
    }
    if (support_) {
        follow({&ConnectorModel::stateChanged}, [this] { support_->refresh(); });
    }
    // Relative times ("2 minutes ago") age without a change of the model.
    ticker_.setSingleShot(true);
    connect(&ticker_, &QTimer::timeout, this, &ConnectorWindowView::refresh);
    // The page, not the first text field, has the focus when the window opens: a focused
    // field would have its text selected, and typing would replace it.
    setFocusPolicy(Qt::StrongFocus);
    page->setFocusPolicy(Qt::NoFocus);
    refresh();
}

void ConnectorWindowView::follow(std::initializer_list<ModelChange> changes,
                                 std::function<void()> refresh) {
    // A burst of changes becomes one re-read on the next turn of the event loop.
    auto* pending = new QTimer(this);
    pending->setSingleShot(true);
    pending->setInterval(0);
    connect(pending, &QTimer::timeout, this, [this, refresh] {
        refresh();
        scheduleTick();
        orderTabs();
    });
    for (ModelChange change : changes) {
        connect(&model_, change, pending, qOverload<>(&QTimer::start));
    }
    parts_.push_back(Part{std::move(refresh), pending});
}

void ConnectorWindowView::refresh() {
    for (const Part& part : parts_) {
        part.pending->stop();
        part.refresh();
    }
    scheduleTick();
    orderTabs();
}

void ConnectorWindowView::orderTabs() {
    // Tab follows what is seen: top to bottom, and left to right along a line, whatever order
    // the panels created their controls in and however rows came and went.
    QWidget* page = widget();
    if (page->layout() != nullptr) {
        page->layout()->activate();
    }
    struct Stop {
        QWidget* widget;
        QPoint at;
    };
    std::vector<Stop> stops;
    for (QWidget* w : page->findChildren<QWidget*>()) {
        if ((w->focusPolicy() & Qt::TabFocus) == Qt::TabFocus && w->isVisibleTo(page) &&
            w->focusProxy() == nullptr) {
            stops.push_back({w, w->mapTo(page, QPoint())});
        }
    }
    std::stable_sort(stops.begin(), stops.end(), [](const Stop& a, const Stop& b) {
        return a.at.y() != b.at.y() ? a.at.y() < b.at.y() : a.at.x() < b.at.x();
    });
    for (std::size_t i = 1; i < stops.size(); ++i) {
        QWidget::setTabOrder(stops[i - 1].widget, stops[i].widget);
    }
}

void ConnectorWindowView::refreshHeader() {
    const UploadState& upload = model_.uploader().state();
    const bool failing = syncIsFailing(model_.isPaired(), upload.phase);
    status_->setText(shownStatusText(connectionStatusText(model_.connection().status()),
                                     model_.isPaired(), upload.phase));
    applyTint(status_, failing ? Tint::red : Tint::secondary);
    const std::optional<QString> relayWarning =
        relayTransportWarningText(model_.relaySettings().state());
    relayWarning_->setVisible(relayWarning.has_value());
    relayWarning_->setText(relayWarning.value_or(QString()));
    refreshNow_->setEnabled(model_.isPaired() && !upload.isSyncing);
    const std::optional<QString> error = errorText(model_.connection().error());
    const QString shownError = desktopWording(error.value_or(QString()));
    for (QLabel* line : {currentError_, error_}) {
        line->setVisible(error.has_value());
        line->setText(shownError);
    }
}

void ConnectorWindowView::refreshPanels() {
    const bool paired = model_.isPaired();
    connected_->setVisible(paired);
    pairing_->setVisible(!paired);
    if (paired) {
        connected_->refresh();
    } else {
        pairing_->refresh();
    }
    // A new pairing code comes into view with its QR code, without scrolling by hand.
    const auto& session = model_.pairing().state().session;
    const std::string code = session && !paired ? session->pairingCode : std::string();
    if (code != shownPairingCode_) {
        shownPairingCode_ = code;
        if (!code.empty()) {
            QTimer::singleShot(0, this, [this] {
                if (pairing_->sessionRow()->isVisible()) {
                    widget()->layout()->activate();
                    ensureWidgetVisible(pairing_->sessionRow(), 0, 12);
                }
            });
        }
    }
}

void ConnectorWindowView::revealPairing() {
    refresh();
    QWidget* panel = model_.isPaired() ? static_cast<QWidget*>(connected_) : pairing_;
    // The layout places the panel once the window is shown; scrolling needs its position.
    widget()->layout()->activate();
    verticalScrollBar()->setValue(std::min(panel->y() - 12, verticalScrollBar()->maximum()));
    if (QAbstractButton* first = panel->findChild<QAbstractButton*>()) {
        first->setFocus(Qt::OtherFocusReason);
    }
}

std::optional<std::chrono::milliseconds> ConnectorWindowView::nextTick() const {
    if (!ticker_.isActive()) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(ticker_.interval());
}

void ConnectorWindowView::showEvent(QShowEvent* event) {
    QScrollArea::showEvent(event);
    refresh();
}

void ConnectorWindowView::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    const int side = std::max(kSideMargin, (viewport()->width() - kMaxContentWidth) / 2);
    if (QLayout* layout = widget()->layout(); layout->contentsMargins().left() != side) {
        layout->setContentsMargins(side, 16, side, 16);
    }
}

void ConnectorWindowView::hideEvent(QHideEvent* event) {
    QScrollArea::hideEvent(event);
    ticker_.stop();
}

void ConnectorWindowView::scheduleTick() {
    const auto delay =
        isVisible() ? relativeTimeRefreshDelay(shownDates(), clock_()) : std::nullopt;
    if (delay) {
        // A part re-read after a sync leaves a running tick of the same pace alone: restarted
        // every 30 s, a one-minute tick would never come, and a part that only the tick re-reads
        // (the time of the last update check) would stand still.
        if (!ticker_.isActive() || ticker_.interval() != delay->count()) {
            ticker_.start(*delay);
        }
    } else {
        ticker_.stop();
    }
}

std::vector<Instant> ConnectorWindowView::shownDates() const {
    std::vector<Instant> dates;
    const AutoSyncState& autoSync = model_.autoSync().state();
    for (const auto* date :
         {&model_.updateChecker().state().lastCheckAt, &model_.uploader().state().lastUploadAt,
          &model_.collector().collect().lastSuccessfulCollectAt, &autoSync.lastSleepAt,
          &autoSync.lastWakeAt}) {
        if (*date) {
            dates.push_back(**date);
        }
    }
    if (const auto& snapshot = model_.displaySnapshot()) {
        dates.push_back(snapshot->updatedAt);
        for (const ProviderUsage& provider : snapshot->providers) {
            if (provider.window && provider.window->resetAt) {
                dates.push_back(*provider.window->resetAt);
            }
        }
    }
    if (const auto& session = model_.pairing().state().session; session && !model_.isPaired()) {
        dates.push_back(session->expiresAt);
    }
    return dates;
}

} // namespace korvo
