#include "app/SupportActions.h"

#include "app/ViewSupport.h"
#include "core/ConnectorModel.h"

#include <QCheckBox>
#include <QPushButton>

namespace korvo {

SupportActions::SupportActions(ConnectorModel& model, QWidget* parent)
    : checkUpdates(new QPushButton(QStringLiteral("Check for Updates"), parent)),
      openAtLogin(new QCheckBox(QStringLiteral("Open Korvo Connector at Login"), parent)),
      refreshSources(new QPushButton(QStringLiteral("Refresh Sources"), parent)),
      copyBundle(new QPushButton(QStringLiteral("Copy Support Bundle"), parent)) {
    checkUpdates->setObjectName(QStringLiteral("checkForUpdates"));
    openAtLogin->setObjectName(QStringLiteral("openAtLogin"));
    refreshSources->setObjectName(QStringLiteral("refreshSources"));
    copyBundle->setObjectName(QStringLiteral("copySupportBundle"));
    ConnectorModel* target = &model;
    QObject::connect(refreshSources, &QPushButton::clicked, parent,
                     [target] { launch([target] { return target->refreshSourceDiagnostics(); }); });
    QObject::connect(copyBundle, &QPushButton::clicked, parent,
                     [target] { target->copySupportBundle(); });
    QObject::connect(checkUpdates, &QPushButton::clicked, parent,
                     [target] { launch([target] { return target->checkForUpdates(false); }); });
    // clicked() comes only from the person, never from refresh() setting the state.
    QObject::connect(openAtLogin, &QCheckBox::clicked, parent,
                     [target](bool checked) { target->setLaunchAtLogin(checked); });
}

void SupportActions::refresh(const ConnectorModel& model) {
    checkUpdates->setEnabled(!model.updateChecker().state().isChecking);
    openAtLogin->setChecked(model.launchAtLogin().state().enabled);
}

} // namespace korvo
