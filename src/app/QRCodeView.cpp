#include "app/QRCodeView.h"

#include "app/AppStyle.h"
#include "qr/QrMatrix.h"

#include <QPainter>
#include <QPainterPath>

namespace korvo {

std::optional<QImage> makeQRImage(const QString& payload) {
    const QByteArray bytes = payload.toUtf8();
    const auto matrix = QrMatrix::encode(std::string_view(bytes.constData(), bytes.size()));
    if (!matrix) {
        return std::nullopt;
    }
    const int border = 1;
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
        // Nearest-neighbour scaling: every screen pixel takes one module's colour.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.drawImage(frame, *image);
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
