#include "app/DiagnosticsConnectorView.h"

#include "app/SymbolLabel.h"
#include "app/ViewSupport.h"
#include "app/ViewText.h"
#include "core/ConnectorModel.h"
#include "core/ConnectorStatusText.h"

#include <QCheckBox>
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

} // namespace

DiagnosticsConnectorView::DiagnosticsConnectorView(ConnectorModel& model, Clock clock,
                                                   QWidget* parent)
    : QGroupBox(QStringLiteral("Diagnostics"), parent), model_(model), clock_(std::move(clock)),
      relayURL_(new QLineEdit(this)),
      relayWarning_(makeLabel({}, TextStyle::caption, Tint::orange, this)),
      loadDevices_(new QPushButton(QStringLiteral("Load Devices"), this)), actions_(model, this),
      devices_(new QWidget(this)), devicesLayout_(new QVBoxLayout), sources_(new QWidget(this)),
      sourcesLayout_(new QVBoxLayout) {
    auto* layout = new QVBoxLayout(this);
    layout->setSpacing(10);
    addCaption(layout, this,
               QStringLiteral("Use Diagnostics when iPhone data is missing, stale, or different "
                              "from provider pages. Korvo shows remaining quota first and only "
                              "uploads sanitized snapshot fields."));

    relayURL_->setObjectName(QStringLiteral("relayURL"));
    loadDevices_->setObjectName(QStringLiteral("loadDevices"));
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

    values_ = addValueGrid(layout, this, kGridLabels);

    layout->addWidget(makeButtonRow(
        this, {actions_.refreshSources, loadDevices_, actions_.copyBundle, actions_.checkUpdates}));
    layout->addWidget(actions_.openAtLogin);

    auto* devicesOuter = new QVBoxLayout(devices_);
    devicesOuter->setContentsMargins(0, 0, 0, 0);
    devicesOuter->addWidget(makeDivider(devices_));
    devicesOuter->addLayout(devicesLayout_);
    layout->addWidget(devices_);

    auto* sourcesOuter = new QVBoxLayout(sources_);
    sourcesOuter->setContentsMargins(0, 0, 0, 0);
    sourcesOuter->addWidget(makeDivider(sources_));
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
        addCaption(layout, this, desktopWording(QString::fromUtf8(note)));
    }

    connect(relayURL_, &QLineEdit::textEdited, this,
            [this](const QString& text) { model_.setRelayBaseURLString(text); });
    connect(relayURL_, &QLineEdit::returnPressed, this, [this] { model_.saveRelaySettings(); });
    connect(save, &QPushButton::clicked, this, [this] { model_.saveRelaySettings(); });
    connect(checkRelay, &QPushButton::clicked, this,
            [this] { launch([this] { return model_.checkRelayHealth(); }); });
    connect(loadDevices_, &QPushButton::clicked, this,
            [this] { launch([this] { return model_.loadDevices(); }); });
    refresh();
}

QLabel* DiagnosticsConnectorView::valueLabel(const QString& label) const {
    return findValueLabel(values_, label);
}

void DiagnosticsConnectorView::refresh() {
    const RelayState& relay = model_.relaySettings().state();
    const CollectState& collect = model_.collector().collect();
    const UploadState& upload = model_.uploader().state();
    const AutoSyncState& autoSync = model_.autoSync().state();
    const UpdateState& updates = model_.updateChecker().state();
    if (relayURL_->text() != relay.baseURLString) {
        relayURL_->setText(relay.baseURLString);
    }
    const std::optional<QString> relayWarning = relayTransportWarningText(relay);
    relayWarning_->setVisible(relayWarning.has_value());
    relayWarning_->setText(relayWarning.value_or(QString()));
    const Instant now = clock_();
    const SourceDiagnosticsState& sources = model_.collector().diagnostics();
    const auto& diagnostics = sources.diagnostics;
    const QString texts[] = {
        relayHealthText(relay),
        relayEnvironmentText(relay),
        qs(pairingStateText(model_.pairing().state().isCreatingCode, model_.isPaired())),
        qs(trackingStatusOf(diagnostics, "claude-code")),
        qs(trackingStatusOf(diagnostics, "codex")),
        sourceDiagnosticStatusText(sources),
        qs(detectedCliText(diagnostics)),
        collectStatusText(collect),
        qs(relativeOrNever(collect.lastSuccessfulCollectAt, now)),
        parserErrorText(collect.parserError),
        uploadStatusText(upload),
        qs(relativeOrNever(upload.lastUploadAt, now)),
        uploadErrorText(upload),
        desktopWording(autoSyncStatusText(autoSync.status)),
        powerStatusText(autoSync),
        qs(relativeOrNever(autoSync.lastSleepAt, now)),
        qs(relativeOrNever(autoSync.lastWakeAt, now)),
        QStringLiteral("30 seconds"),
        loginItemStatusText(model_.launchAtLogin().state()),
        updateStatusText(updates),
        qs(relativeOrNever(updates.lastCheckAt, now)),
        deviceListStatusText(relay),
        deviceListErrorText(relay),
    };
    static_assert(std::size(texts) == std::size(kGridLabels));
    for (std::size_t i = 0; i < values_.size(); ++i) {
        values_[i].second->setText(texts[i]);
    }
    loadDevices_->setEnabled(model_.isPaired());
    actions_.refresh(model_);

    const auto& devices = relay.devices;
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
