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

QImage grab(QRCodeView& view) {
    return view.grab().toImage();
}

const std::vector<QString> kPayloads{
    QStringLiteral("korvo://pair?session=6F9619FF-8B86-D011-B42D-00C04FC964FF&code=042917&secret="
                   "q8Zr3kP0vXw1yT5uN7mB2cL4hJ6gF9dS0aE_-Qw"),
    QStringLiteral("korvo://pair?code=123456&note=Büro·✓"),
    QStringLiteral("x"),
};

TEST(QRImageTest, ModulesAreTenPixelBlocksAndScanBackToThePayload) {
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
        EXPECT_EQ(decodeImage(*image), std::optional<std::string>(utf8.toStdString()));
    }
}

TEST(QRImageTest, SamePayloadGivesIdenticalImages) {
    const auto first = makeQRImage(kPayloads[0]);
    const auto second = makeQRImage(kPayloads[0]);
    const auto other = makeQRImage(kPayloads[1]);
    ASSERT_TRUE(first && second && other);
    EXPECT_EQ(*first, *second);
    EXPECT_NE(*first, *other);
}

TEST(QRImageTest, UnencodablePayloadGivesNoImage) {
    EXPECT_FALSE(makeQRImage(QString()).has_value());
    EXPECT_FALSE(makeQRImage(QString(3000, QLatin1Char('a'))).has_value());
}

TEST(QRCodeViewTest, ShownPixelSharpAt180AndStillScans) {
    for (const QString& payload : kPayloads) {
        SCOPED_TRACE(payload.toStdString());
        QRCodeView view;
        view.setPayload(payload);
        const QImage shown = grab(view);
        EXPECT_EQ(shown.size(), QSize(180, 180));
        EXPECT_TRUE(onlyBlackAndWhite(shown)) << "smoothing left grey module edges";
        EXPECT_EQ(decodeImage(shown), std::optional<std::string>(payload.toUtf8().toStdString()));
        // Same payload, same picture.
        EXPECT_EQ(grab(view), shown);
    }
}

TEST(QRCodeViewTest, UnencodablePayloadShowsRoundedPlaceholder) {
    QRCodeView view;
    view.setPayload(QString(3000, QLatin1Char('a')));
    const QImage shown = grab(view).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), QSize(180, 180));
    EXPECT_FALSE(onlyBlackAndWhite(shown));
    // The rounded corner leaves the very corner pixel in the background colour, while the
    // filled body is a different shade.
    const QRgb background = view.palette().color(QPalette::Window).rgb() & 0xFFFFFF;
    EXPECT_EQ(shown.pixel(0, 0) & 0xFFFFFF, background);
    EXPECT_NE(shown.pixel(12, 12) & 0xFFFFFF, background);
    // Some pixels of the "QR unavailable" text, darker than the fill, sit in the middle band.
    int darkPixels = 0;
    for (int y = 80; y < 100; ++y) {
        for (int x = 20; x < 160; ++x) {
            darkPixels += qGray(shown.pixel(x, y)) < qGray(shown.pixel(12, 12)) - 40 ? 1 : 0;
        }
    }
    EXPECT_GT(darkPixels, 20);
}

} // namespace
} // namespace korvo
