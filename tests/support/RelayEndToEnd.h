#pragma once

#include "model/SnapshotJson.h"
#include "support/ModelHarness.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace korvo::test {

// A model of the harness paired with a real korvo-relay, with the phone's side played over
// HTTP: the phone claims the pairing code and reads the latest snapshot back.
class RelayEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(relay_->isRunning());
        h_.pointAt(urlOf(relay_->url()));
        h_.claude->report(h_.clock.now());
    }

    // Creates a code, claims it over HTTP as the phone would and waits for the model to finish
    // pairing (starting automatic sync is its last step); the phone's sync space and token are
    // kept.
    void pair(ConnectorModel& m) {
        finish(m.createPairingCode());
        const std::string code =
            m.pairing().state().session.value_or(PairingSessionResponse{}).pairingCode;
        const auto res = phone().Post("/v1/pairing/claim", R"({"pairingCode":")" + code + "\"}",
                                      "application/json");
        ASSERT_TRUE(res && res->status == 200);
        const QJsonObject claim =
            QJsonDocument::fromJson(QByteArray::fromStdString(res->body)).object();
        space_ = claim["syncSpaceId"].toString();
        phoneToken_ = claim["phoneDeviceToken"].toString().toStdString();
        ASSERT_TRUE(QTest::qWaitFor([&] { return m.autoSync().isLoopRunning(); }));
    }
    httplib::Client phone() const { return httplib::Client("127.0.0.1", relay_->port()); }
    std::optional<UsageSnapshot> latestOnRelay() {
        const auto res =
            phone().Get(u"/v1/sync-spaces/%1/snapshots/latest"_s.arg(space_).toStdString(),
                        {{"authorization", "Bearer " + phoneToken_}});
        const auto decoded = decodeSnapshot(res ? res->body : std::string());
        return decoded.ok() ? std::optional(decoded.value()) : std::nullopt;
    }
    // The relay comes back on the same port with the same database.
    void restartRelay() {
        relay_ = std::make_unique<RelayProcess>(h_.path(u"relay.db"_s).toStdString(),
                                                std::vector<std::string>(), relay_->port());
        ASSERT_TRUE(relay_->isRunning());
    }

    ModelHarness h_;
    std::unique_ptr<RelayProcess> relay_ =
        std::make_unique<RelayProcess>(h_.path(u"relay.db"_s).toStdString());
    QString space_;
    std::string phoneToken_;
};

} // namespace korvo::test
