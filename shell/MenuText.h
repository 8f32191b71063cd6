#pragma once
// Outside text (the engine's messages, which name tracks and drives) in menus, shown exactly as it
// is. Qt's menus take "&" as the mark of a keyboard mnemonic; menus exported over D-Bus to a panel
// (dbusmenu) take "_" instead.

#include <QString>

namespace spinforge::MenuText {

// The title that makes a Qt menu show `text`: each "&" doubled.
QString forMenu(const QString& text);
// What a Qt menu shows for `title`: the mnemonic marks taken out, "&&" read as "&".
QString shownBy(const QString& title);
// The dbusmenu label that makes a panel show `text`, with no access key: each "_" doubled.
QString forExportedMenu(const QString& text);

}  // namespace spinforge::MenuText
