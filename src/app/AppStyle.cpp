#include "app/AppStyle.h"

#include <QApplication>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QStyle>
#include <array>

namespace korvo {

QColor tintColor(Tint tint, const QPalette& palette) {
    switch (tint) {
    case Tint::green:
        return QColor(36, 160, 72);
    case Tint::orange:
        return QColor(232, 128, 0);
    case Tint::red:
        return QColor(214, 40, 40);
    case Tint::blue:
        return QColor(0, 112, 230);
    case Tint::secondary: {
        // Text colour blended halfway into the background, opaque so it prints the same
        // on every surface.
        const QColor text = palette.color(QPalette::WindowText);
        const QColor back = palette.color(QPalette::Window);
        return QColor((text.red() * 55 + back.red() * 45) / 100,
                      (text.green() * 55 + back.green() * 45) / 100,
                      (text.blue() * 55 + back.blue() * 45) / 100);
    }
    case Tint::primary:
        break;
    }
    return palette.color(QPalette::WindowText);
}

namespace {

enum class Drawn { none, circle, gauge, qrcode, radiowaves, barChart };

struct SymbolEntry {
    std::string_view symbol;
    const char* themeName;
    QStyle::StandardPixmap standard;
    bool hasStandard;
    Drawn drawn;
};

// One place that maps symbol names to desktop icons.
constexpr std::array kSymbols{
    SymbolEntry{"chart.bar.xaxis", "office-chart-bar", QStyle::SP_ComputerIcon, false,
                Drawn::barChart},
    SymbolEntry{"arrow.triangle.2.circlepath", "view-refresh", QStyle::SP_BrowserReload, true,
                Drawn::none},
    SymbolEntry{"arrow.down.circle.fill", "folder-download", QStyle::SP_ArrowDown, true,
                Drawn::none},
    SymbolEntry{"checkmark.seal", "security-high", QStyle::SP_DialogApplyButton, true, Drawn::none},
    SymbolEntry{"checkmark.circle.fill", "emblem-ok", QStyle::SP_DialogYesButton, true,
                Drawn::none},
    SymbolEntry{"exclamationmark.circle", "dialog-warning", QStyle::SP_MessageBoxWarning, true,
                Drawn::none},
    SymbolEntry{"info.circle", "dialog-information", QStyle::SP_MessageBoxInformation, true,
                Drawn::none},
    SymbolEntry{"circle", "", QStyle::SP_CustomBase, false, Drawn::circle},
    SymbolEntry{"gauge.with.dots.needle.67percent", "speedometer", QStyle::SP_CustomBase, false,
                Drawn::gauge},
    SymbolEntry{"qrcode", "view-barcode-qr", QStyle::SP_CustomBase, false, Drawn::qrcode},
    SymbolEntry{"dot.radiowaves.left.and.right", "network-wireless", QStyle::SP_CustomBase, false,
                Drawn::radiowaves},
};

QIcon drawnIcon(Drawn drawn) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = QApplication::palette().color(QPalette::WindowText);
    painter.setPen(QPen(ink, 2.5));
    switch (drawn) {
    case Drawn::none:
        return {};
    case Drawn::circle:
        painter.drawEllipse(QRectF(5, 5, 22, 22));
        break;
    case Drawn::gauge: {
        painter.drawArc(QRectF(4, 6, 24, 24), 0, 180 * 16);
        painter.drawLine(QPointF(16, 18), QPointF(23, 11));
        painter.setBrush(ink);
        painter.drawEllipse(QPointF(16, 18), 2.5, 2.5);
        break;
    }
    case Drawn::qrcode: {
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(Qt::NoPen);
        painter.setBrush(ink);
        const std::array<QRect, 3> finders{QRect(3, 3, 11, 11), QRect(18, 3, 11, 11),
                                           QRect(3, 18, 11, 11)};
        for (const QRect& r : finders) {
            painter.drawRect(r);
        }
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        for (const QRect& r : finders) {
            painter.drawRect(r.adjusted(2, 2, -2, -2));
        }
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        for (const QRect& r : finders) {
            painter.drawRect(r.adjusted(4, 4, -4, -4));
        }
        painter.drawRect(QRect(18, 18, 4, 4));
        painter.drawRect(QRect(24, 24, 5, 5));
        painter.drawRect(QRect(24, 18, 3, 3));
        painter.drawRect(QRect(18, 25, 3, 4));
        break;
    }
    case Drawn::radiowaves:
        painter.setBrush(ink);
        painter.drawEllipse(QPointF(16, 16), 3, 3);
        painter.setBrush(Qt::NoBrush);
        painter.drawArc(QRectF(7, 7, 18, 18), 120 * 16, 120 * 16);
        painter.drawArc(QRectF(7, 7, 18, 18), -60 * 16, 120 * 16);
        painter.drawArc(QRectF(2, 2, 28, 28), 125 * 16, 110 * 16);
        painter.drawArc(QRectF(2, 2, 28, 28), -55 * 16, 110 * 16);
        break;
    case Drawn::barChart:
        painter.setPen(Qt::NoPen);
        painter.setBrush(ink);
        painter.drawRoundedRect(QRectF(5, 16, 5, 11), 1.5, 1.5);
        painter.drawRoundedRect(QRectF(13.5, 7, 5, 20), 1.5, 1.5);
        painter.drawRoundedRect(QRectF(22, 12, 5, 15), 1.5, 1.5);
        painter.drawRect(QRectF(3, 28, 26, 2));
        break;
    }
    painter.end();
    return QIcon(pixmap);
}

} // namespace

QIcon symbolIcon(std::string_view symbol) {
    for (const SymbolEntry& entry : kSymbols) {
        if (entry.symbol != symbol) {
            continue;
        }
        if (*entry.themeName != '\0') {
            QIcon themed = QIcon::fromTheme(QString::fromLatin1(entry.themeName));
            if (!themed.isNull()) {
                return themed;
            }
        }
        if (entry.hasStandard) {
            return QApplication::style()->standardIcon(entry.standard);
        }
        return drawnIcon(entry.drawn);
    }
    return {};
}

QIcon trayIcon() {
    return symbolIcon("chart.bar.xaxis");
}

void applyTextStyle(QLabel* label, TextStyle style, bool semibold) {
    QFont font = QApplication::font();
    const qreal base = font.pointSizeF() > 0 ? font.pointSizeF() : 10.0;
    switch (style) {
    case TextStyle::body:
        break;
    case TextStyle::caption:
        font.setPointSizeF(base * 0.85);
        break;
    case TextStyle::headline:
        font.setWeight(QFont::DemiBold);
        break;
    case TextStyle::title2:
        font.setPointSizeF(base * 1.55);
        break;
    }
    if (semibold) {
        font.setWeight(QFont::DemiBold);
    }
    label->setFont(font);
}

void applyTint(QWidget* widget, Tint tint) {
    QPalette palette = widget->palette();
    const QColor color = tintColor(tint, QApplication::palette());
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    widget->setPalette(palette);
}

} // namespace korvo
