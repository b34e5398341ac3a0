#pragma once

#include "model/Clock.h"

#include <QPointer>
#include <QUrl>
#include <QWidget>
#include <optional>
#include <qcoro/qcorotask.h>

class QLabel;
class QPushButton;

namespace korvo {

class Pairing;
class RelayClient;
class QRCodeView;
class SymbolLabel;

// Shown while this machine is not paired: the quick start, the button that creates a pairing
// code and, while a session exists, its QR code, code, expiry and poll state. Where the relay
// serves its web view, a second QR code opens that page on any phone with the code filled in.
class PairingConnectorView : public QWidget {
    Q_OBJECT
public:
    // `relay` is asked, per pairing code, whether it serves the web view.
    PairingConnectorView(Pairing& pairing, const RelayClient& relay, Clock clock,
                         QWidget* parent = nullptr);

    void refresh();

    QRCodeView* qrCodeView() const { return qr_; }
    QWidget* sessionRow() const { return session_; }
    QWidget* webViewRow() const { return web_; }
    QRCodeView* webViewQrCodeView() const { return webQr_; }

    // The page that opens the web view at `address` with `code` filled in. The code travels in
    // the fragment, which a browser keeps to itself: it is never part of a request to the relay.
    static QUrl webPairingLink(const QUrl& address, const QString& code);

private:
    // Asks the relay once per pairing code whether it serves the web view; the answer shows the
    // web row while that code is still the one shown.
    QCoro::Task<> lookUpWebView(QString code);
    void showWebView();

    Pairing& pairing_;
    const RelayClient& relay_;
    Clock clock_;
    QPushButton* create_;
    QWidget* session_;
    QRCodeView* qr_;
    QLabel* code_;
    QLabel* expires_;
    SymbolLabel* pollState_;
    QWidget* web_;
    QRCodeView* webQr_;
    QLabel* webAddress_;
    QString webLookupCode_;
    std::optional<QUrl> webAddressFound_;
};

} // namespace korvo
