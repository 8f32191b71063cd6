#pragma once
// A drive as the engine knows it: its root, held open from the moment the engine looked at it.
// Its marker is read through that handle and every write of its sync goes through it, so a stick
// that takes its place at the same mount point later is never written to, and before each track
// the engine asks whether the mount point still leads to the file system the handle holds.
// Move-only; main thread.

#include "engine/USBMarker.h"
#include "platform/FileSystem.h"

#include <QString>

#include <optional>

namespace spinforge {

class Drive {
public:
    // `identity` is what a look at the root gave when it was opened.
    Drive(Folder root, QString mountPoint, FileInfo identity);
    Drive(Drive&&) noexcept = default;
    Drive& operator=(Drive&&) noexcept = default;

    const Folder& root() const { return root_; }
    const QString& mountPoint() const { return mountPoint_; }
    // As the user knows it: the last component of its mount point ("DJ STICK").
    QString name() const;

    // Whether the mount point still leads to the file system this drive's root is on, one look at
    // the mount point. False once the drive was pulled out, unmounted (lazily too) or swapped for
    // another at the same point.
    bool isStillMounted() const;
    // Throws a file PlatformError "<action>: the drive is no longer mounted" unless it is.
    void requireMounted(const QString& action) const;
    // The registration marker, read through the held root: only a small regular file counts, and
    // nothing on the drive can make the read wait.
    std::optional<USBMarker> marker() const;

private:
    Folder root_;
    QString mountPoint_;
    FileInfo identity_;
};

}  // namespace spinforge
