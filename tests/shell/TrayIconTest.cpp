// The tray icon as a panel draws it, whatever the panel's colour: each symbol's drawing sent over
// D-Bus, decoded as a panel decodes it, at the pixmap's own size and scaled down from the largest
// (as xfce4-panel does), on a light and on a dark panel. Enough of it must stand apart from the
// panel by the contrast the accessibility guidelines ask of icons (3:1), and only the attention
// symbol may carry the warning colour, in the tray as in the status window.
#include "shell/StatusWindow.h"
#include "shell/Symbols.h"
#include "shell/TrayTypes.h"

#include <QAction>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

using namespace spinforge;

namespace {

double linear(int channel) {
    const double value = channel / 255.0;
    return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
}
double luminance(QRgb color) {
    return 0.2126 * linear(qRed(color)) + 0.7152 * linear(qGreen(color)) + 0.0722 * linear(qBlue(color));
}
double contrast(QRgb a, QRgb b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
// Orange to amber, saturated and bright: what reads as a warning.
bool warningColoured(QRgb rgb) {
    const QColor color(rgb);
    return color.hsvHue() >= 20 && color.hsvHue() <= 45 && color.hsvSaturationF() >= 0.6 && color.valueF() >= 0.6;
}

// The protocol's pixmap: ARGB, each pixel in network byte order.
QImage decoded(const TrayPixmap& pixmap) {
    QImage image(pixmap.width, pixmap.height, QImage::Format_ARGB32);
    if (pixmap.argb.size() != qsizetype(pixmap.width) * pixmap.height * 4) return {};
    const auto* bytes = reinterpret_cast<const uchar*>(pixmap.argb.constData());
    for (int y = 0; y < pixmap.height; ++y)
        for (int x = 0; x < pixmap.width; ++x, bytes += 4) image.setPixel(x, y, qRgba(bytes[1], bytes[2], bytes[3], bytes[0]));
    return image;
}

QImage onPanel(const QImage& icon, const QColor& panel, int size) {
    QImage shown(size, size, QImage::Format_RGB32);
    shown.fill(panel);
    QPainter painter(&shown);
    painter.drawImage(QRect(0, 0, size, size), icon.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    return shown;
}

double share(const QImage& image, const std::function<bool(QRgb)>& counts) {
    int counted = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) counted += counts(image.pixel(x, y));
    return double(counted) / (image.width() * image.height());
}

struct Look {
    const QString& symbol;
    bool warning;
};
const Look looks[] = {{Symbols::drive, false}, {Symbols::syncing, false}, {Symbols::attention, true}};
const QColor lightPanel(0xf0, 0xf0, 0xf0), darkPanel(0x2b, 0x2b, 0x2b);
constexpr double standingOut = 0.15;  // of the icon's square, at 3:1 or more
constexpr double warningShare = 0.10;

TEST(TrayIcon, EachSymbolStandsOutOnLightAndDarkPanelsAndOnlyAttentionIsWarningColoured) {
    for (const Look& look : looks) {
        const TrayPixmaps pixmaps = pixmapsOf(Symbols::trayIcon(look.symbol));
        ASSERT_FALSE(pixmaps.isEmpty()) << look.symbol.toStdString();
        const QImage largest = decoded(*std::max_element(pixmaps.begin(), pixmaps.end(), [](const TrayPixmap& a, const TrayPixmap& b) {
            return a.width < b.width;
        }));
        for (int size : {16, 22, 32}) {
            const auto own = std::find_if(pixmaps.begin(), pixmaps.end(), [&](const TrayPixmap& p) { return p.width == size; });
            ASSERT_NE(own, pixmaps.end()) << look.symbol.toStdString() << " has no " << size << " px pixmap";
            for (const auto& [drawn, how] : {std::pair{decoded(*own), "its own size"}, std::pair{largest, "scaled down"}})
                for (const QColor& panel : {lightPanel, darkPanel}) {
                    SCOPED_TRACE(look.symbol.toStdString() + " at " + std::to_string(size) + " px, " + how + ", on " +
                                 panel.name().toStdString());
                    const QImage shown = onPanel(drawn, panel, size);
                    EXPECT_GE(share(shown, [&](QRgb pixel) { return contrast(pixel, panel.rgb()) >= 3.0; }), standingOut);
                    const double warm = share(shown, warningColoured);
                    if (look.warning)
                        EXPECT_GE(warm, warningShare);
                    else
                        EXPECT_EQ(warm, 0.0);
                }
        }
    }
}

// Where no tray runs, the window's symbol follows the same rule.
TEST(TrayIcon, TheStatusWindowShowsAttentionInTheWarningColour) {
    QAction statusLine(QStringLiteral("Standing by"));
    StatusWindow window(statusLine);
    for (const Look& look : looks) {
        SCOPED_TRACE(look.symbol.toStdString());
        window.setImage(look.symbol, {});
        const QImage shown = window.findChild<QLabel*>(QStringLiteral("symbol"))->pixmap().toImage();
        ASSERT_FALSE(shown.isNull());
        const double warm = share(shown, [](QRgb pixel) { return qAlpha(pixel) == 255 && warningColoured(pixel); });
        if (look.warning)
            EXPECT_GE(warm, warningShare);
        else
            EXPECT_EQ(warm, 0.0);
    }
}

}  // namespace
