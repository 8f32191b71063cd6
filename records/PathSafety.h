#pragma once
// Names that come from the service become file and folder names on the user's disk and drives.
// These checks keep every such name inside the folder it is meant for.

#include <QString>
#include <optional>

namespace spinforge::PathSafety {

// Why `path` cannot stand below a folder we own ("is empty", "is absolute", "has a '..'
// component", ...), or nullopt when it can. A safe path is relative, '/'-separated, and has no
// empty, "." or ".." component and no NUL byte.
std::optional<QString> relativePathProblem(const QString& path);

// Why a profile's display name cannot name the playlist (it contains NUL), or nullopt. A "/" is
// fine: the playlist's name writes it as U+2215.
std::optional<QString> displayNameProblem(const QString& name);

// For the point of use: throws std::invalid_argument naming `path` when it is not safe, so no
// caller can reach the file system with a name that escapes its folder.
void requireSafeRelativePath(const QString& path);
// The same for a display name.
void requireSafeDisplayName(const QString& name);

}  // namespace spinforge::PathSafety
