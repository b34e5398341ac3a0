#pragma once

#include "core/ConnectorState.h"
#include "core/RelayAccess.h"
#include "model/Clock.h"

#include <QObject>
#include <QString>
#include <memory>
#include <qcoro/qcorotask.h>

namespace korvo {

class AutoSync;
class MockAdapter;
class Pairing;
class SourceCollector;

// The collect-and-upload cycle: collects the adapters' rows, builds the snapshot of this device
// (the demo snapshot when no adapter has a row) and uploads it to the sync space.
class SnapshotUploader final : public QObject {
    Q_OBJECT
public:
    struct Services {
        RelayAccess relay;
        std::shared_ptr<const MockAdapter> mockAdapter;
        const Pairing* pairing; // the sync space uploaded to
        SourceCollector* collector;
        AutoSync* autoSync; // shows whether uploads succeed
        Clock clock;
    };

    explicit SnapshotUploader(Services services, QObject* parent = nullptr);

    const UploadState& state() const { return state_; }

    QCoro::Task<SyncOutcome> syncNow();
    // Forgets the last upload and its snapshot.
    void forget();

Q_SIGNALS:
    void changed();

private:
    Services services_;
    UploadState state_;
    // Set while a cycle runs, including the keychain read that comes before isSyncing is
    // published.
    bool running_ = false;
};

} // namespace korvo
