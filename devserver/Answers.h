#pragma once
// The answers of the endpoints other than downloads, as a fault damages them, and the damage any
// answer's header section can take. `state` must outlive the response: its providers run later.

#include "devserver/Faults.h"
#include "devserver/ServiceState.h"

#include <httplib.h>

#include <optional>
#include <string>

namespace spinforge::devserver {

// Adds the header fields or new cookies a HeaderFields or Cookies fault asks for; false for other
// faults.
bool addHeaderDamage(const BodyFault& fault, httplib::Response& response);

// A header section that never ends: an interim "100 Continue" answer whose body is the status line
// and the header fields of the real answer, field after field, until the client leaves or the
// server stops. What is sent is counted as run-on bytes.
void serveEndlessHeader(ServiceState& state, httplib::Response& response);

// `text` (JSON) as a 200 answer, damaged as `fault` asks: trickled at a rate, running on, late,
// with header damage, or (a manifest) replaced by a gzip-compressed one whose "tracks" holds
// `fault->bytes` of empty objects, sent compressed whatever the client asked for.
void serveJson(const std::string& text, const std::optional<BodyFault>& fault, ServiceState& state,
               httplib::Response& response);

}  // namespace spinforge::devserver
