#pragma once
// The one strict decoder for the service's replies. Every field is required and must have its
// exact JSON type; integers must fit 64 bits; unknown keys are ignored, and skipped as the reply
// is parsed, so they cost no memory; fields are read in a fixed order and the first one that
// fails ends decoding. There is no partial record.

#include "records/PlatformError.h"
#include "records/Records.h"

#include <QByteArray>

namespace spinforge {

// Both throw a PlatformError of the decoding kind, whose text names the document, the place and
// the problem: "The server's manifest is invalid: tracks[4].provider_id must be a string". A manifest whose profile folder, display name or any track's
// relative path could escape its folder on disk, or holds what breaks a line (which would end a
// playlist line), fails too; the text shows the name escaped. The tracks are decoded one by one as
// they are parsed, and the first that fails ends decoding at once. A body moved in, held by no one
// else, is given back to the system as it is parsed.
Manifest decodeManifest(QByteArray body);
LoginResponse decodeLoginResponse(const QByteArray& body);

}  // namespace spinforge
