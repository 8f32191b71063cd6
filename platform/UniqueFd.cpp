#include "platform/UniqueFd.h"

#include <cerrno>
#include <unistd.h>

namespace spinforge {

void UniqueFd::reset() {
    if (fd_ < 0) return;
    // Callers read errno of the call that failed before this handle let go of its descriptor.
    const int saved = errno;
    ::close(std::exchange(fd_, -1));
    errno = saved;
}

}  // namespace spinforge
