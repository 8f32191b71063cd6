#pragma once
// The soak run's music: many small tracks of random bytes and random sizes, one to three folders
// deep below genre folders whose names have spaces, '&' and accents, as real libraries do.

#include "TrackData.h"

#include <cstdint>
#include <string>

namespace bench::soak {

struct LibraryShape {
    int tracks = 2000;
    std::int64_t minBytes = 2 * 1024;
    std::int64_t maxBytes = 100 * 1024;
    std::uint64_t seed = 1;
};

// Writes the tracks below `root`; the same shape always gives the same files.
TrackList writeLibrary(const std::string& root, const LibraryShape& shape);

}  // namespace bench::soak
