#include "app/PairingConnectorView.h"

#include "app/ConnectorGuideRow.h"
#include "app/QRCodeView.h"
#include "app/SymbolLabel.h"
#include "app/ViewSupport.h"
#include "app/ViewText.h"
#include "core/Pairing.h"
#include "model/TimeText.h"
#include "relayclient/RelayClient.h"
#include "relayclient/WebViewAddress.h"

#include <QFontDatabase>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

namespace korvo {

PairingConnectorView::PairingConnectorView(Pairing& pairing, const RelayClient& relay, Clock clock,
                                           QWidget* parent)
    : QWidget(parent), pairing_(pairing), relay_(relay), clock_(std::move(clock)),
      create_(new QPushButton(this)), session_(new QWidget(this)), qr_(new QRCodeView(session_)),
      code_(plainLabel(session_)),
      expires_(makeLabel({}, TextStyle::body, Tint::secondary, session_)),
      pollState_(new SymbolLabel(session_)), web_(new QWidget(this)), webQr_(new QRCodeView(web_)),
      webAddress_(makeLabel({}, TextStyle::body, Tint::primary, web_)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(
        makeLabel(desktopWording(QStringLiteral("Pair this Mac with Korvo on iPhone.")),
                  TextStyle::body, Tint::secondary, this));

    auto* guide = new QGroupBox(QStringLiteral("Quick Start"), this);
    auto* guideLayout = new QVBoxLayout(guide);
    guideLayout->addWidget(new ConnectorGuideRow(
        1, desktopWording(QStringLiteral("Create a pairing code on this Mac.")), guide));
    guideLayout->addWidget(new ConnectorGuideRow(
        2,
        QStringLiteral("Open Korvo on iPhone, choose Link Korvo Connector, then scan the QR code "
                       "or enter the 6-digit code."),
        guide));
    guideLayout->addWidget(new ConnectorGuideRow(
        3,
        QStringLiteral("Keep Korvo Connector running so sanitized snapshots upload about every 30 "
                       "seconds."),
        guide));
    layout->addWidget(guide);

    create_->setObjectName(QStringLiteral("createPairingCode"));
    create_->setIcon(symbolIcon("qrcode"));
    auto* createRow = new QHBoxLayout;
    createRow->addWidget(create_);
    createRow->addStretch();
    layout->addLayout(createRow);

    auto* sessionLayout = new QHBoxLayout(session_);
    sessionLayout->setContentsMargins(0, 0, 0, 0);
    sessionLayout->setSpacing(16);
    sessionLayout->addWidget(qr_, 0, Qt::AlignTop);
    auto* details = new QVBoxLayout;
    details->setSpacing(8);
    QFont codeFont = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    codeFont.setPixelSize(34);
    codeFont.setWeight(QFont::DemiBold);
    code_->setObjectName(QStringLiteral("pairingCode"));
    code_->setFont(codeFont);
    code_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    details->addWidget(code_);
    details->addWidget(expires_);
    details->addWidget(pollState_);
    auto* checkNow = new QPushButton(QStringLiteral("Check Now"), session_);
    checkNow->setObjectName(QStringLiteral("checkPairingNow"));
    auto* checkRow = new QHBoxLayout;
    checkRow->addWidget(checkNow);
    checkRow->addStretch();
    details->addLayout(checkRow);
    details->addStretch();
    sessionLayout->addLayout(details, 1);
    layout->addWidget(session_);

    // Any phone's browser pairs through the relay's web view: its address to type, and a QR
    // code that opens it with the code filled in.
    auto* webLayout = new QHBoxLayout(web_);
    webLayout->setContentsMargins(0, 0, 0, 0);
    webLayout->setSpacing(16);
    webQr_->setObjectName(QStringLiteral("webPairingQrCode"));
    webQr_->setAccessibleName(QStringLiteral("Web view pairing QR code"));
    webLayout->addWidget(webQr_, 0, Qt::AlignTop);
    auto* webDetails = new QVBoxLayout;
    webDetails->setSpacing(8);
    webAddress_->setObjectName(QStringLiteral("webViewAddress"));
    webAddress_->setWordWrap(true);
    webAddress_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    webDetails->addWidget(webAddress_);
    auto* webHint = makeLabel(
        QStringLiteral("Scan this QR code with the phone's camera to open the page with the code "
                       "filled in, then choose Pair."),
        TextStyle::caption, Tint::secondary, web_);
    webHint->setWordWrap(true);
    webDetails->addWidget(webHint);
    webDetails->addStretch();
    webLayout->addLayout(webDetails, 1);
    web_->setVisible(false);
    layout->addWidget(web_);

    connect(create_, &QPushButton::clicked, this,
            [this] { launch([this] { return pairing_.createCode(); }); });
    connect(checkNow, &QPushButton::clicked, this,
            [this] { launch([this] { return pairing_.checkStatus(); }); });
    refresh();
}

void PairingConnectorView::refresh() {
    const PairingState& state = pairing_.state();
    const bool pairing = state.isCreatingCode;
    create_->setText(pairing ? QStringLiteral("Creating Pairing")
                             : QStringLiteral("Create Pairing Code"));
    create_->setEnabled(!pairing);
    const auto& session = state.session;
    session_->setVisible(session.has_value());
    if (!session) {
        webLookupCode_.clear();
        web_->setVisible(false);
        return;
    }
    if (qs(session->pairingCode) != webLookupCode_) {
        webLookupCode_ = qs(session->pairingCode);
        webAddressFound_.reset();
        web_->setVisible(false);
        [[maybe_unused]] auto task = lookUpWebView(webLookupCode_);
    }
    qr_->setPayload(qs(session->qrPayload));
    code_->setText(qs(session->pairingCode));
    expires_->setText(qs("Expires " + relativeTimePhrase(session->expiresAt, clock_())));
    if (state.isPolling) {
        pollState_->set(QStringLiteral("Waiting for iPhone"), "dot.radiowaves.left.and.right",
                        Tint::secondary);
    } else {
        pollState_->set(QStringLiteral("Ready to pair"), "qrcode", Tint::secondary);
    }
}

QUrl PairingConnectorView::webPairingLink(const QUrl& address, const QString& code) {
    QUrl link = address;
    link.setFragment(QStringLiteral("code=") + code);
    return link;
}

QCoro::Task<> PairingConnectorView::lookUpWebView(QString code) {
    const QPointer<PairingConnectorView> self(this);
    const std::optional<QUrl> address = co_await webViewAddress(relay_.baseURL());
    // The window may have closed, or a newer code replaced this one, while the relay answered.
    if (!self || code != webLookupCode_) {
        co_return;
    }
    webAddressFound_ = address;
    showWebView();
}

void PairingConnectorView::showWebView() {
    if (!webAddressFound_ || webLookupCode_.isEmpty()) {
        web_->setVisible(false);
        return;
    }
    webAddress_->setText(QStringLiteral("Or open %1 on any phone")
                             .arg(webAddressFound_->toString(QUrl::FullyEncoded)));
    webQr_->setPayload(
        webPairingLink(*webAddressFound_, webLookupCode_).toString(QUrl::FullyEncoded));
    web_->setVisible(true);
}

} // namespace korvo
