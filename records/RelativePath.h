#pragma once
// A path that can only stand below a folder we own: relative, '/'-separated, with no empty, "." or
// ".." component and nothing that breaks a line (see PathSafety). The names the service sends for
// files and folders become these when its reply is decoded, and only there, so the library, a
// drive's sync and the playlist take them as they are and need no second look. A plain value.

#include <QString>

#include <optional>

namespace spinforge {

class RelativePath {
public:
    // No path: the empty text, which names no file below a folder. Every path `from` makes holds
    // at least one component.
    RelativePath() = default;

    // `text` as a path, or nullopt when it could leave its folder or break a line;
    // PathSafety::relativePathProblem says why.
    static std::optional<RelativePath> from(const QString& text);

    const QString& text() const { return text_; }
    friend bool operator==(const RelativePath&, const RelativePath&) = default;

private:
    explicit RelativePath(QString text) : text_(std::move(text)) {}

    QString text_;
};

}  // namespace spinforge
