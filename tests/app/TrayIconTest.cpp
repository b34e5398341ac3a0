#include "app/TrayIcon.h"

#include <QPainter>
#include <QPixmap>
#include <gtest/gtest.h>
#include <vector>

namespace korvo {
namespace {

int luminance(QRgb pixel) {
    return (qRed(pixel) * 299 + qGreen(pixel) * 587 + qBlue(pixel) * 114) / 1000;
}

// The mask is black with the shape in the alpha channel, solid inside and clear outside, at every
// size a panel asks for.
TEST(TrayIconTest, TheMaskIsBlackWithTheShapeInItsAlpha) {
    for (const int pixels : {16, 22, 32, 64}) {
        const QImage mask = trayMask(pixels).convertToFormat(QImage::Format_ARGB32);
        int solid = 0, clear = 0;
        for (int y = 0; y < pixels; ++y) {
            for (int x = 0; x < pixels; ++x) {
                const QRgb pixel = mask.pixel(x, y);
                ASSERT_EQ(pixel & 0xFFFFFF, 0U) << pixels << " px at " << x << "," << y;
                solid += qAlpha(pixel) == 255;
                clear += qAlpha(pixel) == 0;
            }
        }
        EXPECT_GT(solid, pixels * pixels / 5) << pixels;
        EXPECT_GT(clear, pixels * pixels / 3) << pixels;
    }
}

// Drawn onto a light and a dark panel, a good part of the icon stands out clearly from either.
TEST(TrayIconTest, ReadsOnLightAndDarkPanels) {
    const QIcon icon = trayIcon();
    for (const QColor panel : {QColor(0xf6, 0xf5, 0xf4), QColor(0xff, 0xff, 0xff),
                               QColor(0x24, 0x24, 0x24), QColor(0, 0, 0)}) {
        for (const int pixels : {16, 22, 24, 32}) {
            QImage shown(pixels, pixels, QImage::Format_RGB32);
            shown.fill(panel);
            QPainter(&shown).drawPixmap(0, 0, icon.pixmap(pixels, pixels));
            int standingOut = 0;
            for (int y = 0; y < pixels; ++y) {
                for (int x = 0; x < pixels; ++x) {
                    standingOut +=
                        std::abs(luminance(shown.pixel(x, y)) - luminance(panel.rgb())) >= 128;
                }
            }
            EXPECT_GT(standingOut, pixels * pixels / 10)
                << panel.name().toStdString() << " " << pixels;
        }
    }
}

ProviderUsage usage(std::string name, std::optional<double> remaining,
                    ProviderStatus status = ProviderStatus::ok,
                    std::optional<std::string> text = {}) {
    ProviderUsage row;
    row.id = name;
    row.displayName = std::move(name);
    row.status = status;
    row.usage.remainingPercent = remaining;
    row.usage.remainingText = std::move(text);
    return row;
}

// The icon's state is the most urgent one over the tools and the sync: the lowest remaining share
// (weekly windows included) with its tool named, limited before a failing sync before not paired.
TEST(TrayIconTest, TheGlanceNamesTheMostUrgentTool) {
    UsageSnapshot snapshot;
    snapshot.providers = {
        usage("Claude Code", 64),
        usage("Codex CLI", 70, ProviderStatus::ok, "Weekly 3% remaining \u00B7 97% used"),
        usage("Gemini CLI", std::nullopt, ProviderStatus::unknown)};
    const TrayGlance low = trayGlance(snapshot, true, false);
    EXPECT_EQ(low.mark, TrayGlance::Mark::none);
    EXPECT_EQ(low.lowest, 3.0);
    EXPECT_EQ(low.lowestStatus, ProviderStatus::critical);
    EXPECT_EQ(trayToolTip(low, "Connected"),
              "Korvo Connector: Codex CLI 3% remaining (Weekly) \u00B7 Connected");
    EXPECT_EQ(trayGlance(snapshot, true, true).mark, TrayGlance::Mark::failing);
    EXPECT_EQ(trayGlance(snapshot, false, false).mark, TrayGlance::Mark::notPaired);
    snapshot.providers.push_back(usage("Copilot", 0, ProviderStatus::limited));
    EXPECT_EQ(trayGlance(snapshot, true, true).mark, TrayGlance::Mark::limited);
    EXPECT_EQ(trayGlance(std::nullopt, true, false), TrayGlance{});
}

// Each state draws a different icon at every size a panel asks for, and each reads on light and
// dark panels.
TEST(TrayIconTest, EachStateDrawsItsOwnIcon) {
    TrayGlance ok;
    ok.lowest = 64;
    ok.lowestStatus = ProviderStatus::ok;
    TrayGlance low = ok;
    low.lowest = 12;
    low.lowestStatus = ProviderStatus::warning;
    TrayGlance limited = low;
    limited.mark = TrayGlance::Mark::limited;
    TrayGlance failing = ok;
    failing.mark = TrayGlance::Mark::failing;
    TrayGlance notPaired = ok;
    notPaired.mark = TrayGlance::Mark::notPaired;
    const std::pair<const char*, TrayGlance> states[] = {{"ok", ok},
                                                         {"low", low},
                                                         {"limited", limited},
                                                         {"failing", failing},
                                                         {"not paired", notPaired},
                                                         {"no figures", TrayGlance{}}};
    for (const int pixels : {16, 22, 32}) {
        std::vector<QImage> images;
        for (const auto& [name, glance] : states) {
            const QImage image = trayIcon(glance)
                                     .pixmap(pixels, pixels)
                                     .toImage()
                                     .convertToFormat(QImage::Format_ARGB32);
            ASSERT_EQ(image.size(), QSize(pixels, pixels)) << name;
            for (std::size_t i = 0; i < images.size(); ++i) {
                int differing = 0;
                for (int y = 0; y < pixels; ++y) {
                    for (int x = 0; x < pixels; ++x) {
                        differing += image.pixel(x, y) != images[i].pixel(x, y);
                    }
                }
                EXPECT_GT(differing, pixels * pixels / 20)
                    << name << " looks like " << states[i].first << " at " << pixels;
            }
            images.push_back(image);
            for (const QColor panel : {QColor(0xff, 0xff, 0xff), QColor(0x24, 0x24, 0x24)}) {
                QImage shown(pixels, pixels, QImage::Format_RGB32);
                shown.fill(panel);
                QPainter(&shown).drawImage(0, 0, image);
                int standingOut = 0;
                for (int y = 0; y < pixels; ++y) {
                    for (int x = 0; x < pixels; ++x) {
                        standingOut +=
                            std::abs(luminance(shown.pixel(x, y)) - luminance(panel.rgb())) >= 80;
                    }
                }
                EXPECT_GT(standingOut, pixels * pixels / 12)
                    << name << " on " << panel.name().toStdString() << " at " << pixels;
            }
        }
    }
}

} // namespace
} // namespace korvo
