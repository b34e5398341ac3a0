#include "app/TrayIcon.h"

#include <QPainter>
#include <QPixmap>
#include <array>
#include <cmath>

namespace korvo {

namespace {

// The sizes panels ask for, drawn each on its own pixel grid rather than scaled.
constexpr std::array kSizes{16, 22, 24, 32, 48, 64};

#if !defined(Q_OS_MACOS)
// The mask filled light inside a dark rim about a sixteenth of the icon wide: the rim is the
// mask drawn at every offset within that distance, the light fill the mask itself on top.
QImage twoTone(int pixels) {
    const QImage mask = trayMask(pixels);
    const auto tinted = [&mask](const QColor& color) {
        QImage image = mask;
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(image.rect(), color);
        return image;
    };
    const QImage rim = tinted(QColor(0x20, 0x20, 0x20, 235));
    const QImage fill = tinted(QColor(0xf4, 0xf4, 0xf4));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    const double radius = std::max(1.0, pixels / 16.0);
    const int reach = static_cast<int>(std::ceil(radius));
    for (int dy = -reach; dy <= reach; ++dy) {
        for (int dx = -reach; dx <= reach; ++dx) {
            if (dx * dx + dy * dy <= radius * radius + 0.5) {
                painter.drawImage(dx, dy, rim);
            }
        }
    }
    painter.drawImage(0, 0, fill);
    return image;
}
#endif

} // namespace

QImage trayMask(int pixels) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    // Three bars laid out on whole pixels at each size, so that small icons stay sharp, with
    // room around them for the rim of the two-tone form.
    const auto scaled = [pixels](double fraction) {
        return static_cast<int>(std::lround(pixels * fraction));
    };
    const int width = scaled(3.0 / 16), gap = scaled(2.0 / 16);
    const int left = (pixels - 3 * width - 2 * gap) / 2;
    const int bottom = pixels - std::max(1, scaled(1.5 / 16));
    const std::array heights{scaled(0.45), scaled(0.8), scaled(0.6)};
    const double corner = pixels / 32.0;
    for (std::size_t i = 0; i < heights.size(); ++i) {
        const int x = left + static_cast<int>(i) * (width + gap);
        painter.drawRoundedRect(QRectF(x, bottom - heights[i], width, heights[i]), corner, corner);
    }
    return image;
}

QIcon trayIcon() {
    QIcon icon;
#if defined(Q_OS_MACOS)
    for (const int pixels : kSizes) {
        icon.addPixmap(QPixmap::fromImage(trayMask(pixels)));
    }
    // A template image: the menu bar draws the shape in its own colour, light or dark.
    icon.setIsMask(true);
#else
    for (const int pixels : kSizes) {
        icon.addPixmap(QPixmap::fromImage(twoTone(pixels)));
    }
#endif
    return icon;
}

} // namespace korvo
