#include "core/ManifestLocation.h"

#include "platform/SettingsUserDefaults.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace korvo {
namespace {

// The environment wins over the setting; values that are no web address are passed over.
TEST(ManifestLocationTest, EnvironmentThenSettingThenDefault) {
    const QUrl fallback(QStringLiteral("https://korvo.app/download/linux/manifest.json"));
    const std::tuple<std::optional<std::string>, std::optional<QString>, QString> cases[] = {
        {std::nullopt, std::nullopt, fallback.toString()},
        {"http://127.0.0.1:8080/download/linux/manifest.json", std::nullopt,
         "http://127.0.0.1:8080/download/linux/manifest.json"},
        {std::nullopt, "https://updates.example.org/m.json", "https://updates.example.org/m.json"},
        {" https://env.example.org/m.json ", "https://settings.example.org/m.json",
         "https://env.example.org/m.json"},
        {"", "https://settings.example.org/m.json", "https://settings.example.org/m.json"},
        {"file:///etc/passwd", std::nullopt, fallback.toString()},
        {"not a url", "ftp://example.org/m.json", fallback.toString()},
        {"https:///no-host", std::nullopt, fallback.toString()},
    };
    for (const auto& [variable, setting, expected] : cases) {
        QTemporaryDir dir;
        SettingsUserDefaults settings(dir.filePath(QStringLiteral("settings.json")));
        if (setting) {
            settings.setString(QString::fromLatin1(kManifestURLKey), *setting);
        }
        std::map<std::string, std::string, std::less<>> variables;
        if (variable) {
            variables[kManifestURLVariable] = *variable;
        }
        EXPECT_EQ(manifestURL(fallback, fixedEnvironment(variables), &settings).toString(),
                  expected)
            << variable.value_or("(unset)");
    }
    EXPECT_EQ(manifestURL(fallback, {}, nullptr), fallback);
}

} // namespace
} // namespace korvo
