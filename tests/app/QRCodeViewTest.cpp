#include "app/QRCodeView.h"

#include "ZbarDecode.h"
#include "qr/QrMatrix.h"

#include <QImage>
#include <gtest/gtest.h>

namespace korvo {
namespace {

std::optional<std::string> decodeImage(const QImage& image) {
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    // A scanner wants a quiet zone of a few modules; add a white margin around the picture.
    const int margin = 40;
    const int width = grey.width() + 2 * margin;
    const int height = grey.height() + 2 * margin;
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(width * height), 255);
    for (int y = 0; y < grey.height(); ++y) {
        const uchar* line = grey.constScanLine(y);
        std::copy(line, line + grey.width(),
                  pixels.begin() + static_cast<std::ptrdiff_t>((y + margin) * width + margin));
    }
    return testing::decodeQr(pixels, width, height);
}

bool onlyBlackAndWhite(const QImage& image) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        for (int x = 0; x < rgb.width(); ++x) {
            const QRgb pixel = rgb.pixel(x, y) & 0xFFFFFF;
            if (pixel != 0x000000 && pixel != 0xFFFFFF) {
                return false;
            }
        }
    }
    return true;
}

const std::vector<QString> kPayloads{
    QStringLiteral("korvo://pair?session=6F9619FF-8B86-D011-B42D-00C04FC964FF&code=042917&secret="
                   "q8Zr3kP0vXw1yT5uN7mB2cL4hJ6gF9dS0aE_-Qw"),
    QStringLiteral("korvo://pair?code=123456&note=Büro·✓"),
    QStringLiteral("x"),
};

TEST(QRImageTest, ModulesAreTenPixelBlocksAndTheSamePayloadGivesTheSameImage) {
    for (const QString& payload : kPayloads) {
        SCOPED_TRACE(payload.toStdString());
        const auto image = makeQRImage(payload);
        ASSERT_TRUE(image.has_value());
        const QByteArray utf8 = payload.toUtf8();
        const auto matrix = QrMatrix::encode(std::string_view(utf8.constData(), utf8.size()));
        ASSERT_TRUE(matrix.has_value());
        // One light module of border on each side.
        ASSERT_EQ(image->width(), (matrix->size() + 2) * kQRModulePixels);
        ASSERT_EQ(image->height(), image->width());
        for (int y = 0; y < image->height(); ++y) {
            for (int x = 0; x < image->width(); ++x) {
                const bool dark = matrix->isDark(x / kQRModulePixels - 1, y / kQRModulePixels - 1);
                ASSERT_EQ(image->pixel(x, y) & 0xFFFFFF, dark ? 0x000000U : 0xFFFFFFU)
                    << "pixel " << x << "," << y;
            }
        }
        EXPECT_EQ(makeQRImage(payload), image);
    }
    EXPECT_NE(makeQRImage(kPayloads[0]), makeQRImage(kPayloads[1]));
}

TEST(QRCodeViewTest, ShownPixelSharpAt180AndStillScans) {
    for (const QString& payload : kPayloads) {
        SCOPED_TRACE(payload.toStdString());
        QRCodeView view;
        view.setPayload(payload);
        const QImage shown = view.grab().toImage();
        EXPECT_EQ(shown.size(), QSize(180, 180));
        EXPECT_TRUE(onlyBlackAndWhite(shown)) << "smoothing left grey module edges";
        EXPECT_EQ(decodeImage(shown), std::optional<std::string>(payload.toUtf8().toStdString()));
        EXPECT_EQ(view.grab().toImage(), shown);
    }
}

TEST(QRCodeViewTest, UnencodablePayloadShowsRoundedPlaceholder) {
    EXPECT_FALSE(makeQRImage(QString()).has_value());
    const QString tooLong(3000, QLatin1Char('a'));
    EXPECT_FALSE(makeQRImage(tooLong).has_value());
    QRCodeView view;
    view.setPayload(tooLong);
    const QImage shown = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(180, 180));
    EXPECT_FALSE(onlyBlackAndWhite(shown));
    // The rounded corner leaves the very corner pixel in the background colour, while the
    // filled body is a different shade.
    const QRgb background = view.palette().color(QPalette::Window).rgb() & 0xFFFFFF;
    EXPECT_EQ(shown.pixel(0, 0) & 0xFFFFFF, background);
    EXPECT_NE(shown.pixel(12, 12) & 0xFFFFFF, background);
}

} // namespace
} // namespace korvo
