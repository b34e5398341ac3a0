#include "app/ConnectorUpdateView.h"

#include "app/SymbolLabel.h"
#include "app/ViewSupport.h"
#include "app/ViewText.h"
#include "core/ConnectorStatusText.h"
#include "core/UpdateChecker.h"

#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace korvo {

ConnectorUpdateView::ConnectorUpdateView(UpdateChecker& updates, Clock clock, QWidget* parent)
    : QGroupBox(QStringLiteral("Updates"), parent), updates_(updates), clock_(std::move(clock)),
      state_(new SymbolLabel(this)),
      checked_(makeLabel({}, TextStyle::caption, Tint::secondary, this)),
      available_(new QWidget(this)),
      version_(makeLabel({}, TextStyle::caption, Tint::secondary, available_)),
      checkAgain_(new QPushButton(QStringLiteral("Check Again"), available_)),
      current_(new QWidget(this)),
      updateStatus_(makeLabel({}, TextStyle::caption, Tint::secondary, current_)),
      check_(new QPushButton(current_)) {
    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    top->addWidget(state_);
    top->addStretch();
    top->addWidget(checked_);
    layout->addLayout(top);

    auto* availableLayout = new QVBoxLayout(available_);
    availableLayout->setContentsMargins(0, 0, 0, 0);
    version_->setWordWrap(true);
    availableLayout->addWidget(version_);
    auto* download = new QPushButton(QStringLiteral("Download Update"), available_);
    download->setObjectName(QStringLiteral("downloadUpdate"));
    checkAgain_->setObjectName(QStringLiteral("checkForUpdatesAgain"));
    check_->setObjectName(QStringLiteral("checkForUpdates"));
    availableLayout->addWidget(makeButtonRow(available_, {download, checkAgain_}));
    layout->addWidget(available_);

    auto* currentLayout = new QHBoxLayout(current_);
    currentLayout->setContentsMargins(0, 0, 0, 0);
    updateStatus_->setWordWrap(true);
    currentLayout->addWidget(updateStatus_, 1);
    currentLayout->addWidget(check_);
    layout->addWidget(current_);

    connect(download, &QPushButton::clicked, this, [this] { updates_.openDownloadPage(); });
    const auto checkNow = [this] { launch([this] { return updates_.check(false); }); };
    connect(checkAgain_, &QPushButton::clicked, this, checkNow);
    connect(check_, &QPushButton::clicked, this, checkNow);
    refresh();
}

void ConnectorUpdateView::refresh() {
    const UpdateState& updates = updates_.state();
    const bool checking = updates.isChecking;
    const auto& info = updates.info;
    if (checking) {
        state_->set(QStringLiteral("Checking for updates"), "arrow.triangle.2.circlepath",
                    Tint::blue);
    } else if (info) {
        state_->set(QStringLiteral("Update available"), "arrow.down.circle.fill", Tint::orange);
    } else {
        state_->set(QStringLiteral("Connector updates"), "checkmark.seal", Tint::secondary);
    }
    const auto& checkedAt = updates.lastCheckAt;
    checked_->setVisible(checkedAt.has_value());
    if (checkedAt) {
        checked_->setText(qs("Checked " + relativeOrNever(checkedAt, clock_())));
    }
    available_->setVisible(info.has_value());
    current_->setVisible(!info.has_value());
    if (info) {
        version_->setText(desktopWording(
            QStringLiteral("Version ") + info->version + QStringLiteral(" build ") + info->build +
            QStringLiteral(" is available on the Mac download page.")));
        checkAgain_->setEnabled(!checking);
    } else {
        updateStatus_->setText(updateStatusText(updates));
        check_->setText(checking ? QStringLiteral("Checking")
                                 : QStringLiteral("Check for Updates"));
        check_->setEnabled(!checking);
    }
}

} // namespace korvo
