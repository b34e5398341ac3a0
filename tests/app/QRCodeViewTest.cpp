#include "app/QRCodeView.h"

#include "ZbarDecode.h"

#include <QImage>
#include <algorithm>
#include <gtest/gtest.h>

namespace korvo {
namespace {

QImage shownFor(const QString& payload) {
    QRCodeView view;
    view.setPayload(payload);
    return view.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The code is shown pixel-sharp (black and white only) at 180 points, and that scans.
TEST(QRCodeViewTest, ShownPixelSharpAt180AndScans) {
    for (const QString payload :
         {"korvo://pair?session=6F9619FF-8B86-D011-B42D-00C04FC964FF&code=042917&secret="
          "q8Zr3kP0vXw1yT5uN7mB2cL4hJ6gF9dS0aE_-Qw",
          "korvo://pair?code=123456&note=Büro·✓"}) {
        const QImage shown = shownFor(payload);
        ASSERT_EQ(shown.size(), QSize(180, 180));
        const auto isDark = [&](int x, int y) {
            const QRgb pixel = shown.pixel(x, y) & 0xFFFFFF;
            EXPECT_TRUE(pixel == 0 || pixel == 0xFFFFFF) << "smoothed edge at " << x << "," << y;
            return pixel == 0;
        };
        EXPECT_EQ(test::scanQr(180, 180, isDark, 1, 40), payload.toStdString());
    }
    // What cannot be encoded gets a rounded placeholder: the very corner keeps the background.
    EXPECT_FALSE(makeQRImage(QString()));
    const QImage placeholder = shownFor(QString(3000, 'a'));
    const QRgb background = QRCodeView().palette().color(QPalette::Window).rgb() & 0xFFFFFF;
    EXPECT_EQ(placeholder.pixel(0, 0) & 0xFFFFFF, background);
    EXPECT_NE(placeholder.pixel(12, 12) & 0xFFFFFF, background);
}

// Every module is a whole number of pixels, and white of at least four modules surrounds the code.
TEST(QRCodeViewTest, WholePixelModulesAndAQuietZoneOfFour) {
    const QImage shown =
        shownFor("korvo://pair?session=6F9619FF-8B86-D011-B42D-00C04FC964FF&code=042917");
    int top = -1, left = shown.width(), right = -1, bottom = -1;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            if ((shown.pixel(x, y) & 0xFFFFFF) == 0) {
                top = top < 0 ? y : top;
                bottom = y;
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    ASSERT_GE(top, 0);
    // The finder pattern's top edge is seven modules wide.
    int run = 0;
    while ((shown.pixel(left + run, top) & 0xFFFFFF) == 0) {
        ++run;
    }
    ASSERT_EQ(run % 7, 0) << run;
    const int module = run / 7;
    EXPECT_EQ((right - left + 1) % module, 0);
    EXPECT_EQ((bottom - top + 1) % module, 0);
    for (const int margin : {left, top, shown.width() - 1 - right, shown.height() - 1 - bottom}) {
        EXPECT_GE(margin, 4 * module) << margin << " px around modules of " << module;
    }
    QRCodeView view;
    EXPECT_EQ(view.accessibleName(), "Pairing QR code");
}

} // namespace
} // namespace korvo
