#include "app/QRCodeView.h"

#include "app/AppStyle.h"
#include "qr/QrMatrix.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>

namespace korvo {

std::optional<QImage> makeQRImage(const QString& payload) {
    const QByteArray bytes = payload.toUtf8();
    const auto matrix = QrMatrix::encode(std::string_view(bytes.constData(), bytes.size()));
    if (!matrix) {
        return std::nullopt;
    }
    // The quiet zone readers need: four modules of white on every side.
    const int border = 4;
    const int modules = matrix->size() + 2 * border;
    QImage image(modules * kQRModulePixels, modules * kQRModulePixels, QImage::Format_RGB32);
    if (image.isNull()) {
        return std::nullopt;
    }
    image.fill(Qt::white);
    const QRgb dark = qRgb(0, 0, 0);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        const int my = y / kQRModulePixels - border;
        for (int x = 0; x < image.width(); ++x) {
            if (matrix->isDark(x / kQRModulePixels - border, my)) {
                line[x] = dark;
            }
        }
    }
    return image;
}

QRCodeView::QRCodeView(QWidget* parent) : QWidget(parent) {
    setFixedSize(kQRViewSide, kQRViewSide);
    setAccessibleName(QStringLiteral("Pairing QR code"));
}

void QRCodeView::setPayload(const QString& payload) {
    if (payload == payload_) {
        return;
    }
    payload_ = payload;
    update();
}

void QRCodeView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect frame = rect();
    if (const auto image = makeQRImage(payload_)) {
        // Whole device pixels per module: the image is scaled by a whole factor (nearest
        // neighbour, so every pixel takes one module's colour) and centred on white, which
        // only widens the quiet zone.
        const qreal ratio = devicePixelRatioF();
        const int side = static_cast<int>(std::floor(frame.width() * ratio));
        const int factor = std::max(1, side / std::max(1, image->width() / kQRModulePixels));
        const int modules = image->width() / kQRModulePixels;
        const QImage scaled = image->scaled(modules * factor, modules * factor,
                                            Qt::IgnoreAspectRatio, Qt::FastTransformation);
        painter.fillRect(frame, Qt::white);
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.setRenderHint(QPainter::Antialiasing, false);
        const qreal shown = scaled.width() / ratio;
        const QPointF origin(std::floor((frame.width() - shown) / 2 * ratio) / ratio,
                             std::floor((frame.height() - shown) / 2 * ratio) / ratio);
        painter.drawImage(QRectF(origin, QSizeF(shown, shown)), scaled);
        return;
    }
    painter.setRenderHint(QPainter::Antialiasing, true);
    QColor fill = palette().color(QPalette::WindowText);
    fill.setAlphaF(0.08);
    QPainterPath path;
    path.addRoundedRect(QRectF(frame), 8, 8);
    painter.fillPath(path, fill);
    painter.setPen(tintColor(Tint::secondary, palette()));
    painter.drawText(frame, Qt::AlignCenter, QStringLiteral("QR unavailable"));
}

} // namespace korvo
