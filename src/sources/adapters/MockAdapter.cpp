#include "sources/adapters/MockAdapter.h"

namespace korvo {

MockAdapter::MockAdapter(Clock clock) : m_clock(std::move(clock)) {}

std::string MockAdapter::id() const {
    return "mock";
}

std::string MockAdapter::displayName() const {
    return "Mock Claude/Codex";
}

AdapterDiagnostic MockAdapter::inspect() const {
    AdapterDiagnostic diagnostic;
    diagnostic.id = id();
    diagnostic.displayName = displayName();
    diagnostic.isAvailable = true;
    diagnostic.cliInstalled = false;
    diagnostic.usageSourceFound = true;
    diagnostic.tokenDataFound = true;
    diagnostic.limitDataFound = true;
    diagnostic.canUploadProvider = true;
    diagnostic.trackingStatus = "Demo fallback";
    diagnostic.summary = "Available for preview and App Review";
    diagnostic.warnings = {"Generates demo data only"};
    return diagnostic;
}

UsageReading MockAdapter::read() const {
    return {};
}

UsageSnapshot MockAdapter::makeDemoSnapshot(const std::string& syncSpaceId,
                                            const std::string& deviceId,
                                            const std::string& deviceName,
                                            SnapshotDeviceKind deviceKind) const {
    const Instant now = m_clock();

    const auto demoRow = [now](std::string id, std::string name, ProviderStatus status,
                               std::optional<Instant> resetAt, double used) {
        ProviderUsage row;
        row.id = std::move(id);
        row.displayName = std::move(name);
        row.source = SourceType::demo;
        row.confidence = Confidence::demo;
        row.status = status;
        row.window = UsageWindow{UsageWindowKind::rolling, "5h", std::nullopt, resetAt};
        row.usage.usedPercent = used;
        row.usage.remainingPercent = 100 - used;
        row.observedAt = now;
        return row;
    };
    ProviderUsage claude = demoRow("claude-code", "Claude Code", ProviderStatus::ok,
                                   now + std::chrono::seconds(7200), 63);
    claude.usage.inputTokens = 120000;
    claude.usage.outputTokens = 18000;
    claude.usage.cachedInputTokens = 50000;
    claude.usage.costUsd = 3.42;
    ProviderUsage codex = demoRow("codex", "Codex", ProviderStatus::warning, std::nullopt, 82);
    codex.usage.remainingText = "18% remaining";

    UsageSnapshot snapshot;
    snapshot.schemaVersion = UsageSnapshot::currentSchemaVersion;
    snapshot.snapshotId = "snap_preview_" + std::to_string(unixSecondsTruncated(now));
    snapshot.syncSpaceId = syncSpaceId;
    snapshot.updatedAt = now;
    snapshot.device = SnapshotDevice{deviceId, deviceName, deviceKind};
    snapshot.providers = {std::move(claude), std::move(codex)};
    return snapshot;
}

} // namespace korvo
