// What the agent's tests rely on in the development service: a fault switch is read exactly as
// written or refused (a typo must never leave a test running without its fault), and each use of
// a fault is counted, so a row that expects success can prove its fault was met.
#include "devserver/Faults.h"

#include <gtest/gtest.h>

namespace spinforge::devserver {
namespace {

TEST(FaultSwitches, AreReadAsWrittenOrRefused) {
    const Fault refusal = parseFault(R"({"endpoint": "manifest", "status": 503, "error": "Down", "times": 2})");
    EXPECT_EQ(refusal.endpoint, Endpoint::Manifest);
    EXPECT_EQ(refusal.times, 2);
    EXPECT_EQ(std::get<Refusal>(refusal.action).status, 503);
    EXPECT_EQ(std::get<Refusal>(refusal.action).error, "Down");
    const Fault drop = parseFault(R"({"endpoint": "download", "drop_after": 4096, "track": "House/A - B.mp3"})");
    EXPECT_EQ(drop.track, "House/A - B.mp3");
    EXPECT_EQ(std::get<BodyFault>(drop.action).kind, BodyFault::Kind::DropAfter);
    EXPECT_EQ(std::get<BodyFault>(drop.action).bytes, 4096u);
    EXPECT_FALSE(drop.times.has_value()) << "without \"times\" a fault lasts until reset";

    for (const char* wrong : {R"(not json)", R"({"status": 500})", R"({"endpoint": "upload", "status": 500})",
                              R"({"endpoint": "login", "status": 500, "stall_afer": 3})",
                              R"({"endpoint": "manifest", "drop_after": 3})", R"({"endpoint": "login", "status": 500, "track": "a"})",
                              R"({"endpoint": "login", "status": 600})", R"({"endpoint": "login", "status": 500, "times": 0})",
                              R"({"endpoint": "download", "drop_after": 1.5})", R"({"endpoint": "download", "wrong_bytes": false})"})
        EXPECT_THROW(parseFault(wrong), FaultError) << wrong;
}

TEST(FaultSwitches, EachUseIsCountedAndAFaultWithTimesIsSpentThenGone) {
    FaultTable table;
    table.add(parseFault(R"({"endpoint": "manifest", "status": 500, "times": 2})"));
    table.add(parseFault(R"({"endpoint": "download", "wrong_bytes": true, "track": "b.mp3"})"));
    EXPECT_FALSE(table.takeRefusal(Endpoint::Login));
    EXPECT_FALSE(table.takeBodyFault("a.mp3"));
    EXPECT_EQ(table.uses(), 0);
    EXPECT_TRUE(table.takeRefusal(Endpoint::Manifest));
    EXPECT_TRUE(table.takeRefusal(Endpoint::Manifest));
    EXPECT_FALSE(table.takeRefusal(Endpoint::Manifest));
    EXPECT_TRUE(table.takeBodyFault("b.mp3"));
    EXPECT_EQ(table.uses(), 3);
    table.clear();
    EXPECT_EQ(table.uses(), 0);
    EXPECT_FALSE(table.takeBodyFault("b.mp3"));
}

}  // namespace
}  // namespace spinforge::devserver
