#include "app/UserSupportConnectorView.h"

#include "app/ViewSupport.h"
#include "app/ViewText.h"
#include "core/ConnectorModel.h"
#include "model/DisplayText.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
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
      channel_(channel), checkUpdates_(new QPushButton(QStringLiteral("Check for Updates"), this)),
      openAtLogin_(new QCheckBox(QStringLiteral("Open Korvo Connector at Login"), this)),
      sources_(new QWidget(this)), sourcesLayout_(new QVBoxLayout) {
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    auto* intro = makeLabel(QStringLiteral("Use this when iPhone data is missing, stale, or "
                                           "different from provider pages. The support bundle "
                                           "contains sanitized Connector state only."),
                            TextStyle::caption, Tint::secondary, this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(4);
    grid->setColumnStretch(1, 1);
    int row = 0;
    for (const char* name : kGridLabels) {
        auto* label = makeLabel(desktopWording(QString::fromUtf8(name)), TextStyle::body,
                                Tint::secondary, this);
        auto* value = plainLabel(this);
        value->setTextInteractionFlags(Qt::TextSelectableByMouse);
        value->setWordWrap(true);
        grid->addWidget(label, row, 0, Qt::AlignTop);
        grid->addWidget(value, row, 1);
        // Looked up by the label as written, whatever the desktop's wording.
        values_.emplace_back(QString::fromUtf8(name), value);
        ++row;
    }
    layout->addLayout(grid);

    auto* refreshSources = new QPushButton(QStringLiteral("Refresh Sources"), this);
    auto* copyBundle = new QPushButton(QStringLiteral("Copy Support Bundle"), this);
    refreshSources->setObjectName(QStringLiteral("refreshSources"));
    copyBundle->setObjectName(QStringLiteral("copySupportBundle"));
    checkUpdates_->setObjectName(QStringLiteral("checkForUpdates"));
    openAtLogin_->setObjectName(QStringLiteral("openAtLogin"));
    layout->addWidget(makeButtonRow(this, {refreshSources, copyBundle, checkUpdates_}));
    layout->addWidget(openAtLogin_);

    auto* sourcesOuter = new QVBoxLayout(sources_);
    sourcesOuter->setContentsMargins(0, 0, 0, 0);
    auto* line = new QFrame(sources_);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    sourcesOuter->addWidget(line);
    sourcesOuter->addLayout(sourcesLayout_);
    layout->addWidget(sources_);

    connect(refreshSources, &QPushButton::clicked, this,
            [this] { launch([this] { return model_.refreshSourceDiagnostics(); }); });
    connect(copyBundle, &QPushButton::clicked, this, [this] { model_.copySupportBundle(); });
    connect(checkUpdates_, &QPushButton::clicked, this,
            [this] { launch([this] { return model_.checkForUpdates(false); }); });
    connect(openAtLogin_, &QCheckBox::clicked, this,
            [this](bool checked) { model_.setLaunchAtLogin(checked); });
    refresh();
}

QLabel* UserSupportConnectorView::valueLabel(const QString& label) const {
    return findValueLabel(values_, label);
}

void UserSupportConnectorView::refresh() {
    const auto& diagnostics = model_.sourceDiagnostics();
    const QString texts[] = {
        qs(buildChannelLabel(channel_)),
        qs(pairingStateText(model_.isPairing(), model_.isPaired())),
        model_.sourceDiagnosticStatus(),
        qs(detectedCliText(diagnostics)),
        desktopWording(model_.autoSyncStatus()),
        model_.powerStatus(),
        qs(relativeOrNever(model_.lastUploadAt(), clock_())),
        model_.launchAtLoginStatus(),
        model_.updateStatus(),
    };
    static_assert(std::size(texts) == std::size(kGridLabels));
    for (std::size_t i = 0; i < values_.size(); ++i) {
        values_[i].second->setText(texts[i]);
    }
    checkUpdates_->setEnabled(!model_.isCheckingForUpdates());
    openAtLogin_->setChecked(model_.launchAtLoginEnabled());

    sources_->setVisible(!diagnostics.empty());
    if (diagnostics == shownDiagnostics_) {
        return;
    }
    shownDiagnostics_ = diagnostics;
    clearLayout(sourcesLayout_);
    for (const AdapterDiagnostic& diagnostic : diagnostics) {
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
}

} // namespace korvo
