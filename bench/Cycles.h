#pragma once
// What the benchmarks need around the tests' engine rig: the development service serving a
// library of files on disk, and the engine's steps as a benchmark runs them. The rig keeps its
// keyring in memory and its settings file in a folder of its own; nothing of the user's desktop is
// touched.

#include "engine/LibraryCache.h"
#include "support/DevServer.h"
#include "support/EngineRig.h"

#include <memory>
#include <string>

namespace bench {

inline constexpr const char* kToken = "bench-device-token";

// The development service serving the files below `library` (hashed as it starts), with the
// benchmark's device token pre-issued.
std::unique_ptr<testing_support::DevServer> serveLibrary(const std::string& library);

// A folder opened as the engine opens the library; throws std::runtime_error.
spinforge::Folder openFolder(testing_support::EngineRig& rig, const std::string& path);
// The manifest the rig's service sends now.
spinforge::Manifest manifestOf(testing_support::EngineRig& rig);
// Runs one whole cycle; throws unless it ends in success with `expectedMessage`.
void syncExpecting(testing_support::EngineRig& rig, const QString& expectedMessage);

}  // namespace bench
