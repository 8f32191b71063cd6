// Registering a drive when something fails: the manifest can't be had, the marker can't be
// written, the drive fills up during the first copy.

#include "faults/FaultMatrix.h"

using namespace testing_support;
using Op = FaultyFileOperations::Op;

namespace {

class RegistrationFaults : public FaultMatrix {
protected:
    // Registration reuses the manifest of the last cycle; a fresh engine has none and fetches it.
    void forgetManifest() { resetEngine(); }
};

constexpr const char* kRegistration = "Registration";

TEST_F(RegistrationFaults, ManifestRefused) {
    runRegistrationCase({.group = kRegistration, .order = 1, .fault = "The manifest answered with 500 during registration",
                         .inject = [&] {
                             forgetManifest();
                             server->setFault(R"({"endpoint": "manifest", "status": 500, "error": "Try again later."})");
                         },
                         .message = "Try again later."});
}

TEST_F(RegistrationFaults, MarkerWriteFails) {
    runRegistrationCase({.group = kRegistration, .order = 2, .fault = "I/O error (EIO) writing the marker .dj-sync.json",
                         .inject = [&] { files.failOn(Op::writeAtomically, ".dj-sync.json", EIO, 1); },
                         .message = "Could not write the marker .dj-sync.json on DJSTICK: Input/output error"});
}

TEST_F(RegistrationFaults, DriveFullDuringTheFirstCopy) {
    runRegistrationCase({.group = kRegistration, .order = 3, .fault = "The drive fills up copying c.mp3 during registration (ENOSPC)",
                         .inject = [&] { files.failOn(Op::copy, "Techno/c.mp3", ENOSPC, 1); },
                         .message = "Could not copy Techno/c.mp3 to DJSTICK: No space left on device"});
}

}  // namespace
