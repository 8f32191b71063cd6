#pragma once
// Where a file operation acts: the open folder that holds a path, and the name in it. A path through
// a FolderHandle ("/proc/self/fd/7/DJ-Music/a.mp3") is a place on a drive: its folder is reached
// beneath the held folder without following any symbolic link, so nothing a drive holds can lead a
// write elsewhere. Other paths are reached as usual. One owner; main thread.

#include <QByteArray>
#include <QString>

#include <sys/stat.h>

namespace spinforge {

class FilePlace {
public:
    explicit FilePlace(const QString& path);
    ~FilePlace();
    FilePlace(const FilePlace&) = delete;
    FilePlace& operator=(const FilePlace&) = delete;

    // False when the folder could not be reached; error() then says why (ELOOP for a link on the way).
    bool isOpen() const { return folder_ >= 0; }
    int error() const { return error_; }
    int folder() const { return folder_; }
    const char* name() const { return name_.constData(); }
    bool onDrive() const { return onDrive_; }

    // The status of the file itself; on a drive a link is reported as the link. False on failure.
    bool status(struct stat& result) const;
    bool isLink() const;
    // Whether the folder lists an entry spelled exactly like the name.
    bool isListed() const;

private:
    int folder_ = -1;
    int error_ = 0;
    QByteArray name_;
    bool onDrive_ = false;
};

// Creates `folder` and its missing parents: beneath a FolderHandle without following a link (a link
// on the way is ELOOP), elsewhere as usual. Returns 0 or errno.
int createFolderPath(const QString& folder);

}  // namespace spinforge
