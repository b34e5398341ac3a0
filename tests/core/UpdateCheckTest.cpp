#include "CannedHttpServer.h"
#include "CoreTestSupport.h"
#include "core/UpdateManifest.h"

#include <gtest/gtest.h>

namespace korvo {
namespace {

using test::CannedHttpServer;
using test::ModelHarness;

TEST(UpdateManifestTest, BuildDecidesFirstThenVersion) {
    struct Case {
        const char* manifestVersion;
        const char* manifestBuild;
        const char* runningVersion;
        const char* runningBuild;
        bool available;
    };
    const Case cases[] = {
        {"1.0.0", "42", "9.9.9", "41", true},  // a newer build wins whatever the versions
        {"2.0.0", "41", "1.0.0", "42", false}, // an older build loses whatever the versions
        {"1.10", "42", "1.9", "42", true},     // numeric components, not text
        {"1.9", "42", "1.10", "42", false},
        {"1.2.0", "42", "1.2", "42", false}, // a missing component counts as 0
        {"1.2.1", "42", "1.2", "42", true},
        {"1.2", "42", "1.2", "42", false},
        {"1.0", "10a", "1.0", "2a", true}, // not whole numbers: natural order
        {"1.0", "2a", "1.0", "10a", false},
        {"1.0", "+7", "1.0", "6", true}, // a sign is allowed
        {"1.0", "-1", "1.0", "0", false},
        {"1.0", "007", "1.0", "7", false},                     // equal as integers, equal versions
        {"1.0", "B2", "1.0", "b2", false},                     // natural order ignores case
        {"v2 (beta 3)", "42", "2.0.2", "42", true},            // 2.3 > 2.0.2
        {"1.99999999999999999999.1", "1", "1.0.2", "1", true}, // too large: dropped -> 1.1
    };
    for (const Case& c : cases) {
        ConnectorDownloadManifest manifest;
        manifest.version = QString::fromUtf8(c.manifestVersion);
        manifest.build = QString::fromUtf8(c.manifestBuild);
        EXPECT_EQ(isUpdateAvailable(manifest, QString::fromUtf8(c.runningVersion),
                                    QString::fromUtf8(c.runningBuild)),
                  c.available)
            << c.manifestVersion << " (" << c.manifestBuild << ") against " << c.runningVersion
            << " (" << c.runningBuild << ")";
    }
}

TEST(UpdateManifestTest, DecodingIsStrictAboutRequiredMembers) {
    struct Case {
        QByteArray json;
        bool decodes;
        std::optional<qint64> sizeBytes;
    };
    const Case cases[] = {
        {R"({"version":"1.4.0","build":"42","channel":"release","file":"a.tar.gz"})", true, {}},
        {R"({"version":"1.4.0","build":"42","channel":"release","file":"a","sizeBytes":123,)"
         R"("updatedAt":"2026-03-01","extra":[1]})",
         true, 123},
        {R"({"version":"1","build":"2","channel":"c","file":"f","sizeBytes":null,"updatedAt":null})",
         true,
         {}},
        {R"({"version":"1","build":"2","channel":"c","file":"f","sizeBytes":12.0})", true, 12},
        {R"({"version":"1","build":"2","channel":"c","file":"f","sizeBytes":12.5})", false, {}},
        {R"({"version":"1","build":"2","channel":"c","file":"f","sizeBytes":"12"})", false, {}},
        {R"({"version":"1","build":42,"channel":"c","file":"f"})", false, {}},
        {R"({"version":"1","build":"2","channel":"c"})", false, {}},
        {R"([])", false, {}},
        {"<html>not found</html>", false, {}},
        {"", false, {}},
    };
    for (const Case& c : cases) {
        const auto manifest = decodeDownloadManifest(c.json);
        EXPECT_EQ(manifest.has_value(), c.decodes) << c.json.toStdString();
        if (manifest) {
            EXPECT_EQ(manifest->sizeBytes, c.sizeBytes) << c.json.toStdString();
        }
    }
}

TEST(UpdateManifestTest, DownloadFileResolvesAgainstTheManifestFolder) {
    const QUrl manifest(QStringLiteral("https://example.com/download/linux/manifest.json"));
    struct Case {
        QString file;
        std::optional<QString> expected;
    };
    const Case cases[] = {
        {QStringLiteral("korvo-1.4.0.tar.gz"),
         QStringLiteral("https://example.com/download/linux/korvo-1.4.0.tar.gz")},
        {QStringLiteral("builds/k.deb"),
         QStringLiteral("https://example.com/download/linux/builds/k.deb")},
        {QStringLiteral("/files/k.deb"), QStringLiteral("https://example.com/files/k.deb")},
        {QStringLiteral("https://cdn.example.net/k.deb"),
         QStringLiteral("https://cdn.example.net/k.deb")},
        {QString(), std::nullopt},
    };
    for (const Case& c : cases) {
        const auto url = resolveDownloadFile(c.file, manifest);
        EXPECT_EQ(url ? std::optional<QString>(url->toString()) : std::nullopt, c.expected)
            << c.file.toStdString();
    }
}

class UpdateCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        h_.options.manifestURL =
            server_.baseURL().resolved(QUrl(QStringLiteral("/download/linux/manifest.json")));
        h_.options.downloadPageURL =
            server_.baseURL().resolved(QUrl(QStringLiteral("/download/linux/")));
    }
    void serveManifest(int status, const QByteArray& body,
                       std::chrono::milliseconds delay = std::chrono::milliseconds(0)) {
        server_.answer("GET /download/linux/manifest.json", {status, body, delay});
    }
    static QByteArray manifest(const char* version, const char* build) {
        return QByteArray(R"({"version":")") + version + R"(","build":")" + build +
               R"(","channel":"release","file":"korvo.tar.gz","sizeBytes":2048,)"
               R"("updatedAt":"2026-03-01T09:00:00Z"})";
    }

    ModelHarness h_;
    CannedHttpServer server_;
};

TEST_F(UpdateCheckTest, ANewerBuildIsOfferedWithItsDownloadLinks) {
    serveManifest(200, manifest("1.5.0", "43"));
    ConnectorModel& m = h_.make();
    test::finish(m.checkForUpdates(false));
    EXPECT_EQ(m.updateStatus(), QStringLiteral("Update available: 1.5.0 (43)"));
    ASSERT_TRUE(m.updateInfo().has_value());
    EXPECT_EQ(m.updateInfo()->id(), QStringLiteral("1.5.0-43-release"));
    EXPECT_EQ(m.updateInfo()->sizeBytes, 2048);
    EXPECT_EQ(m.updateInfo()->updatedAt, QStringLiteral("2026-03-01T09:00:00Z"));
    EXPECT_EQ(m.updateInfo()->downloadPageURL, h_.options.downloadPageURL);
    EXPECT_EQ(m.updateInfo()->directDownloadURL,
              server_.baseURL().resolved(QUrl(QStringLiteral("/download/linux/korvo.tar.gz"))));
    EXPECT_EQ(m.lastUpdateCheckAt(), h_.clock.now());
    EXPECT_FALSE(m.isCheckingForUpdates());
    m.openDownloadPage();
    ASSERT_EQ(h_.urlOpener->urls.size(), 1);
    EXPECT_EQ(h_.urlOpener->urls.last(), h_.options.downloadPageURL);
}

TEST_F(UpdateCheckTest, TheSameOrAnOlderBuildIsUpToDate) {
    serveManifest(200, manifest("1.4.0", "42"));
    ConnectorModel& m = h_.make();
    test::finish(m.checkForUpdates(false));
    EXPECT_EQ(m.updateStatus(), QStringLiteral("Up to date: 1.4.0 (42)"));
    EXPECT_FALSE(m.updateInfo().has_value());

    ModelHarness unknown;
    unknown.options.manifestURL = h_.options.manifestURL;
    unknown.options.buildInfo = BuildInfo{};
    ConnectorModel& n = unknown.make();
    serveManifest(200, manifest("0", "0"));
    test::finish(n.checkForUpdates(true));
    EXPECT_EQ(n.updateStatus(), QStringLiteral("Up to date: 0 (0)"));
}

TEST_F(UpdateCheckTest, FailuresAndTheSilentFlag) {
    struct Step {
        int status;
        QByteArray body;
        bool silent;
        QString expected;
    };
    // One model through a sequence of checks.
    const Step steps[] = {
        {404, R"({"error":"not found"})", true, QStringLiteral("Unable to check updates")},
        {200, manifest("1.4.0", "42"), true, QStringLiteral("Up to date: 1.4.0 (42)")},
        {404, R"({"error":"not found"})", true, QStringLiteral("Up to date: 1.4.0 (42)")},
        {200, "not json", true, QStringLiteral("Up to date: 1.4.0 (42)")},
        {500, {}, false, QStringLiteral("Unable to check updates")},
        {200, manifest("1.5.0", "43"), true, QStringLiteral("Update available: 1.5.0 (43)")},
        {404, {}, false, QStringLiteral("Unable to check updates")},
    };
    ConnectorModel& m = h_.make();
    int index = 0;
    for (const Step& step : steps) {
        serveManifest(step.status, step.body);
        h_.clock.advance(std::chrono::seconds(60));
        test::finish(m.checkForUpdates(step.silent));
        EXPECT_EQ(m.updateStatus(), step.expected) << "step " << index;
        EXPECT_EQ(m.lastUpdateCheckAt(), h_.clock.now()) << "step " << index;
        ++index;
    }
    // A failed check leaves a known update in place.
    EXPECT_TRUE(m.updateInfo().has_value());
}

TEST_F(UpdateCheckTest, AVisibleCheckShowsCheckingAndASecondCheckReturnsAtOnce) {
    serveManifest(200, manifest("1.4.0", "42"), std::chrono::milliseconds(200));
    ConnectorModel& m = h_.make();
    QCoro::Task<> first = m.checkForUpdates(false);
    EXPECT_EQ(m.updateStatus(), QStringLiteral("Checking"));
    EXPECT_TRUE(m.isCheckingForUpdates());
    QCoro::Task<> second = m.checkForUpdates(false);
    EXPECT_TRUE(second.isReady());
    test::finish(std::move(first));
    EXPECT_EQ(server_.count("GET /download/"), 1);
    EXPECT_EQ(m.updateStatus(), QStringLiteral("Up to date: 1.4.0 (42)"));
}

TEST_F(UpdateCheckTest, TheLocalRelayServesTheManifestToo) {
    QFile file(h_.path(QStringLiteral("manifest.json")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(manifest("2.0.0", "100"));
    file.close();
    test::RelayProcess relay(h_.path(QStringLiteral("relay.db")),
                             h_.path(QStringLiteral("manifest.json")));
    ASSERT_TRUE(relay.isRunning());
    h_.options.manifestURL =
        relay.baseURL().resolved(QUrl(QStringLiteral("/download/linux/manifest.json")));
    ConnectorModel& m = h_.make();
    test::finish(m.checkForUpdates(true));
    EXPECT_EQ(m.updateStatus(), QStringLiteral("Update available: 2.0.0 (100)"));
}

} // namespace
} // namespace korvo
