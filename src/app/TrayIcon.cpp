#include "app/TrayIcon.h"

#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <array>
#include <cmath>

namespace korvo {

namespace {

// The sizes panels ask for, drawn each on its own pixel grid rather than scaled.
constexpr std::array kSizes{16, 22, 24, 32, 48, 64};

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

namespace {

QColor meterColour(ProviderStatus status) {
    switch (status) {
    case ProviderStatus::ok:
        return QColor(0x30, 0xd1, 0x58);
    case ProviderStatus::warning:
        return QColor(0xff, 0x9f, 0x0a);
    case ProviderStatus::critical:
    case ProviderStatus::limited:
        return QColor(0xff, 0x45, 0x3a);
    case ProviderStatus::offline:
    case ProviderStatus::stale:
    case ProviderStatus::unknown:
        break;
    }
    return QColor(0xb0, 0xb0, 0xb0);
}

} // namespace

QImage trayStateImage(const TrayGlance& glance, int pixels, bool mask) {
    const double p = pixels;
    const QColor rim = mask ? QColor(0, 0, 0, 90) : QColor(0x20, 0x20, 0x20, 240);
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const QRectF whole(0.5, 0.5, p - 1, p - 1);

    if (glance.mark == TrayGlance::Mark::limited) {
        // A stop sign: a red disk with a white bar across.
        painter.setBrush(mask ? QColor(Qt::black) : QColor(0xff, 0x3b, 0x30));
        painter.drawEllipse(whole);
        if (mask) {
            painter.setCompositionMode(QPainter::CompositionMode_Clear);
        }
        painter.setBrush(mask ? QColor(Qt::black) : QColor(Qt::white));
        const double barHeight = std::max(3.0, std::round(p * 0.25));
        const double barWidth = std::round(p * 0.6);
        painter.drawRect(
            QRectF((p - barWidth) / 2, std::round((p - barHeight) / 2), barWidth, barHeight));
        return image;
    }

    if (glance.lowest) {
        // A dark disk (the rim that reads on light panels), a light track ring, and the remaining
        // share as a pie in its status colour, from twelve o'clock clockwise.
        painter.setBrush(rim);
        painter.drawEllipse(whole);
        const double ring = std::max(1.5, p / 14.0);
        const QRectF track = whole.adjusted(ring, ring, -ring, -ring);
        painter.setPen(QPen(mask ? QColor(0, 0, 0, 160) : QColor(0xa8, 0xa8, 0xa8), ring));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(track.adjusted(ring / 2, ring / 2, -ring / 2, -ring / 2));
        painter.setPen(Qt::NoPen);
        const double share = std::clamp(*glance.lowest, 0.0, 100.0) / 100.0;
        const QRectF pie = track.adjusted(ring, ring, -ring, -ring);
        painter.setBrush(mask ? QColor(Qt::black) : meterColour(glance.lowestStatus));
        if (share >= 0.999) {
            painter.drawEllipse(pie);
        } else if (share > 0) {
            // At least a sliver stays visible for a share above zero.
            painter.drawPie(pie, 90 * 16, -std::max(12, int(std::lround(share * 360 * 16))));
        }
    } else {
        painter.drawImage(0, 0, twoTone(pixels));
    }

    if (glance.mark == TrayGlance::Mark::failing || glance.mark == TrayGlance::Mark::notPaired) {
        // A badge in the lower right corner.
        const double size = std::max(7.0, std::round(p * 0.5));
        const QRectF badge(p - size, p - size, size, size);
        painter.setBrush(mask ? QColor(Qt::black) : QColor(0x20, 0x20, 0x20));
        painter.drawEllipse(badge);
        const bool failing = glance.mark == TrayGlance::Mark::failing;
        painter.setBrush(mask      ? QColor(Qt::black)
                         : failing ? QColor(0xff, 0xd6, 0x0a)
                                   : QColor(0xc8, 0xc8, 0xc8));
        const double inset = std::max(1.0, size / 8);
        painter.drawEllipse(badge.adjusted(inset, inset, -inset, -inset));
        if (mask) {
            painter.setCompositionMode(QPainter::CompositionMode_Clear);
        }
        painter.setBrush(mask ? QColor(Qt::black) : QColor(0x20, 0x20, 0x20));
        const double stroke = std::max(1.0, std::round(size / 6));
        const double cx = badge.center().x();
        if (failing) {
            // "!": a bar and a dot.
            painter.drawRect(
                QRectF(cx - stroke / 2, badge.top() + size * 0.2, stroke, size * 0.38));
            painter.drawRect(QRectF(cx - stroke / 2, badge.top() + size * 0.66, stroke, stroke));
        } else {
            // "–": not linked to a phone.
            painter.drawRect(QRectF(badge.left() + size * 0.25, badge.center().y() - stroke / 2,
                                    size * 0.5, stroke));
        }
    }
    return image;
}

QIcon trayIcon(const TrayGlance& glance) {
    QIcon icon;
#if defined(Q_OS_MACOS)
    for (const int pixels : kSizes) {
        icon.addPixmap(QPixmap::fromImage(trayStateImage(glance, pixels, true)));
    }
    icon.setIsMask(true);
#else
    for (const int pixels : kSizes) {
        icon.addPixmap(QPixmap::fromImage(trayStateImage(glance, pixels)));
    }
#endif
    return icon;
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
