#pragma once

#include <QImage>
#include <QString>
#include <QWidget>
#include <optional>

namespace korvo {

// Pixels per QR module in the image made by makeQRImage.
inline constexpr int kQRModulePixels = 10;
// Side of the square the QR code is shown in, in device-independent pixels.
inline constexpr int kQRViewSide = 180;

// The payload's QR code as an image: every module a 10 x 10 block of black or white pixels,
// with a one-module light border. Absent when the payload cannot be encoded.
std::optional<QImage> makeQRImage(const QString& payload);

// Shows the QR code of `payload` in 180 x 180, scaled without smoothing so modules stay
// sharp, or a rounded "QR unavailable" placeholder when there is no image.
class QRCodeView : public QWidget {
    Q_OBJECT
public:
    explicit QRCodeView(QWidget* parent = nullptr);

    void setPayload(const QString& payload);
    const QString& payload() const { return payload_; }

    QSize sizeHint() const override { return {kQRViewSide, kQRViewSide}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString payload_;
};

} // namespace korvo
