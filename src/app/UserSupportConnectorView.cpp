#include "app/UserSupportConnectorView.h"

#include "app/ViewSupport.h"
#include "app/ViewText.h"
#include "core/ConnectorModel.h"
#include "core/ConnectorStatusText.h"
#include "model/DisplayText.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace korvo {

namespace {

const char* const kGridLabels[] = {
    "Build",     "Pairing",     "Sources / CLIs", "Detected CLIs", "Auto sync",
    "Mac power", "Last upload", "Open at Login",  "Updates",
};

} // namespace

UserSupportConnectorView::UserSupportConnectorView(ConnectorModel& model, Clock clock,
                                                   KorvoBuildChannel channel, QWidget* parent)
    : QGroupBox(QStringLiteral("Support"), parent), model_(model), clock_(std::move(clock)),
      channel_(channel), actions_(model, this), sources_(new QWidget(this)),
      sourcesLayout_(new QVBoxLayout) {
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    addCaption(layout, this,
               QStringLiteral("Use this when iPhone data is missing, stale, or different from "
                              "provider pages. The support bundle contains sanitized Connector "
                              "state only."));
    values_ = addValueGrid(layout, this, kGridLabels);

    layout->addWidget(
        makeButtonRow(this, {actions_.refreshSources, actions_.copyBundle, actions_.checkUpdates}));
    layout->addWidget(actions_.openAtLogin);

    auto* sourcesOuter = new QVBoxLayout(sources_);
    sourcesOuter->setContentsMargins(0, 0, 0, 0);
    sourcesOuter->addWidget(makeDivider(sources_));
    sourcesOuter->addLayout(sourcesLayout_);
    layout->addWidget(sources_);

    refresh();
}

QLabel* UserSupportConnectorView::valueLabel(const QString& label) const {
    return findValueLabel(values_, label);
}

void UserSupportConnectorView::refresh() {
    const SourceDiagnosticsState& sources = model_.collector().diagnostics();
    const auto& diagnostics = sources.diagnostics;
    const AutoSyncState& autoSync = model_.autoSync().state();
    const QString texts[] = {
        qs(buildChannelLabel(channel_)),
        qs(pairingStateText(model_.pairing().state().isCreatingCode, model_.isPaired())),
        sourceDiagnosticStatusText(sources),
        qs(detectedCliText(diagnostics)),
        desktopWording(autoSyncStatusText(autoSync.status)),
        powerStatusText(autoSync),
        qs(relativeOrNever(model_.uploader().state().lastUploadAt, clock_())),
        loginItemStatusText(model_.launchAtLogin().state()),
        updateStatusText(model_.updateChecker().state()),
    };
    static_assert(std::size(texts) == std::size(kGridLabels));
    for (std::size_t i = 0; i < values_.size(); ++i) {
        values_[i].second->setText(texts[i]);
    }
    actions_.refresh(model_);

    sources_->setVisible(!diagnostics.empty());
    if (diagnostics == shownDiagnostics_) {
        return;
    }
    shownDiagnostics_ = diagnostics;
    clearLayout(sourcesLayout_);
    QStringList notFound;
    for (const AdapterDiagnostic& diagnostic : diagnostics) {
        if (!diagnostic.isAvailable && !diagnostic.limitDataFound) {
            notFound << qs(diagnostic.displayName);
            continue;
        }
        auto* row = new QHBoxLayout;
        row->addWidget(
            makeLabel(qs(diagnostic.displayName), TextStyle::body, Tint::primary, sources_));
        row->addStretch();
        auto* status =
            makeLabel(qs(diagnostic.trackingStatus), TextStyle::caption, Tint::secondary, sources_);
        status->setWordWrap(true);
        status->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        row->addWidget(status, 1);
        sourcesLayout_->addLayout(row);
    }
    if (!notFound.isEmpty()) {
        sourcesLayout_->addWidget(makeNotFoundDisclosure(sources_, notFound));
    }
}

} // namespace korvo
