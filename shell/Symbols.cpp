#include "shell/Symbols.h"

#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QPixmap>

#include <array>

namespace spinforge::Symbols {
namespace {

// Tray panels ask for 16 to 24 px, windows and notifications for up to 64.
constexpr std::array symbolSizes{16, 22, 24, 32, 48, 64};
constexpr std::array applicationIconSizes{16, 22, 24, 32, 48, 64, 128, 256};

QString symbolPath(const QString& name) {
    return QStringLiteral(":/symbols/%1.svg").arg(name);
}

QString trayPath(const QString& name) {
    return QStringLiteral(":/tray/%1.svg").arg(name);
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

QString themeName(const QString& symbol) {
    // Names every freedesktop theme is asked for; the symbolic ones take the panel's colours, the
    // warning sign is the theme's own, in its warning colour.
    if (symbol == drive) return QStringLiteral("drive-removable-media-symbolic");
    if (symbol == syncing) return QStringLiteral("emblem-synchronizing-symbolic");
    if (symbol == attention) return QStringLiteral("dialog-warning");
    return {};
}

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
    const QByteArray svg = resourceText(trayPath(name));
    return iconOf(symbolSizes, [&](int size) { return render(svg, size); });
}

QIcon applicationIcon() {
    const QByteArray svg = resourceText(QStringLiteral(":/spinforge.svg"));
    return iconOf(applicationIconSizes, [&](int size) { return render(svg, size); });
}

}  // namespace spinforge::Symbols
