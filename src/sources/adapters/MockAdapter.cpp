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

    ProviderUsage claude;
    claude.id = "claude-code";
    claude.displayName = "Claude Code";
    claude.source = SourceType::demo;
    claude.confidence = Confidence::demo;
    claude.status = ProviderStatus::ok;
    claude.window =
        UsageWindow{UsageWindowKind::rolling, "5h", std::nullopt, now + std::chrono::seconds(7200)};
    claude.usage.usedPercent = 63;
    claude.usage.remainingPercent = 37;
    claude.usage.inputTokens = 120000;
    claude.usage.outputTokens = 18000;
    claude.usage.cachedInputTokens = 50000;
    claude.usage.costUsd = 3.42;
    claude.observedAt = now;

    ProviderUsage codex;
    codex.id = "codex";
    codex.displayName = "Codex";
    codex.source = SourceType::demo;
    codex.confidence = Confidence::demo;
    codex.status = ProviderStatus::warning;
    codex.window = UsageWindow{UsageWindowKind::rolling, "5h", std::nullopt, std::nullopt};
    codex.usage.usedPercent = 82;
    codex.usage.remainingPercent = 18;
    codex.usage.remainingText = "18% remaining";
    codex.observedAt = now;

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
