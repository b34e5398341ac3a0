#include "app/DiagnosticsConnectorView.h"

#include "app/SymbolLabel.h"
#include "app/ViewSupport.h"
#include "app/ViewText.h"
#include "core/ConnectorModel.h"

#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace korvo {

namespace {

const char* const kGridLabels[] = {
    "Relay",         "Relay env", "Pairing",      "Claude source", "Codex source", "Sources / CLIs",
    "Detected CLIs", "Collect",   "Last collect", "Parser error",  "Last upload",  "Upload time",
    "Upload error",  "Auto sync", "Mac power",    "Last sleep",    "Last wake",    "Sync interval",
    "Open at Login", "Updates",   "Update check", "Devices",       "Device error",
};

QFrame* divider(QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    return line;
}

} // namespace

DiagnosticsConnectorView::DiagnosticsConnectorView(ConnectorModel& model, Clock clock,
                                                   QWidget* parent)
    : QGroupBox(QStringLiteral("Diagnostics"), parent), model_(model), clock_(std::move(clock)),
      relayURL_(new QLineEdit(this)),
      relayWarning_(makeLabel({}, TextStyle::caption, Tint::orange, this)),
      loadDevices_(new QPushButton(QStringLiteral("Load Devices"), this)),
      checkUpdates_(new QPushButton(QStringLiteral("Check for Updates"), this)),
      openAtLogin_(new QCheckBox(QStringLiteral("Open Korvo Connector at Login"), this)),
      devices_(new QWidget(this)), devicesLayout_(new QVBoxLayout), sources_(new QWidget(this)),
      sourcesLayout_(new QVBoxLayout) {
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    auto* intro = makeLabel(QStringLiteral("Use Diagnostics when iPhone data is missing, stale, "
                                           "or different from provider pages. Korvo shows "
                                           "remaining quota first and only uploads sanitized "
                                           "snapshot fields."),
                            TextStyle::caption, Tint::secondary, this);
    intro->setWordWrap(true);
    layout->addWidget(intro);

    relayURL_->setObjectName(QStringLiteral("relayURL"));
    loadDevices_->setObjectName(QStringLiteral("loadDevices"));
    checkUpdates_->setObjectName(QStringLiteral("checkForUpdates"));
    openAtLogin_->setObjectName(QStringLiteral("openAtLogin"));
    relayURL_->setPlaceholderText(QStringLiteral("Relay URL"));
    relayURL_->setAccessibleName(QStringLiteral("Relay URL"));
    layout->addWidget(relayURL_);
    relayWarning_->setWordWrap(true);
    layout->addWidget(relayWarning_);
    auto* save = new QPushButton(QStringLiteral("Save Relay URL"), this);
    auto* checkRelay = new QPushButton(QStringLiteral("Check Relay"), this);
    save->setObjectName(QStringLiteral("saveRelayURL"));
    checkRelay->setObjectName(QStringLiteral("checkRelay"));
    layout->addWidget(makeButtonRow(this, {save, checkRelay}));

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
    layout->addWidget(
        makeButtonRow(this, {refreshSources, loadDevices_, copyBundle, checkUpdates_}));
    layout->addWidget(openAtLogin_);

    auto* devicesOuter = new QVBoxLayout(devices_);
    devicesOuter->setContentsMargins(0, 0, 0, 0);
    devicesOuter->addWidget(divider(devices_));
    devicesOuter->addLayout(devicesLayout_);
    layout->addWidget(devices_);

    auto* sourcesOuter = new QVBoxLayout(sources_);
    sourcesOuter->setContentsMargins(0, 0, 0, 0);
    sourcesOuter->addWidget(divider(sources_));
    sourcesLayout_->setSpacing(2);
    sourcesOuter->addLayout(sourcesLayout_);
    layout->addWidget(sources_);

    layout->addWidget(makeLabel(QStringLiteral("Troubleshooting"), TextStyle::caption,
                                Tint::primary, this, true));
    for (const char* note :
         {"Claude limit percentages require Claude Code statusLine rate_limits. Token-only Claude "
          "rows mean local logs were found, but no subscription limit field was available.",
          "Codex can expose active-window and weekly limits. Korvo shows active-window remaining "
          "as primary and weekly remaining as additional limits when available.",
          "When this Mac sleeps, snapshots cannot upload. Korvo Connector marks the Mac as "
          "sleeping and uploads a fresh snapshot shortly after wake.",
          "Widgets update from the iPhone App Group cache, so open the iOS app once after "
          "pairing to refresh the widget snapshot."}) {
        auto* label = makeLabel(desktopWording(QString::fromUtf8(note)), TextStyle::caption,
                                Tint::secondary, this);
        label->setWordWrap(true);
        layout->addWidget(label);
    }

    connect(relayURL_, &QLineEdit::textEdited, this,
            [this](const QString& text) { model_.setRelayBaseURLString(text); });
    connect(relayURL_, &QLineEdit::returnPressed, this, [this] { model_.saveRelaySettings(); });
    connect(save, &QPushButton::clicked, this, [this] { model_.saveRelaySettings(); });
    connect(checkRelay, &QPushButton::clicked, this,
            [this] { launch([this] { return model_.checkRelayHealth(); }); });
    connect(refreshSources, &QPushButton::clicked, this,
            [this] { launch([this] { return model_.refreshSourceDiagnostics(); }); });
    connect(loadDevices_, &QPushButton::clicked, this,
            [this] { launch([this] { return model_.loadDevices(); }); });
    connect(copyBundle, &QPushButton::clicked, this, [this] { model_.copySupportBundle(); });
    connect(checkUpdates_, &QPushButton::clicked, this,
            [this] { launch([this] { return model_.checkForUpdates(false); }); });
    // clicked() comes only from the person, never from refresh() setting the state.
    connect(openAtLogin_, &QCheckBox::clicked, this,
            [this](bool checked) { model_.setLaunchAtLogin(checked); });
    refresh();
}

QLabel* DiagnosticsConnectorView::valueLabel(const QString& label) const {
    return findValueLabel(values_, label);
}

void DiagnosticsConnectorView::refresh() {
    if (relayURL_->text() != model_.relayBaseURLString()) {
        relayURL_->setText(model_.relayBaseURLString());
    }
    const std::optional<QString> relayWarning = model_.relayURLWarning();
    relayWarning_->setVisible(relayWarning.has_value());
    relayWarning_->setText(relayWarning.value_or(QString()));
    const Instant now = clock_();
    const auto& diagnostics = model_.sourceDiagnostics();
    const QString texts[] = {
        model_.relayHealthStatus(),
        model_.relayEnvironment(),
        qs(pairingStateText(model_.isPairing(), model_.isPaired())),
        qs(trackingStatusOf(diagnostics, "claude-code")),
        qs(trackingStatusOf(diagnostics, "codex")),
        model_.sourceDiagnosticStatus(),
        qs(detectedCliText(diagnostics)),
        model_.lastCollectStatus(),
        qs(relativeOrNever(model_.lastSuccessfulCollectAt(), now)),
        model_.lastParserError(),
        model_.lastUploadStatus(),
        qs(relativeOrNever(model_.lastUploadAt(), now)),
        model_.lastUploadError(),
        desktopWording(model_.autoSyncStatus()),
        model_.powerStatus(),
        qs(relativeOrNever(model_.lastSleepAt(), now)),
        qs(relativeOrNever(model_.lastWakeAt(), now)),
        QStringLiteral("30 seconds"),
        model_.launchAtLoginStatus(),
        model_.updateStatus(),
        qs(relativeOrNever(model_.lastUpdateCheckAt(), now)),
        model_.deviceListStatus(),
        model_.lastDeviceListError(),
    };
    static_assert(std::size(texts) == std::size(kGridLabels));
    for (std::size_t i = 0; i < values_.size(); ++i) {
        values_[i].second->setText(texts[i]);
    }
    loadDevices_->setEnabled(model_.isPaired());
    checkUpdates_->setEnabled(!model_.isCheckingForUpdates());
    openAtLogin_->setChecked(model_.launchAtLoginEnabled());

    const auto& devices = model_.relayDevices();
    devices_->setVisible(!devices.empty());
    // The lists are rebuilt only when they changed, so a selection in them survives other
    // updates of the model.
    if (devices != shownDevices_) {
        shownDevices_ = devices;
        rebuildDevices();
    }
    if (diagnostics != shownDiagnostics_) {
        shownDiagnostics_ = diagnostics;
        rebuildSources();
    }
    sources_->setVisible(!diagnostics.empty());
}

void DiagnosticsConnectorView::rebuildDevices() {
    clearLayout(devicesLayout_);
    const auto& devices = shownDevices_;
    for (const RelayDevice& device : devices) {
        auto* stack = new QVBoxLayout;
        stack->setSpacing(0);
        stack->addWidget(makeLabel(qs(device.name + " (" + device.kind + ")"), TextStyle::body,
                                   Tint::primary, devices_));
        if (device.lastSeenAt) {
            stack->addWidget(makeLabel(qs("Last seen: " + *device.lastSeenAt), TextStyle::caption,
                                       Tint::secondary, devices_));
        }
        devicesLayout_->addLayout(stack);
    }
}

void DiagnosticsConnectorView::rebuildSources() {
    clearLayout(sourcesLayout_);
    const auto& diagnostics = shownDiagnostics_;
    for (const AdapterDiagnostic& diagnostic : diagnostics) {
        auto* name = new SymbolLabel(sources_);
        const SymbolChoice choice = diagnosticSourceSymbol(diagnostic);
        name->set(qs(diagnostic.displayName), choice.symbol, choice.tint);
        auto* heading = new QWidget(sources_);
        auto* headingLayout = new QVBoxLayout(heading);
        headingLayout->setContentsMargins(0, 6, 0, 0);
        headingLayout->addWidget(name);
        sourcesLayout_->addWidget(heading);
        const auto caption = [this](const std::string& text) {
            auto* label = makeLabel(qs(text), TextStyle::caption, Tint::secondary, sources_);
            label->setWordWrap(true);
            label->setTextInteractionFlags(Qt::TextSelectableByMouse);
            label->setContentsMargins(22, 0, 0, 0);
            sourcesLayout_->addWidget(label);
        };
        caption(diagnostic.summary);
        for (const std::string& line : diagnostic.detailLines()) {
            caption(line);
        }
        for (const std::string& path : diagnostic.checkedPaths) {
            caption(path);
        }
        for (const std::string& warning : diagnostic.warnings) {
            auto* label = new SymbolLabel(sources_);
            label->set(qs(warning), "info.circle", Tint::secondary);
            applyTextStyle(label->textLabel(), TextStyle::caption);
            label->textLabel()->setWordWrap(true);
            label->setContentsMargins(22, 0, 0, 0);
            sourcesLayout_->addWidget(label);
        }
    }
}

} // namespace korvo
