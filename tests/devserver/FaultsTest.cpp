#include "devserver/Faults.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace spinforge::devserver {
namespace {

using Kind = BodyFault::Kind;

TEST(ParseFault, RefusalCarriesStatusAndEitherErrorOrRawBody) {
    const Fault withError = parseFault(R"({"endpoint": "manifest", "status": 503, "error": "Down", "times": 2})");
    EXPECT_EQ(withError.endpoint, Endpoint::Manifest);
    EXPECT_EQ(withError.times, 2);
    const auto& refusal = std::get<Refusal>(withError.action);
    EXPECT_EQ(refusal.status, 503);
    EXPECT_EQ(refusal.error, "Down");
    EXPECT_FALSE(refusal.body.has_value());

    const auto raw = std::get<Refusal>(parseFault(R"({"endpoint": "login", "status": 200, "body": "<p>"})").action);
    EXPECT_EQ(raw.body, "<p>");
    EXPECT_EQ(raw.contentType, "text/html");
    const auto typed = std::get<Refusal>(
        parseFault(R"({"endpoint": "status", "status": 502, "body": "x", "content_type": "text/plain"})").action);
    EXPECT_EQ(typed.contentType, "text/plain");
}

TEST(ParseFault, DownloadFaultsReadTheirAmounts) {
    const Fault drop = parseFault(R"({"endpoint": "download", "drop_after": 4096, "track": "House/A - B.mp3"})");
    EXPECT_EQ(drop.track, "House/A - B.mp3");
    EXPECT_EQ(std::get<BodyFault>(drop.action).kind, Kind::DropAfter);
    EXPECT_EQ(std::get<BodyFault>(drop.action).bytes, 4096u);
    EXPECT_FALSE(drop.times.has_value());

    const auto stall = std::get<BodyFault>(
        parseFault(R"({"endpoint": "download", "stall_after": 0, "stall_seconds": 0.25})").action);
    EXPECT_EQ(stall.kind, Kind::StallAfter);
    EXPECT_EQ(stall.bytes, 0u);
    EXPECT_EQ(stall.stallFor, std::chrono::milliseconds(250));
    const auto longStall = std::get<BodyFault>(parseFault(R"({"endpoint": "download", "stall_after": 9})").action);
    EXPECT_EQ(longStall.stallFor, std::chrono::minutes(10));

    const auto throttle = std::get<BodyFault>(parseFault(R"({"endpoint": "download", "bytes_per_second": 5000})").action);
    EXPECT_EQ(throttle.kind, Kind::Throttle);
    EXPECT_EQ(throttle.bytes, 5000u);
    EXPECT_EQ(std::get<BodyFault>(parseFault(R"({"endpoint": "download", "wrong_bytes": true})").action).kind,
              Kind::WrongBytes);
}

class ParseFaultRejects : public testing::TestWithParam<const char*> {};

TEST_P(ParseFaultRejects, WithFaultError) { EXPECT_THROW(parseFault(GetParam()), FaultError) << GetParam(); }

INSTANTIATE_TEST_SUITE_P(
    BadFaults, ParseFaultRejects,
    testing::Values(R"(not json)", R"([])", R"({"status": 500})", R"({"endpoint": "upload", "status": 500})",
                    R"({"endpoint": 3, "status": 500})", R"({"endpoint": "login"})",
                    R"({"endpoint": "login", "status": 500, "stall_afer": 3})",
                    R"({"endpoint": "download", "status": 500, "drop_after": 3})",
                    R"({"endpoint": "manifest", "drop_after": 3})", R"({"endpoint": "login", "status": 500, "track": "a"})",
                    R"({"endpoint": "login", "status": 500, "error": "a", "body": "b"})",
                    R"({"endpoint": "login", "status": 500, "content_type": "text/plain"})",
                    R"({"endpoint": "login", "status": 99})", R"({"endpoint": "login", "status": 600})",
                    R"({"endpoint": "login", "status": "500"})", R"({"endpoint": "login", "status": 500, "times": 0})",
                    R"({"endpoint": "download", "drop_after": -1})", R"({"endpoint": "download", "drop_after": 1.5})",
                    R"({"endpoint": "download", "wrong_bytes": false})",
                    R"({"endpoint": "download", "drop_after": 5, "stall_seconds": 1})",
                    R"({"endpoint": "download", "stall_after": 5, "stall_seconds": -1})",
                    R"({"endpoint": "download", "bytes_per_second": 0})",
                    R"({"endpoint": "download", "wrong_bytes": true, "error": "x"})"));

Fault fault(const std::string& json) { return parseFault(json); }

TEST(FaultTable, FaultWithTimesIsSpentThenGone) {
    FaultTable table;
    table.add(fault(R"({"endpoint": "manifest", "status": 500, "times": 2})"));
    EXPECT_TRUE(table.takeRefusal(Endpoint::Manifest));
    EXPECT_TRUE(table.takeRefusal(Endpoint::Manifest));
    EXPECT_FALSE(table.takeRefusal(Endpoint::Manifest));
}

TEST(FaultTable, MatchesOnlyItsEndpointAndTrack) {
    FaultTable table;
    table.add(fault(R"({"endpoint": "download", "status": 404, "track": "a.mp3"})"));
    table.add(fault(R"({"endpoint": "download", "wrong_bytes": true, "track": "b.mp3"})"));
    EXPECT_FALSE(table.takeRefusal(Endpoint::Login));
    EXPECT_FALSE(table.takeRefusal(Endpoint::Download, "b.mp3"));
    EXPECT_FALSE(table.takeRefusal(Endpoint::Download, ""));
    EXPECT_TRUE(table.takeRefusal(Endpoint::Download, "a.mp3"));
    EXPECT_FALSE(table.takeBodyFault("a.mp3"));
    EXPECT_TRUE(table.takeBodyFault("b.mp3"));
}

TEST(FaultTable, RefusalAndBodyFaultForTheSameDownloadAreTakenSeparately) {
    FaultTable table;
    table.add(fault(R"({"endpoint": "download", "drop_after": 7, "times": 1})"));
    table.add(fault(R"({"endpoint": "download", "status": 503, "times": 1})"));
    const auto refusal = table.takeRefusal(Endpoint::Download, "x");
    ASSERT_TRUE(refusal);
    EXPECT_EQ(refusal->status, 503);
    const auto body = table.takeBodyFault("x");
    ASSERT_TRUE(body);
    EXPECT_EQ(body->bytes, 7u);
    EXPECT_FALSE(table.takeRefusal(Endpoint::Download, "x"));
    EXPECT_FALSE(table.takeBodyFault("x"));
}

TEST(FaultTable, OldestMatchingFaultAnswersFirst) {
    FaultTable table;
    table.add(fault(R"({"endpoint": "status", "status": 500, "times": 1})"));
    table.add(fault(R"({"endpoint": "status", "status": 502})"));
    EXPECT_EQ(table.takeRefusal(Endpoint::Status)->status, 500);
    EXPECT_EQ(table.takeRefusal(Endpoint::Status)->status, 502);
    EXPECT_EQ(table.takeRefusal(Endpoint::Status)->status, 502);
}

TEST(FaultTable, ConcurrentRequestsSpendExactlyTheGivenTimes) {
    FaultTable table;
    table.add(fault(R"({"endpoint": "download", "status": 500, "times": 30000})"));
    std::atomic<int> refused{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w)
        workers.emplace_back([&] {
            for (int i = 0; i < 10000; ++i)
                if (table.takeRefusal(Endpoint::Download, "t")) ++refused;
        });
    for (auto& worker : workers) worker.join();
    EXPECT_EQ(refused, 30000);
}

}  // namespace
}  // namespace spinforge::devserver
