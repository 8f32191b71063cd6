#pragma once
// The status symbols and the application icon, drawn from our own monochrome SVGs shipped as Qt
// resources (":/symbols/<name>.svg", ":/spinforge.svg"). The SVGs paint in currentColor, so one
// drawing serves every background.

#include <QColor>
#include <QIcon>
#include <QString>

namespace spinforge::Symbols {

// The names the status item shows, one per engine condition.
inline const QString drive = QStringLiteral("externaldrive.badge.icloud");
inline const QString syncing = QStringLiteral("arrow.triangle.2.circlepath.icloud");
inline const QString attention = QStringLiteral("exclamationmark.icloud");

// The icons are drawn as pixmaps, so these run on the main thread. Drawing needs Qt's SVG image
// plugin at run time (Debian: libqt6svg6); without it every icon is null.

// True when a symbol of this name is shipped.
bool exists(const QString& name);
// The symbol painted in `color`, at the sizes panels and windows ask for (16 to 64 px). Null for
// a name that is not shipped.
QIcon icon(const QString& name, const QColor& color);
// The symbol for a tray panel whose colour we can't know: a light glyph with a thin dark rim,
// legible on light and dark panels alike. Null for a name that is not shipped.
QIcon trayIcon(const QString& name);
// The application's own icon (windows, the desktop entry, notifications).
QIcon applicationIcon();

}  // namespace spinforge::Symbols
