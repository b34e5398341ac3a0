#include "app/AppStyle.h"

#include <QApplication>
#include <QEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <array>
#include <cmath>
#include <functional>

namespace korvo {

QColor tintColor(Tint tint, const QPalette& palette) {
    // Each state colour in two shades: a deep one that reads on light backgrounds and a bright
    // one for dark backgrounds, both at 4.5:1 or more against the window.
    const bool dark = palette.color(QPalette::Window).lightness() < 128;
    switch (tint) {
    case Tint::green:
        return dark ? QColor(0x4c, 0xc3, 0x6a) : QColor(0x16, 0x74, 0x30);
    case Tint::orange:
        return dark ? QColor(0xf0, 0xa0, 0x40) : QColor(0xa0, 0x4e, 0x00);
    case Tint::red:
        return dark ? QColor(0xff, 0x6b, 0x6b) : QColor(0xc6, 0x28, 0x28);
    case Tint::blue:
        return dark ? QColor(0x5a, 0xa9, 0xff) : QColor(0x0a, 0x5c, 0xc2);
    case Tint::secondary: {
        // Text colour blended partly into the background, opaque so it prints the same on
        // every surface; enough text stays for 4.5:1.
        const QColor text = palette.color(QPalette::WindowText);
        const QColor back = palette.color(QPalette::Window);
        return QColor((text.red() * 62 + back.red() * 38) / 100,
                      (text.green() * 62 + back.green() * 38) / 100,
                      (text.blue() * 62 + back.blue() * 38) / 100);
    }
    case Tint::primary:
        break;
    }
    return palette.color(QPalette::WindowText);
}

namespace {

enum class Drawn {
    circlePath,
    downCircleFill,
    checkSeal,
    checkCircleFill,
    exclamationCircle,
    infoCircle,
    circle,
    gauge,
    qrcode,
    radiowaves,
};

struct SymbolEntry {
    std::string_view symbol;
    const char* themeName;
    Drawn drawn;
};

// One place that maps symbol names to desktop icon names and to the drawn fallback.
constexpr std::array kSymbols{
    SymbolEntry{"arrow.triangle.2.circlepath", "view-refresh", Drawn::circlePath},
    SymbolEntry{"arrow.down.circle.fill", "folder-download", Drawn::downCircleFill},
    SymbolEntry{"checkmark.seal", "security-high", Drawn::checkSeal},
    SymbolEntry{"checkmark.circle.fill", "emblem-ok", Drawn::checkCircleFill},
    SymbolEntry{"exclamationmark.circle", "dialog-warning", Drawn::exclamationCircle},
    SymbolEntry{"info.circle", "dialog-information", Drawn::infoCircle},
    SymbolEntry{"circle", "", Drawn::circle},
    SymbolEntry{"gauge.with.dots.needle.67percent", "speedometer", Drawn::gauge},
    SymbolEntry{"qrcode", "view-barcode-qr", Drawn::qrcode},
    SymbolEntry{"dot.radiowaves.left.and.right", "network-wireless", Drawn::radiowaves},
};

// Draws a symbol in one colour on a 32 x 32 canvas.
QIcon drawnIcon(Drawn drawn, const QColor& ink) {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(ink, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    const QRectF ring(4, 4, 24, 24);
    const auto knockout = [&painter](const std::function<void()>& draw) {
        // Draws in transparent "ink" over a filled shape.
        painter.save();
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        draw();
        painter.restore();
    };
    switch (drawn) {
    case Drawn::circlePath:
        painter.drawArc(ring, 30 * 16, 150 * 16);
        painter.drawArc(ring, 210 * 16, 150 * 16);
        painter.drawLine(QPointF(6, 7), QPointF(6.3, 12.5));
        painter.drawLine(QPointF(6.3, 12.5), QPointF(11.5, 11));
        painter.drawLine(QPointF(26, 25), QPointF(25.7, 19.5));
        painter.drawLine(QPointF(25.7, 19.5), QPointF(20.5, 21));
        break;
    case Drawn::downCircleFill:
        painter.setBrush(ink);
        painter.drawEllipse(ring);
        knockout([&] {
            painter.setPen(QPen(Qt::black, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.drawLine(QPointF(16, 9), QPointF(16, 22));
            painter.drawLine(QPointF(10.5, 16.5), QPointF(16, 22));
            painter.drawLine(QPointF(21.5, 16.5), QPointF(16, 22));
        });
        break;
    case Drawn::checkSeal: {
        QPolygonF seal;
        for (int i = 0; i < 24; ++i) {
            const double angle = i * 3.14159265358979 / 12;
            const double radius = (i % 2 == 0) ? 13 : 11;
            seal << QPointF(16 + radius * std::cos(angle), 16 + radius * std::sin(angle));
        }
        painter.drawPolygon(seal);
        painter.drawPolyline(QPolygonF{QPointF(11, 16.5), QPointF(14.5, 20), QPointF(21, 12.5)});
        break;
    }
    case Drawn::checkCircleFill:
        painter.setBrush(ink);
        painter.drawEllipse(ring);
        knockout([&] {
            painter.setPen(QPen(Qt::black, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.drawPolyline(
                QPolygonF{QPointF(10.5, 16.5), QPointF(14.5, 20.5), QPointF(21.5, 12)});
        });
        break;
    case Drawn::exclamationCircle:
    case Drawn::infoCircle: {
        // A stroke and a dot in the ring: the dot below the stroke in "!", above it in "i".
        const bool exclamation = drawn == Drawn::exclamationCircle;
        painter.drawEllipse(ring);
        painter.drawLine(exclamation ? QLineF(16, 9.5, 16, 18) : QLineF(16, 14.5, 16, 22.5));
        painter.setBrush(ink);
        painter.drawEllipse(QPointF(16, exclamation ? 22.5 : 10), 1.2, 1.2);
        break;
    }
    case Drawn::circle:
        painter.drawEllipse(ring);
        break;
    case Drawn::gauge:
        painter.drawArc(QRectF(3, 6, 26, 26), 0, 180 * 16);
        painter.drawLine(QPointF(16, 19), QPointF(22.5, 12));
        painter.setBrush(ink);
        painter.drawEllipse(QPointF(16, 19), 2.5, 2.5);
        painter.drawEllipse(QPointF(7, 17), 1.2, 1.2);
        painter.drawEllipse(QPointF(10, 11), 1.2, 1.2);
        painter.drawEllipse(QPointF(16, 8.5), 1.2, 1.2);
        break;
    case Drawn::qrcode: {
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(Qt::NoPen);
        painter.setBrush(ink);
        const std::array<QRect, 3> finders{QRect(3, 3, 11, 11), QRect(18, 3, 11, 11),
                                           QRect(3, 18, 11, 11)};
        for (const QRect& r : finders) {
            painter.drawRect(r);
        }
        knockout([&] {
            painter.setBrush(Qt::black);
            for (const QRect& r : finders) {
                painter.drawRect(r.adjusted(2, 2, -2, -2));
            }
        });
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
        painter.drawArc(QRectF(8, 8, 16, 16), 125 * 16, 110 * 16);
        painter.drawArc(QRectF(8, 8, 16, 16), -55 * 16, 110 * 16);
        painter.drawArc(QRectF(2, 2, 28, 28), 130 * 16, 100 * 16);
        painter.drawArc(QRectF(2, 2, 28, 28), -50 * 16, 100 * 16);
        break;
    }
    painter.end();
    return QIcon(pixmap);
}

const SymbolEntry* findSymbol(std::string_view symbol) {
    for (const SymbolEntry& entry : kSymbols) {
        if (entry.symbol == symbol) {
            return &entry;
        }
    }
    return nullptr;
}

} // namespace

QIcon symbolIcon(std::string_view symbol) {
    const SymbolEntry* entry = findSymbol(symbol);
    if (!entry) {
        return {};
    }
    if (*entry->themeName != '\0') {
        QIcon themed = QIcon::fromTheme(QString::fromLatin1(entry->themeName));
        if (!themed.isNull()) {
            return themed;
        }
    }
    return drawnIcon(entry->drawn, QApplication::palette().color(QPalette::WindowText));
}

QIcon tintedSymbolIcon(std::string_view symbol, const QColor& color) {
    const SymbolEntry* entry = findSymbol(symbol);
    return entry ? drawnIcon(entry->drawn, color) : QIcon();
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

namespace {

// Keeps a widget's tint when the application's palette changes (the desktop switched between
// light and dark): the tint is worked out again from the new palette.
class TintKeeper : public QObject {
public:
    static QString name() { return QStringLiteral("korvo-tint-keeper"); }

    TintKeeper(QWidget* widget, Tint tint, QList<QPalette::ColorRole> roles)
        : QObject(widget), tint_(tint), roles_(std::move(roles)) {
        setObjectName(name());
        widget->installEventFilter(this);
    }
    void set(Tint tint, QList<QPalette::ColorRole> roles) {
        tint_ = tint;
        roles_ = std::move(roles);
    }
    void paint(QWidget* widget) const {
        QPalette palette = widget->palette();
        const QColor color = tintColor(tint_, QApplication::palette());
        bool changed = false;
        for (const QPalette::ColorRole role : roles_) {
            changed = changed || palette.color(role) != color ||
                      !palette.isBrushSet(QPalette::Active, role);
            palette.setColor(role, color);
        }
        // Setting the palette announces a change again; the colours then match and it stops.
        if (changed) {
            widget->setPalette(palette);
        }
    }

protected:
    // A new application palette reaches the widget as a change of its own palette.
    bool eventFilter(QObject* watched, QEvent* event) override {
        if ((event->type() == QEvent::PaletteChange ||
             event->type() == QEvent::ApplicationPaletteChange) &&
            watched == parent()) {
            paint(static_cast<QWidget*>(watched));
        }
        return false;
    }

private:
    Tint tint_;
    QList<QPalette::ColorRole> roles_;
};

} // namespace

void applyTint(QWidget* widget, Tint tint, QList<QPalette::ColorRole> roles) {
    auto* keeper = static_cast<TintKeeper*>(
        widget->findChild<QObject*>(TintKeeper::name(), Qt::FindDirectChildrenOnly));
    if (keeper) {
        keeper->set(tint, std::move(roles));
    } else {
        keeper = new TintKeeper(widget, tint, std::move(roles));
    }
    keeper->paint(widget);
}

} // namespace korvo
