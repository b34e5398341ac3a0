#pragma once

#include "app/SupportActions.h"
#include "model/Clock.h"
#include "model/UsageSnapshot.h"
#include "sources/AdapterDiagnostic.h"

#include <QGroupBox>
#include <vector>

class QLabel;
class QVBoxLayout;

namespace korvo {

class ConnectorModel;

// The support panel of every build other than development: the few states a person needs
// when asking for help, and the support bundle.
class UserSupportConnectorView : public QGroupBox {
    Q_OBJECT
public:
    UserSupportConnectorView(ConnectorModel& model, Clock clock, KorvoBuildChannel channel,
                             QWidget* parent = nullptr);

    void refresh();

    QLabel* valueLabel(const QString& label) const;

private:
    ConnectorModel& model_;
    Clock clock_;
    KorvoBuildChannel channel_;
    std::vector<std::pair<QString, QLabel*>> values_;
    SupportActions actions_;
    QWidget* sources_;
    QVBoxLayout* sourcesLayout_;
    std::vector<AdapterDiagnostic> shownDiagnostics_;
};

} // namespace korvo
