#pragma once
// A file-system failure, described the way the user reads it: the operation and the file, then
// the system's own message ("Could not create the folder /x/y: Permission denied").

#include <QString>
#include <stdexcept>

namespace spinforge {

class FileError : public std::runtime_error {
public:
    // `action` says what failed and on which file: "Could not write /x/a.mp3".
    FileError(const QString& action, int errnum);
    // The same with the reason in the agent's own words instead of the system's message.
    FileError(const QString& action, int errnum, const QString& reason);
    int errnum() const { return errnum_; }

    // The system's message for an errno value, in plain words.
    static QString systemMessage(int errnum);

private:
    int errnum_;
};

}  // namespace spinforge
