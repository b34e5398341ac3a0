#pragma once

#include "model/Clock.h"

#include <QWidget>

class QLabel;
class QPushButton;

namespace korvo {

class Pairing;
class QRCodeView;
class SymbolLabel;

// Shown while this machine is not paired: the quick start, the button that creates a pairing
// code and, while a session exists, its QR code, code, expiry and poll state.
class PairingConnectorView : public QWidget {
    Q_OBJECT
public:
    PairingConnectorView(Pairing& pairing, Clock clock, QWidget* parent = nullptr);

    void refresh();

    QRCodeView* qrCodeView() const { return qr_; }
    QWidget* sessionRow() const { return session_; }

private:
    Pairing& pairing_;
    Clock clock_;
    QPushButton* create_;
    QWidget* session_;
    QRCodeView* qr_;
    QLabel* code_;
    QLabel* expires_;
    SymbolLabel* pollState_;
};

} // namespace korvo
