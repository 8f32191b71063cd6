#pragma once
// A file-system failure as the user reads it, in the tray and in a notification: what the agent
// was doing and on which file, then why ("Could not copy House/a.mp3 to DJSTICK: No space left on
// device"). The file seam's FileStatus becomes one of these where the engine words it.

#include <QString>
#include <stdexcept>

#include "platform/FileStatus.h"

namespace spinforge {

class FileError : public std::runtime_error {
public:
    // `action` says what failed and on which file: "Could not write /x/a.mp3".
    FileError(const QString& action, int errnum);
    // The same with the reason in the agent's own words instead of the system's message.
    FileError(const QString& action, int errnum, const QString& reason);
    // The seam's own description: "Could not write /x/a.mp3: No space left on device".
    explicit FileError(const FileStatus& status);
    int errnum() const { return errnum_; }

private:
    int errnum_;
};

}  // namespace spinforge
