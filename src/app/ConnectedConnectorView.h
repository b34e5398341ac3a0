#pragma once

#include "model/Clock.h"
#include "model/UsageSnapshot.h"
#include "sources/AdapterDiagnostic.h"

#include <QStringList>
#include <QWidget>
#include <optional>
#include <vector>

class QLabel;
class QVBoxLayout;

namespace korvo {

class ConnectorModel;
class SymbolLabel;

// Shown while this machine is paired: the sources, the last snapshot in short, and the copy
// and unlink actions. The snapshot JSON action exists only in development builds.
class ConnectedConnectorView : public QWidget {
    Q_OBJECT
public:
    ConnectedConnectorView(ConnectorModel& model, Clock clock, KorvoBuildChannel channel,
                           QWidget* parent = nullptr);

    void refresh();

private:
    void rebuildSources();

    ConnectorModel& model_;
    Clock clock_;
    QVBoxLayout* sources_;
    QVBoxLayout* snapshot_;
    SymbolLabel* connected_;
    bool shownFailing_ = false;
    // What the two lists show, so that they are re-created only when it changes.
    std::optional<std::vector<AdapterDiagnostic>> shownDiagnostics_;
    std::optional<QStringList> shownSnapshot_;
    // The snapshot's labels, one per line of shownSnapshot_ (none while there is no snapshot).
    std::vector<QLabel*> snapshotLabels_;
};

} // namespace korvo
