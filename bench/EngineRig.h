#pragma once
// An engine wired as the agent wires it, with the real POSIX file operations, but with its
// keyring in memory, its settings file and data folder inside the benchmark's folder, and
// notifications dropped: nothing of the user's desktop is touched.

#include "engine/SyncEngine.h"
#include "engine/Drives.h"
#include "engine/LibraryCache.h"
#include "platform/PosixFileSystem.h"
#include "support/DevServer.h"
#include "support/Fakes.h"

#include <memory>
#include <string>

namespace bench {

inline constexpr const char* kToken = "bench-device-token";

class SilentNotifier final : public spinforge::Notifier {
public:
    void requestPermission() override {}
    void post(const QString&, const QString&, bool) override {}
};

class EngineRig {
public:
    EngineRig(const std::string& work, spinforge::VolumeSource volumes);

    // Points the engine at the service and stores the device token, as sign-in would.
    void signIn(const std::string& serverURL, const std::string& token = kToken);
    spinforge::SyncEngine& engine() { return engine_; }
    // The engine's steps on their own: a folder opened as the engine opens the library, the
    // library, and the drives it would find.
    spinforge::Folder openFolder(const std::string& path);
    spinforge::LibraryCache& library() { return library_; }
    spinforge::Drives& drives() { return drives_; }
    std::string cacheRoot() const;
    spinforge::Manifest manifest();
    // Runs one whole cycle; throws unless it ends in success with `expectedMessage`.
    void syncExpecting(const QString& expectedMessage);

private:
    testing_support::MemoryKeyring keyring_;
    spinforge::Settings settings_;
    spinforge::PosixFileSystem files_;
    SilentNotifier notifier_;
    spinforge::MountEvents mountEvents_;
    spinforge::SyncEngine engine_;
    spinforge::APIClient api_;
    spinforge::LibraryCache library_;
    spinforge::Drives drives_;
};

// The development service serving the files below `library` (hashed as it starts), with the
// benchmark's device token pre-issued.
std::unique_ptr<testing_support::DevServer> serveLibrary(const std::string& library);

}  // namespace bench
