#include "Drive.h"

#include "TrackData.h"

#include "engine/Playlist.h"
#include "engine/USBMarker.h"

#include "Paths.h"


#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/mount.h>
#include <unistd.h>

namespace bench {
namespace fs = std::filesystem;
namespace {

constexpr const char* kDriveName = "BENCHSTICK";
// Enough for a benchmark's tracks, their staging copies and the playlist.
constexpr const char* kTmpfsOptions = "size=3g,mode=0755";
constexpr const char* kRootLine = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n";

void writeText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

// The kernel's escapes for the bytes that would break a mountinfo line.
std::string escaped(const std::string& path) {
    std::string text;
    for (const char c : path) {
        if (c == '\\') text += "\\134";
        else if (c == ' ') text += "\\040";
        else if (c == '\t') text += "\\011";
        else if (c == '\n') text += "\\012";
        else text += c;
    }
    return text;
}

}  // namespace

Drive::Drive(const std::string& work, const std::string& mediaName) : work_(work) {
    makeFolder(work_);
    if (::geteuid() == 0) {
        mediaFolder_ = "/media/" + mediaName;
        mountPoint_ = mediaFolder_ + '/' + kDriveName;
        mountTmpfs();
    } else {
        mediaFolder_ = work_ + "/media";
        mountPoint_ = mediaFolder_ + '/' + kDriveName;
        makeFolder(mountPoint_);
        writeMountTable();
    }
}

Drive::~Drive() {
    if (!mounted_) return;
    // A lazy unmount still detaches the drive when something holds a file open on it.
    if (::umount2(mountPoint_.c_str(), 0) != 0) ::umount2(mountPoint_.c_str(), MNT_DETACH);
    ::rmdir(mountPoint_.c_str());
    ::rmdir(mediaFolder_.c_str());
}

void Drive::mountTmpfs() {
    makeFolder(mountPoint_);
    if (::mount("tmpfs", mountPoint_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, kTmpfsOptions) != 0) {
        ::rmdir(mountPoint_.c_str());
        ::rmdir(mediaFolder_.c_str());
        throw std::runtime_error("cannot mount a tmpfs at " + mountPoint_);
    }
    mounted_ = true;
}

void Drive::writeMountTable() const {
    std::string table = kRootLine;
    table += "101 22 0:101 / " + escaped(mountPoint_) + " rw,nosuid,nodev,relatime shared:9 - vfat /dev/sdb1 rw\n";
    writeText(work_ + "/mountinfo", table);
}

spinforge::VolumeSource Drive::volumes() const {
    const QString table = mounted_ ? QStringLiteral("/proc/self/mountinfo") : toQt(work_ + "/mountinfo");
    return {table, {toQt(mediaFolder_ + '/')}};
}

void Drive::registerFor(const spinforge::Profile& profile) const {
    const QByteArray marker = spinforge::USBMarker::forProfile(profile).encoded();
    writeText(mountPoint_ + '/' + spinforge::USBMarker::fileName.toStdString(), marker.toStdString());
}

std::string Drive::musicFolder(const spinforge::Profile& profile) const {
    return mountPoint_ + '/' + fromQt(spinforge::Playlist::driveFolder(profile));
}

void Drive::empty() const {
    const fs::path marker = spinforge::USBMarker::fileName.toStdString();
    for (const fs::directory_entry& entry : fs::directory_iterator(mountPoint_))
        if (entry.path().filename() != marker) fs::remove_all(entry.path());
}

spinforge::VolumeSource noDrives(const std::string& work) {
    makeFolder(work);
    writeText(work + "/mountinfo", kRootLine);
    return {toQt(work + "/mountinfo"), {toQt(work + "/media/")}};
}

}  // namespace bench
