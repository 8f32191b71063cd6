#include "shell/Symbols.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QPixmap>

#include <array>

namespace spinforge::Symbols {
namespace {

// Tray panels ask for 16 to 24 px, windows and notifications for up to 64.
constexpr std::array symbolSizes{16, 22, 24, 32, 48, 64};
constexpr std::array applicationIconSizes{16, 22, 24, 32, 48, 64, 128, 256};

// The tray glyph: light enough for dark panels, its rim dark enough for light ones.
const QColor trayGlyphColor(0xf2, 0xf2, 0xf2);
const QColor trayRimColor(0x20, 0x20, 0x20);
constexpr qreal trayRimOpacity = 0.55;

QString symbolPath(const QString& name) {
    return QStringLiteral(":/symbols/%1.svg").arg(name);
}

QByteArray resourceText(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

// The drawings paint in currentColor; naming the colour in the text is the one way to set it
// without linking Qt Svg, because the image plugin renders the text as it stands.
QByteArray inColor(QByteArray svg, const QColor& color) {
    return svg.replace("currentColor", color.name(QColor::HexRgb).toLatin1());
}

// Null when the SVG image plugin is missing or the text does not parse.
QImage render(const QByteArray& svg, int size) {
    QBuffer buffer;
    buffer.setData(svg);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "svg");
    reader.setScaledSize(QSize(size, size));
    return reader.read().convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// The dark glyph stamped one pixel out in every direction: a rim that shows where the light
// glyph meets a light panel.
QImage rimFor(const QImage& dark) {
    QImage rim(dark.size(), QImage::Format_ARGB32_Premultiplied);
    rim.fill(Qt::transparent);
    QPainter painter(&rim);
    for (int dx = -1; dx <= 1; ++dx)
        for (int dy = -1; dy <= 1; ++dy)
            if (dx != 0 || dy != 0) painter.drawImage(dx, dy, dark);
    return rim;
}

QImage trayImage(const QByteArray& svg, int size) {
    const QImage glyph = render(inColor(svg, trayGlyphColor), size);
    const QImage dark = render(inColor(svg, trayRimColor), size);
    if (glyph.isNull() || dark.isNull()) return {};
    QImage result(glyph.size(), QImage::Format_ARGB32_Premultiplied);
    result.fill(Qt::transparent);
    QPainter painter(&result);
    // The rim is drawn whole first and faded once, so its overlapping stamps don't darken it.
    painter.setOpacity(trayRimOpacity);
    painter.drawImage(0, 0, rimFor(dark));
    painter.setOpacity(1.0);
    painter.drawImage(0, 0, glyph);
    return result;
}

template <typename Sizes, typename Draw>
QIcon iconOf(const Sizes& sizes, Draw draw) {
    QIcon icon;
    for (int size : sizes) {
        const QImage image = draw(size);
        if (!image.isNull()) icon.addPixmap(QPixmap::fromImage(image));
    }
    return icon;
}

}  // namespace

bool exists(const QString& name) {
    // A name is a file name in the symbols folder, never a path out of it.
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && QFile::exists(symbolPath(name));
}

QIcon icon(const QString& name, const QColor& color) {
    if (!exists(name)) return {};
    const QByteArray svg = inColor(resourceText(symbolPath(name)), color);
    return iconOf(symbolSizes, [&](int size) { return render(svg, size); });
}

QIcon trayIcon(const QString& name) {
    if (!exists(name)) return {};
    const QByteArray svg = resourceText(symbolPath(name));
    return iconOf(symbolSizes, [&](int size) { return trayImage(svg, size); });
}

QIcon applicationIcon() {
    const QByteArray svg = resourceText(QStringLiteral(":/spinforge.svg"));
    return iconOf(applicationIconSizes, [&](int size) { return render(svg, size); });
}

}  // namespace spinforge::Symbols
