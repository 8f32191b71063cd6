#pragma once
// What a file operation did: done, or failed, and then what it was doing, on which file, and the
// system's errno. Every operation of the file seam returns one (or a FileResult holding either
// its value or one), and it must be looked at: a clean-up step that may fail says so with
// ignore(). Plain values, copied freely.

#include <QString>

#include <optional>
#include <utility>

namespace spinforge {

// What a failed operation was doing; it words the description.
enum class FileAction { open, read, write, createFolder, remove, rename, list, inspect, flush };

class [[nodiscard]] FileStatus {
public:
    // Done.
    FileStatus() = default;
    // Failed with `errnum` (non-zero) while doing `action` on `path`.
    FileStatus(FileAction action, QString path, int errnum);

    bool ok() const { return errnum_ == 0; }
    int errnum() const { return errnum_; }
    FileAction action() const { return action_; }
    // The file as the failing operation named it: its folder's path and the name below it.
    const QString& path() const { return path_; }
    // "Could not write /x/a.mp3: No space left on device"; empty when done.
    QString description() const;
    // For clean-up steps whose failure changes nothing: a leftover that can't be removed is
    // removed by the next write of the same name.
    void ignore() const {}

    // The system's message for an errno value.
    static QString systemMessage(int errnum);

private:
    FileAction action_ = FileAction::open;
    QString path_;
    int errnum_ = 0;
};

// The value of an operation that gives one, or its failure.
template <class T>
class [[nodiscard]] FileResult {
public:
    FileResult(T value) : value_(std::move(value)) {}
    // `failure` must not be ok().
    FileResult(FileStatus failure) : failure_(std::move(failure)) {}

    bool ok() const { return value_.has_value(); }
    // Done when ok().
    const FileStatus& status() const { return failure_; }
    T& operator*() { return *value_; }
    const T& operator*() const { return *value_; }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }

private:
    std::optional<T> value_;
    FileStatus failure_;
};

}  // namespace spinforge
