#include "core/ConnectorStatusText.h"
#include "support/ModelHarness.h"

#include <functional>

namespace korvo {
namespace {

// An operation of the model with its outcome as a number, so that one table holds them all.
template <class Outcome>
std::function<QCoro::Task<int>(ConnectorModel&)>
number(QCoro::Task<Outcome> (ConnectorModel::*operation)()) {
    return [operation](ConnectorModel& m) -> QCoro::Task<int> {
        const Outcome outcome = co_await (m.*operation)();
        co_return int(outcome);
    };
}

// Each operation returns how it ended, and that agrees with the state it leaves behind.
TEST(OperationOutcomeTest, OperationsReturnTheOutcomeTheyShow) {
    using Answers = std::vector<std::tuple<QByteArray, int, QByteArray>>;
    const QByteArray uploadPath = "POST /v1/sync-spaces/space_1/snapshots";
    const QByteArray devicesPath = "GET /v1/sync-spaces/space_1/devices";
    const QByteArray unlinkPath = "DELETE /v1/sync-spaces/space_1/devices/mac_0123456789AB";
    const QByteArray uploaded =
        R"({"status":"ok","snapshotId":"x","updatedAt":"2026-03-01T09:14:05Z"})";
    struct Case {
        const char* name;
        bool paired;
        Answers answers;
        std::function<QCoro::Task<int>(ConnectorModel&)> operation;
        int outcome;
        std::optional<ConnectorError::Kind> error;
    };
    const auto sync = number(&ConnectorModel::syncNow);
    const auto devices = number(&ConnectorModel::loadDevices);
    const auto unlink = number(&ConnectorModel::unlinkDevice);
    const auto checkHealth = number(&ConnectorModel::checkRelayHealth);
    const QByteArray health = "GET /health";
    // clang-format off
    const Case cases[] = {
        {"upload accepted", true, {{uploadPath, 200, uploaded}}, sync, int(SyncOutcome::uploaded),
         {}},
        {"upload refused", true, {{uploadPath, 503, "{}"}}, sync, int(SyncOutcome::failed),
         ConnectorError::Kind::uploadFailed},
        {"upload unpaired", false, {}, sync, int(SyncOutcome::notPaired),
         ConnectorError::Kind::pairFirst},
        {"devices listed", true, {{devicesPath, 200, R"({"devices":[]})"}}, devices,
         int(DeviceListOutcome::loaded), {}},
        {"devices refused", true, {{devicesPath, 401, "{}"}}, devices,
         int(DeviceListOutcome::failed), ConnectorError::Kind::deviceListFailed},
        {"devices unpaired", false, {}, devices, int(DeviceListOutcome::notPaired), {}},
        {"unlink accepted", true,
         {{unlinkPath, 200, R"({"status":"deleted","deviceId":"mac_0123456789AB"})"}}, unlink,
         int(UnlinkOutcome::unlinked), {}},
        {"unlink refused", true, {{unlinkPath, 500, "{}"}}, unlink, int(UnlinkOutcome::failed),
         ConnectorError::Kind::unlinkFailed},
        {"unlink unpaired", false, {}, unlink, int(UnlinkOutcome::unlinked), {}},
        {"relay ok", false, {{health, 200, R"({"status":"ok"})"}}, checkHealth,
         int(RelayHealthOutcome::reachable), {}},
        {"relay degraded", false, {{health, 200, R"({"status":"degraded"})"}}, checkHealth,
         int(RelayHealthOutcome::answered), {}},
        {"relay down", false, {}, checkHealth, int(RelayHealthOutcome::unreachable),
         ConnectorError::Kind::relayHealthFailed},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        test::ModelHarness h;
        test::CannedRelay server;
        h.pointAt(server.url());
        for (const auto& [path, status, body] : c.answers) {
            server.answer(path, status, body);
        }
        h.defaults->setString(u"connectorDeviceId"_s, u"mac_0123456789AB"_s);
        if (c.paired) {
            h.storePairing();
        }
        ConnectorModel& m = h.make();
        test::finish(m.loadPairingState());
        EXPECT_EQ(test::finish(c.operation(m)), c.outcome);
        EXPECT_EQ(m.connection().error() ? std::optional(m.connection().error()->kind)
                                         : std::nullopt,
                  c.error);
        EXPECT_EQ(errorText(m.connection().error()),
                  m.connection().error() ? std::optional(errorText(*m.connection().error()))
                                         : std::nullopt);
    }
}

} // namespace
} // namespace korvo
