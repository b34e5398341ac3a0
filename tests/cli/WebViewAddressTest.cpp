// The web-view address that `pair` prints is on the relay it pairs through, whatever the relay's
// /health names: a relay cannot send the phone, and the code typed into it, to another host.

#include "support/PrivateHome.h"

#include <QDateTime>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <memory>
#include <thread>
#include <vector>

namespace korvo {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// A relay that creates one pairing session, which expires two seconds later, and names `webApp`
// in its /health answer.
class NamingRelay {
public:
    explicit NamingRelay(const std::string& webApp) {
        server_.Post("/v1/pairing/sessions", [](const httplib::Request&, httplib::Response& res) {
            const QString expires =
                QDateTime::currentDateTimeUtc().addSecs(2).toString(Qt::ISODate);
            res.set_content(R"({"pairingSessionId":"ps_1","pairingCode":"123456",)"
                            R"("qrPayload":"korvo://pair?session=ps_1&code=123456&secret=s",)"
                            R"("expiresAt":")" +
                                expires.toStdString() + "\"}",
                            "application/json");
        });
        server_.Get("/health", [webApp](const httplib::Request&, httplib::Response& res) {
            res.set_content(R"({"status":"ok","environment":"test","webApp":")" + webApp + "\"}",
                            "application/json");
        });
        server_.Get("/v1/pairing/sessions/ps_1",
                    [](const httplib::Request&, httplib::Response& res) {
                        res.set_content(R"({"status":"expired"})", "application/json");
                    });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~NamingRelay() {
        server_.stop();
        thread_.join();
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_); }

private:
    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
};

TEST(WebViewAddress, PairPrintsOnlyAnAddressOnTheRelayItself) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/", "/"},
        {"/app/", "/app/"},
        {"//other.example/pair", ""},
        {"https://other.example/", ""},
        {"http://127.0.0.2/", ""},
        {"javascript:alert(1)", ""},
        {"app/", ""},
        {"", ""},
    };
    // Each case waits about two seconds for its code to expire, so they all run at once.
    struct Case {
        std::unique_ptr<NamingRelay> relay;
        test::PrivateHome home;
        std::unique_ptr<QProcess> process;
    };
    std::vector<Case> running(cases.size());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        running[i].relay = std::make_unique<NamingRelay>(cases[i].first);
        running[i].process = running[i].home.start(
            {"--relay", QString::fromStdString(running[i].relay->url()), "pair"});
    }
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string& shownPath = cases[i].second;
        SCOPED_TRACE(cases[i].first);
        const std::string url = running[i].relay->url();
        const auto ran = test::finish(*running[i].process);
        EXPECT_EQ(ran.exitCode, 1) << ran.err; // the code expired
        EXPECT_THAT(ran.out, HasSubstr("Pairing code: 123456\n"));
        if (shownPath.empty()) {
            EXPECT_THAT(ran.out, Not(HasSubstr("Or open"))) << ran.out;
            EXPECT_THAT(ran.out, Not(HasSubstr("other.example")));
        } else {
            EXPECT_THAT(ran.out, HasSubstr("Or open " + url + shownPath +
                                           " on any phone and enter the code.\n"));
        }
    }
}

} // namespace
} // namespace korvo
