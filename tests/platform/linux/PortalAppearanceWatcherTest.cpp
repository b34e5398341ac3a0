#include "platform/linux/PortalAppearanceWatcher.h"

#include <QByteArray>
#include <gtest/gtest.h>
#include <optional>
#include <utility>

namespace korvo {
namespace {

// What the GTK settings say when no portal gives a preference.
TEST(PortalAppearanceWatcherTest, GtkPreferenceStandsInForThePortal) {
    const std::pair<QByteArray, std::optional<ColorScheme>> cases[] = {
        {"[Settings]\ngtk-application-prefer-dark-theme=1\n", ColorScheme::dark},
        {"[Settings]\ngtk-application-prefer-dark-theme = true\n", ColorScheme::dark},
        {"[Settings]\ngtk-theme-name=Adwaita-dark\n", ColorScheme::dark},
        {"[Settings]\ngtk-theme-name=Adwaita\ngtk-application-prefer-dark-theme=0\n",
         ColorScheme::light},
        {"[Settings]\ngtk-font-name=Cantarell 11\n", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& [ini, scheme] : cases) {
        EXPECT_EQ(PortalAppearanceWatcher::gtkPreference(ini), scheme) << ini.toStdString();
    }
}

} // namespace
} // namespace korvo
