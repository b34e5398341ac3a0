#pragma once

#include "core/ConnectorState.h"
#include "core/UsageHistory.h"
#include "model/Clock.h"
#include "model/UsageSnapshot.h"
#include "sources/SourceRegistry.h"

#include <QFuture>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <map>
#include <memory>
#include <optional>
#include <qcoro/qcorotask.h>
#include <string>
#include <vector>

namespace korvo {

class HostInfo;

// Source collection: the reading adapters' rows, the snapshot built from them for local display,
// and the diagnostics of every source adapter. Adapter passes run one after another on a worker
// thread of their own.
class SourceCollector final : public QObject {
    Q_OBJECT
public:
    // Everything one collection over the adapters yields.
    struct Pass {
        std::vector<ProviderUsage> rows;
        std::optional<ParserError> parserError;
        QString deviceName;
        // Each row's current window from the usage history, by row id.
        std::map<std::string, std::vector<UsagePoint>> history;
    };

    SourceCollector(AdapterList realAdapters, AdapterList sourceAdapters,
                    std::shared_ptr<HostInfo> hostInfo, Clock clock, QString connectorDeviceId,
                    std::shared_ptr<UsageHistory> history = nullptr, QObject* parent = nullptr);
    ~SourceCollector() override;

    const CollectState& collect() const { return collect_; }
    const SourceDiagnosticsState& diagnostics() const { return diagnostics_; }
    const AdapterList& realAdapters() const { return realAdapters_; }
    const AdapterList& sourceAdapters() const { return sourceAdapters_; }

    // One pass over the reading adapters, with the host name for the snapshot.
    QCoro::Task<Pass> collectRows();
    // The host name, or "Mac" when the system gives none; read on the worker thread.
    QCoro::Task<QString> deviceName();
    // A snapshot of this device from collected rows.
    UsageSnapshot assemble(std::string snapshotId, std::string syncSpaceId,
                           const QString& deviceName, std::vector<ProviderUsage> rows) const;

    // Collects and keeps the result as the local snapshot (nothing without rows).
    QCoro::Task<> refreshLocalLimits(std::string syncSpaceId);
    QCoro::Task<> refreshDiagnostics();
    // An uploaded snapshot is also the one on local display.
    void showUploaded(const UsageSnapshot& snapshot);
    // A snapshot collected for an upload that failed is still the newest reading on display.
    void showCollected(const UsageSnapshot& snapshot) { showUploaded(snapshot); }
    // Forgets the last collection's outcome (the local snapshot stays).
    void forgetCollection();
    // Points of the usage history at or after `since`, of one tool (all when `toolId` is
    // empty), read on the worker.
    QFuture<std::vector<UsageHistoryPoint>> historyPoints(std::string toolId, Instant since);

Q_SIGNALS:
    void changed();

private:
    AdapterList realAdapters_;
    AdapterList sourceAdapters_;
    std::shared_ptr<HostInfo> hostInfo_;
    Clock clock_;
    QString connectorDeviceId_;
    // Used on the worker thread only; null when no history is kept.
    std::shared_ptr<UsageHistory> history_;
    CollectState collect_;
    SourceDiagnosticsState diagnostics_;
    QThreadPool pool_;
};

} // namespace korvo
