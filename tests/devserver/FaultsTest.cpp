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
    const Fault redirect = parseFault(R"({"endpoint": "status", "status": 307, "location": "http://127.0.0.1:1/x"})");
    EXPECT_EQ(std::get<Refusal>(redirect.action).location, "http://127.0.0.1:1/x");
    const Fault runOn = parseFault(R"({"endpoint": "manifest", "trailing_bytes": 268435456})");
    EXPECT_EQ(std::get<BodyFault>(runOn.action).kind, BodyFault::Kind::RunOn);
    EXPECT_EQ(std::get<BodyFault>(runOn.action).bytes, 268435456u);

    for (const char* wrong : {R"(not json)", R"({"status": 500})", R"({"endpoint": "upload", "status": 500})",
                              R"({"endpoint": "login", "status": 500, "stall_afer": 3})",
                              R"({"endpoint": "manifest", "drop_after": 3})", R"({"endpoint": "login", "status": 500, "track": "a"})",
                              R"({"endpoint": "login", "status": 600})", R"({"endpoint": "login", "status": 500, "times": 0})",
                              R"({"endpoint": "download", "drop_after": 1.5})", R"({"endpoint": "download", "wrong_bytes": false})",
                              R"({"endpoint": "login", "trailing_bytes": 5})", R"({"endpoint": "download", "trailing_bytes": 9, "location": "/"})"})
        EXPECT_THROW(parseFault(wrong), FaultError) << wrong;
}

TEST(FaultSwitches, EachUseIsCountedAndAFaultWithTimesIsSpentThenGone) {
    FaultTable table;
    table.add(parseFault(R"({"endpoint": "manifest", "status": 500, "times": 2})"));
    table.add(parseFault(R"({"endpoint": "download", "wrong_bytes": true, "track": "b.mp3"})"));
    EXPECT_FALSE(table.takeRefusal(Endpoint::Login));
    EXPECT_FALSE(table.takeBodyFault(Endpoint::Download, "a.mp3"));
    EXPECT_EQ(table.uses(), 0);
    EXPECT_TRUE(table.takeRefusal(Endpoint::Manifest));
    EXPECT_TRUE(table.takeRefusal(Endpoint::Manifest));
    EXPECT_FALSE(table.takeRefusal(Endpoint::Manifest));
    EXPECT_TRUE(table.takeBodyFault(Endpoint::Download, "b.mp3"));
    EXPECT_EQ(table.uses(), 3);
    table.clear();
    EXPECT_EQ(table.uses(), 0);
    EXPECT_FALSE(table.takeBodyFault(Endpoint::Download, "b.mp3"));
}

}  // namespace
}  // namespace spinforge::devserver
