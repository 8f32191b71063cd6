#pragma once
// A USB drive for the engine to sync. As root it is a real tmpfs mounted at
// /media/<name>/BENCHSTICK, found by the engine in the kernel's mount table like a stick the
// desktop mounted; otherwise a plain folder listed in a mount table of the benchmark's own.
// Either way the engine is told to look below this drive's folder only, so drives that others
// mounted on the machine meanwhile are never touched.

#include "platform/VolumeSource.h"
#include "records/Records.h"

#include <string>

namespace bench {

class Drive {
public:
    // `work`: the benchmark's folder; `mediaName`: a name no one else uses below /media.
    Drive(const std::string& work, const std::string& mediaName);
    // Unmounts and removes the mount folders (as root); a failing run also ends up here.
    ~Drive();
    Drive(const Drive&) = delete;
    Drive& operator=(const Drive&) = delete;

    const std::string& path() const { return mountPoint_; }
    spinforge::VolumeSource volumes() const;
    bool isTmpfs() const { return mounted_; }

    // Writes the marker that registers the drive for `profile`.
    void registerFor(const spinforge::Profile& profile) const;
    // The folder where the profile's tracks go.
    std::string musicFolder(const spinforge::Profile& profile) const;
    // Removes everything but the marker.
    void empty() const;

private:
    void mountTmpfs();
    void writeMountTable() const;

    std::string work_;
    std::string mediaFolder_;  // the prefix the engine looks below
    std::string mountPoint_;
    bool mounted_ = false;
};

// Where an engine that must find no drive at all looks: an empty mount table of its own.
spinforge::VolumeSource noDrives(const std::string& work);

}  // namespace bench
