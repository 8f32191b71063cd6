#pragma once
// How PosixFileSystem reaches a path below a held folder. On a drive (Reach::beneath) nothing is
// reached through a symbolic link, above the folder, or across into another mount (a stick mounted
// inside the drive is another drive): openat2 with RESOLVE_BENEATH, RESOLVE_NO_SYMLINKS and
// RESOLVE_NO_XDEV, or, where the kernel lacks it, one O_NOFOLLOW step per component, each checked
// to be on the folder's own mount. A link on the way fails with ELOOP, a mount with EXDEV. A path
// longer than the kernel takes in one call is walked in parts, so whatever depth the library holds
// a drive holds too. Elsewhere paths resolve as they do for any program.

#include "platform/FileSystem.h"
#include "platform/UniqueFd.h"

#include <QByteArray>

namespace spinforge::PosixPaths {

// One plain name: not empty, not "." or "..", no "/".
bool isPlainName(const QByteArray& name);

// How a path beneath a drive's root is walked: openat2 where the kernel has it, else step by step;
// or always step by step (for tests of the walk itself).
enum class Walk { openat2, stepByStep };

// The folder at `relative` below the held folder `folder`, reached as `reach` says (the folder
// itself when empty); closed with errno set on failure.
UniqueFd openFolderBelow(int folder, Reach reach, const QByteArray& relative, Walk walk);

// Where a file below a folder is: its own folder, held open, and its name there.
struct Place {
    UniqueFd folder;
    QByteArray name;
    int error = 0;  // errno when the folder could not be reached or the name is not a plain one
};
Place placeOf(int folder, Reach reach, const QString& relative, Walk walk);

// Flags that keep an open of a place's name from following a link where links are not followed.
int noFollowFor(Reach reach);

// EXDEV when `opened` (a descriptor reached from `folder`) lies on another mount than `folder`
// and the reach forbids crossing, else 0. A mount point met as the last component of a path is
// entered by open() itself, so what it opened is checked afterwards.
int crossing(Reach reach, int folder, int opened);

// The same for the name `name` in `folder`, looked at without opening it: EXDEV when another file
// system is mounted there.
int crossingAt(Reach reach, int folder, const char* name);

}  // namespace spinforge::PosixPaths
