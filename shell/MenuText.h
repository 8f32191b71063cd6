#pragma once
// Outside text (the engine's messages, which name tracks and drives) in menus, shown exactly as it
// is. Qt's menus take "&" as the mark of a keyboard mnemonic; menus exported over D-Bus to a panel
// (dbusmenu) take "_" instead, of which Qt's exporter makes only the first "&" of a title.

#include <QString>

namespace spinforge::MenuText {

// The title that makes a Qt menu show `text`: each "&" doubled.
QString forMenu(const QString& text);
// What a Qt menu shows for `title`: the mnemonic marks taken out, "&&" read as "&".
QString shownBy(const QString& title);
// The title that makes a panel show `text` through Qt's D-Bus exporter: each "_" doubled (dbusmenu's
// literal underscore) and, when the text holds an "&", one "&" put first for the exporter to turn
// into the access-key mark, which a panel does not show.
QString forExportedMenu(const QString& text);

}  // namespace spinforge::MenuText
