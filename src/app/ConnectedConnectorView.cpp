#include "app/ConnectedConnectorView.h"

#include "app/SymbolLabel.h"
#include "app/ViewSupport.h"
#include "app/ViewText.h"
#include "core/ConnectorModel.h"
#include "model/DisplayText.h"
#include "model/TimeText.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace korvo {

ConnectedConnectorView::ConnectedConnectorView(ConnectorModel& model, Clock clock,
                                               KorvoBuildChannel channel, QWidget* parent)
    : QWidget(parent), model_(model), clock_(std::move(clock)), sources_(new QVBoxLayout),
      snapshot_(new QVBoxLayout), connected_(new SymbolLabel(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    connected_->setObjectName(QStringLiteral("connectedStatus"));
    layout->addWidget(connected_);

    auto* sourcesBox = new QGroupBox(QStringLiteral("Sources && Detected CLIs"), this);
    sourcesBox->setLayout(sources_);
    layout->addWidget(sourcesBox);
    auto* snapshotBox = new QGroupBox(QStringLiteral("Last Snapshot"), this);
    snapshotBox->setLayout(snapshot_);
    layout->addWidget(snapshotBox);

    auto* actions = makeButtonRow(this, {});
    if (channel == KorvoBuildChannel::development) {
        auto* copyJSON = new QPushButton(QStringLiteral("Copy Latest Snapshot JSON"), actions);
        copyJSON->setObjectName(QStringLiteral("copyLatestSnapshotJSON"));
        connect(copyJSON, &QPushButton::clicked, this, [this] { model_.copyLatestSnapshotJSON(); });
        actions->layout()->addWidget(copyJSON);
    }
    auto* copyBundle = new QPushButton(QStringLiteral("Copy Support Bundle"), actions);
    copyBundle->setObjectName(QStringLiteral("copySupportBundle"));
    connect(copyBundle, &QPushButton::clicked, this, [this] { model_.copySupportBundle(); });
    actions->layout()->addWidget(copyBundle);
    auto* unlink = new QPushButton(QStringLiteral("Unlink Device"), actions);
    unlink->setObjectName(QStringLiteral("unlinkDevice"));
    applyTint(unlink, Tint::red, {QPalette::WindowText, QPalette::Text, QPalette::ButtonText});
    connect(unlink, &QPushButton::clicked, this,
            [this] { launch([this] { return model_.unlinkDevice(); }); });
    actions->layout()->addWidget(unlink);
    layout->addWidget(actions);
    refresh();
}

void ConnectedConnectorView::refresh() {
    // Still linked while uploads fail, but a green check beside a failing sync would read as
    // success: the line turns to a warning until an upload goes through again.
    const bool failing = syncIsFailing(model_.isPaired(), model_.uploader().state().phase);
    if (failing != shownFailing_ || connected_->symbol().empty()) {
        shownFailing_ = failing;
        connected_->set(QStringLiteral("Connected to iPhone"),
                        failing ? "exclamationmark.circle" : "checkmark.circle.fill",
                        failing ? Tint::orange : Tint::green);
    }

    const auto& diagnostics = model_.collector().diagnostics().diagnostics;
    if (diagnostics != shownDiagnostics_) {
        shownDiagnostics_ = diagnostics;
        rebuildSources();
    }

    // The snapshot lines as text first: unchanged text re-creates and re-lays out nothing, and
    // with the same providers only the labels whose text changed are set again.
    QStringList lines;
    // What the phone sees: the last snapshot the relay accepted (the rows above may be newer).
    const auto& snapshot = model_.uploader().state().snapshot;
    if (snapshot) {
        lines << qs("Updated " + relativePastPhrase(snapshot->updatedAt, clock_()));
        for (const ProviderUsage& provider : snapshot->providers) {
            lines << qs(provider.displayName) << qs(confidenceLabel(provider.confidence))
                  << qs(snapshotSummaryText(provider));
        }
    }
    if (lines == shownSnapshot_) {
        return;
    }
    if (!lines.isEmpty() && snapshotLabels_.size() == static_cast<std::size_t>(lines.size())) {
        for (qsizetype i = 0; i < lines.size(); ++i) {
            snapshotLabels_[static_cast<std::size_t>(i)]->setText(lines.at(i));
        }
        shownSnapshot_ = lines;
        return;
    }
    shownSnapshot_ = lines;
    QWidget* snapshotBox = snapshot_->parentWidget();
    clearLayout(snapshot_);
    snapshotLabels_.clear();
    if (lines.isEmpty()) {
        snapshot_->addWidget(makeLabel(QStringLiteral("No snapshot uploaded yet."), TextStyle::body,
                                       Tint::secondary, snapshotBox));
        return;
    }
    const auto add = [this](QLabel* label) {
        snapshotLabels_.push_back(label);
        return label;
    };
    snapshot_->addWidget(
        add(makeLabel(lines.first(), TextStyle::body, Tint::secondary, snapshotBox)));
    for (qsizetype i = 1; i + 2 < lines.size(); i += 3) {
        auto* line = new QHBoxLayout;
        line->addWidget(add(makeLabel(lines.at(i), TextStyle::body, Tint::primary, snapshotBox)));
        line->addWidget(
            add(makeLabel(lines.at(i + 1), TextStyle::body, Tint::secondary, snapshotBox)));
        line->addStretch();
        auto* summary =
            add(makeLabel(lines.at(i + 2), TextStyle::caption, Tint::primary, snapshotBox));
        summary->setWordWrap(true);
        summary->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        line->addWidget(summary, 1);
        snapshot_->addLayout(line);
    }
}

void ConnectedConnectorView::rebuildSources() {
    QWidget* sourcesBox = sources_->parentWidget();
    clearLayout(sources_);
    const auto& diagnostics = *shownDiagnostics_;
    if (diagnostics.empty()) {
        sources_->addWidget(makeLabel(QStringLiteral("Sources and CLIs not checked yet."),
                                      TextStyle::body, Tint::secondary, sourcesBox));
    }
    QStringList notFound;
    for (const AdapterDiagnostic& diagnostic : diagnostics) {
        if (!diagnostic.isAvailable && !diagnostic.limitDataFound) {
            notFound << qs(diagnostic.displayName);
            continue;
        }
        auto* name = new SymbolLabel(sourcesBox);
        const SymbolChoice choice = connectedSourceSymbol(diagnostic);
        name->set(qs(diagnostic.displayName), choice.symbol, choice.tint);
        sources_->addWidget(name);
        for (const std::string& line : {diagnostic.summary, diagnostic.trackingStatus}) {
            auto* caption = makeLabel(qs(line), TextStyle::caption, Tint::secondary, sourcesBox);
            caption->setWordWrap(true);
            caption->setContentsMargins(22, 0, 0, 0);
            sources_->addWidget(caption);
        }
    }
    if (!notFound.isEmpty()) {
        sources_->addWidget(makeNotFoundDisclosure(sourcesBox, notFound));
    }
}

} // namespace korvo
