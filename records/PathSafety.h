#pragma once
// Names that come from the service become file and folder names on the user's disk and drives,
// and lines of a drive's playlist. These checks keep every such name inside the folder it is
// meant for, and on one line.

#include <QString>
#include <optional>

namespace spinforge::PathSafety {

// Why `path` cannot stand below a folder we own ("is empty", "is absolute", "has a '..'
// component", ...), or nullopt when it can. A safe path is relative, '/'-separated, and has no
// empty, "." or ".." component and nothing that breaks a line.
std::optional<QString> relativePathProblem(const QString& path);

// Why a profile's display name cannot name the playlist (it holds something that breaks a line),
// or nullopt. A "/" is fine: the playlist's name writes it as U+2215.
std::optional<QString> displayNameProblem(const QString& name);

// Whether `text` holds a control character, U+0000 to U+001F or U+007F: one would end a line of a
// request's header, or cut a name short where the system reads it.
bool holdsControlCharacter(const QString& text);

// Whether `character` ends a line for some reader: a control character (C0, DEL, or C1, which
// holds NEXT LINE, U+0085), LINE SEPARATOR (U+2028) or PARAGRAPH SEPARATOR (U+2029).
bool breaksLine(QChar character);

// `text` in double quotes, as JSON writes a string: a quote, a backslash and every character that
// breaks a line escaped ("\n", "\u0000", "\u2028"), all else as it is. A message that shows a
// name so shows it on one line.
QString quoted(const QString& text);

}  // namespace spinforge::PathSafety
