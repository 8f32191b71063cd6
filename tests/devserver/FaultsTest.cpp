// What the agent's tests rely on in the development service: a fault switch is read exactly as
// written or refused, so that a typo never leaves a test running without its fault. That each
// switch acts, and each use is counted, the fault matrix's rows show (they count the uses).
#include "devserver/Faults.h"

#include <gtest/gtest.h>

namespace spinforge::devserver {
namespace {

TEST(FaultSwitches, AreReadAsWrittenOrRefused) {
    const Fault drop =
        parseFault(R"({"endpoint": "download", "drop_after": 4096, "track": "House/A - B.mp3", "times": 2})");
    EXPECT_EQ(drop.endpoint, Endpoint::Download);
    EXPECT_EQ(drop.track, "House/A - B.mp3");
    EXPECT_EQ(drop.times, 2);
    EXPECT_EQ(std::get<BodyFault>(drop.action).kind, BodyFault::Kind::DropAfter);
    EXPECT_EQ(std::get<BodyFault>(drop.action).bytes, 4096u);
    EXPECT_FALSE(parseFault(R"({"endpoint": "manifest", "status": 500})").times) << "without \"times\", until reset";

    for (const char* wrong : {R"(not json)", R"({"status": 500})", R"({"endpoint": "upload", "status": 500})",
                              R"({"endpoint": "login", "status": 500, "stall_afer": 3})",
                              R"({"endpoint": "manifest", "drop_after": 3})", R"({"endpoint": "login", "status": 500, "track": "a"})",
                              R"({"endpoint": "login", "status": 600})", R"({"endpoint": "login", "status": 500, "times": 0})",
                              R"({"endpoint": "download", "drop_after": 1.5})", R"({"endpoint": "download", "wrong_bytes": false})",
                              R"({"endpoint": "status", "compressed_bomb": 5})", R"({"endpoint": "login", "endless_header": 1})", R"({"endpoint": "download", "trailing_bytes": 9, "location": "/"})"})
        EXPECT_THROW(parseFault(wrong), FaultError) << wrong;
}

}  // namespace
}  // namespace spinforge::devserver
