#include "ModelHarness.h"

#include "sources/adapters/ClaudeCodeAdapter.h"
#include "sources/adapters/CodexAdapter.h"

#include <QFile>

namespace korvo::test {

bool writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

ModelHarness::ModelHarness(HarnessBuild build) {
    writeFile(path(u"machine-info"_s), "PRETTY_HOSTNAME=\"Test Box\"\n");
    options.home = path(u"home"_s).toStdString();
    options.userDefaults = defaults;
    options.keychainBackend = keychain;
    options.network = &network;
    pointAt(QUrl(u"http://127.0.0.1:9"_s));
    options.clock = clock.clock();
    options.environment = fixedEnvironment({});
    options.buildInfo = BuildInfo{u"1.4.0"_s, u"42"_s, u"internal_beta"_s};
    options.locale = QLocale(QLocale::English, QLocale::UnitedStates);
    options.timeZone = QTimeZone::utc();
    options.syncInterval = 1h;
    options.wakeDelay = 50ms;
    options.pairingPollInterval = 20ms;
    options.loginItem = std::make_shared<XdgAutostartLoginItem>(
        path(u"autostart"_s), u"korvo-connector.desktop"_s, u"/usr/bin/korvo-connector"_s);
    options.hostInfo = std::make_shared<SystemHostInfo>(path(u"machine-info"_s));
    options.pasteboard = recorder;
    options.urlOpener = recorder;
    options.realAdapters = AdapterList{claude, codex};
    options.sourceAdapters =
        AdapterList{std::make_shared<MockAdapter>(clock.clock()), claude, codex};
    if (build == HarnessBuild::release) {
        options.buildInfo = BuildInfo{u"1.4.0"_s, u"42"_s, u"release"_s};
        options.realAdapters = AdapterList{};
        options.sourceAdapters = AdapterList{std::make_shared<MockAdapter>(options.clock)};
    }
}

void ModelHarness::useFixtureTools() {
    options.clock = fixedClock(kFixtureNow);
    const std::vector<std::filesystem::path> noPaths;
    auto claude = std::make_shared<ClaudeCodeAdapter>(fixtureHome("claude-bridge-windows"), noPaths,
                                                      options.clock, options.environment);
    auto codex = std::make_shared<CodexAdapter>(fixtureHome("codex-current-shape"), noPaths,
                                                options.clock, options.environment);
    options.realAdapters = AdapterList{claude, codex};
    options.sourceAdapters =
        AdapterList{std::make_shared<MockAdapter>(options.clock), claude, codex};
}

} // namespace korvo::test
