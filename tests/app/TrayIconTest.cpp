#include "app/TrayIcon.h"

#include <QPainter>
#include <QPixmap>
#include <gtest/gtest.h>

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

} // namespace
} // namespace korvo
