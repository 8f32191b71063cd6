#pragma once
// The status symbols and the application icon, drawn from our own SVGs shipped as Qt resources:
// ":/symbols/<name>.svg" paint in currentColor, so one drawing serves every window colour;
// ":/tray/<name>.svg" are the tray's two-tone drawings (white shapes in a dark outline, the
// attention symbol in GTK's warning orange), for a panel whose colour we can't know;
// ":/spinforge.svg".

#include <QColor>
#include <QIcon>
#include <QString>

namespace spinforge::Symbols {

// The names the status item shows, one per engine condition.
inline const QString drive = QStringLiteral("externaldrive.badge.icloud");
inline const QString syncing = QStringLiteral("arrow.triangle.2.circlepath.icloud");
inline const QString attention = QStringLiteral("exclamationmark.icloud");

// The icon of the desktop's icon theme that stands for a symbol in a panel, or empty for none: a
// panel that finds it in its theme draws it in its own colours (symbolic icons) or the theme's
// warning colour, and one that does not falls back on our drawing.
QString themeName(const QString& symbol);

// The icons are drawn as pixmaps, so these run on the main thread. Drawing needs Qt's SVG image
// plugin at run time (Debian: libqt6svg6); without it every icon is null.

// True when a symbol of this name is shipped.
bool exists(const QString& name);
// The symbol painted in `color`, at the sizes panels and windows ask for (16 to 64 px). Null for
// a name that is not shipped.
QIcon icon(const QString& name, const QColor& color);
// The symbol's tray drawing at the same sizes, legible on light and dark panels alike. Null for a
// name that is not shipped.
QIcon trayIcon(const QString& name);
// The application's own icon (windows, the desktop entry, notifications).
QIcon applicationIcon();

}  // namespace spinforge::Symbols
