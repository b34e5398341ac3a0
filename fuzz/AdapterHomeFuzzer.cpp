// Every source adapter over a home written from the input (see FuzzHome.h): diagnose and
// readUsage never throw, and every row they give goes through the snapshot wire form unchanged.

#include "FuzzHome.h"
#include "FuzzSupport.h"
#include "model/SnapshotJson.h"
#include "sources/SourceRegistry.h"

using namespace korvo;

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    static test::FuzzHome home;
    home.fill(test::text(data, size));
    const Instant now = instantFromUnixSeconds(1'767'603'600); // 2026-01-05T09:00:00Z
    UsageSnapshot snapshot;
    snapshot.snapshotId = "snap";
    snapshot.syncSpaceId = "space";
    snapshot.updatedAt = now;
    for (const auto& adapter : sourceAdapters(home.path(), {home.path() / "bin"}, fixedClock(now),
                                              fixedEnvironment(home.environment()))) {
        const AdapterDiagnostic diagnostic = adapter->diagnose();
        test::expect(!diagnostic.trackingStatus.empty(), "a diagnostic has a verdict");
        if (auto row = adapter->readUsage().row) {
            snapshot.providers.push_back(std::move(*row));
        }
    }
    const auto encoded = encodeSnapshot(snapshot);
    test::expect(encoded.ok(), "rows encode");
    const auto decoded = decodeSnapshot(encoded.value());
    test::expect(decoded.ok(), "rows decode");
    // Dates travel in whole seconds; everything else must come back as it was.
    for (auto& row : snapshot.providers) {
        row.observedAt = std::chrono::floor<std::chrono::seconds>(row.observedAt);
        if (row.window) {
            for (auto* date : {&row.window->startedAt, &row.window->resetAt}) {
                if (*date) {
                    *date = std::chrono::floor<std::chrono::seconds>(**date);
                }
            }
        }
    }
    test::expect(decoded.value() == snapshot, "rows come back unchanged");
    return 0;
}
