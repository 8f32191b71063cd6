#pragma once

#include "devserver/Counters.h"
#include "devserver/Faults.h"
#include "devserver/Library.h"
#include "devserver/StopSignal.h"

#include <httplib.h>

#include <optional>

namespace spinforge::devserver {

constexpr std::size_t kDownloadChunkBytes = 64 * 1024;

// Answers with the track's bytes, streamed from disk in chunks of at most 64 KiB (library
// files can be larger than memory), damaged as `fault` asks. `stop` and `counters` must outlive
// the response.
void serveTrackFile(const Track& track, const std::optional<BodyFault>& fault, StopSignal& stop, Counters& counters,
                    httplib::Response& response);

// Answers with `text` followed by `trailing` spaces, in chunks without a length: a reply that runs
// on past its own end for as long as asked (or until the client leaves or the server stops). The
// spaces sent are counted, and a client that leaves.
void serveRunningOn(const std::string& text, const char* contentType, std::uint64_t trailing, StopSignal& stop,
                    Counters& counters, httplib::Response& response);

}  // namespace spinforge::devserver
