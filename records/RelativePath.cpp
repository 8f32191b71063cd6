#include "records/RelativePath.h"

#include "records/PathSafety.h"

namespace spinforge {

std::optional<RelativePath> RelativePath::from(const QString& text) {
    if (PathSafety::relativePathProblem(text)) return std::nullopt;
    return RelativePath(text);
}

}  // namespace spinforge
