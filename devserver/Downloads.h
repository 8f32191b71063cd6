#pragma once

#include "devserver/Faults.h"
#include "devserver/Library.h"
#include "devserver/StopSignal.h"

#include <httplib.h>

#include <optional>

namespace spinforge::devserver {

constexpr std::size_t kDownloadChunkBytes = 64 * 1024;

// Answers with the track's bytes, streamed from disk in chunks of at most 64 KiB (library
// files can be larger than memory), damaged as `fault` asks. `stop` must outlive the response.
void serveTrackFile(const Track& track, const std::optional<BodyFault>& fault, StopSignal& stop,
                    httplib::Response& response);

}  // namespace spinforge::devserver
