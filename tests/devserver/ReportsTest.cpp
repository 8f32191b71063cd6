#include "devserver/Dashboard.h"
#include "devserver/Reports.h"

#include "HttpCheck.h"
#include "support/DevServer.h"

#include <gtest/gtest.h>

namespace spinforge::devserver {
namespace {

using testing_support::TempDir;

TEST(StatusBody, AcceptsOnlyANonNegativeCountAndABoolean) {
    const auto report = parseStatusBody(R"({"track_count": 12, "synced": false, "extra": 1})");
    ASSERT_TRUE(report);
    EXPECT_EQ(report->trackCount, 12);
    EXPECT_FALSE(report->synced);
    for (const char* body : {"", "null", "[]", R"({"track_count": 1})", R"({"synced": true})",
                             R"({"track_count": -1, "synced": true})", R"({"track_count": 1.5, "synced": true})",
                             R"({"track_count": "1", "synced": true})", R"({"track_count": 1, "synced": "yes"})",
                             R"({"track_count": 1, "synced": true)"})
        EXPECT_FALSE(parseStatusBody(body)) << body;
}

TEST(ReportLog, AppendsJsonLinesThatALaterRunReadsBack) {
    TempDir state;
    const std::string file = state.path() + "/reports.jsonl";
    {
        ReportLog log(file);
        log.append("dj@example.com", R"({"track_count": 3, "synced": true})", StatusReport{3, true});
        log.append("dj@example.com", "not json\n", std::nullopt);
    }
    const std::string text = devserver_tests::readFile(file);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2) << "one line per report, even for a body with newlines";

    const ReportLog reopened(file);
    const nlohmann::json all = reopened.all();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0]["track_count"], 3);
    EXPECT_EQ(all[0]["synced"], true);
    EXPECT_EQ(all[1]["body"], "not json\n");
    EXPECT_TRUE(all[1]["track_count"].is_null());
    EXPECT_TRUE(all[1]["synced"].is_null());
    EXPECT_EQ(reopened.newest(1).front()["body"], "not json\n");
}

TEST(Dashboard, EscapesEveryNameAndBody) {
    EXPECT_EQ(htmlEscape(R"(<a href="x">'&'</a>)"), "&lt;a href=&quot;x&quot;&gt;&#39;&amp;&#39;&lt;/a&gt;");

    TempDir root;
    testing_support::DevServer::writeFile(root.path() + "/<i>Evil</i> - \"Name\".mp3", "x");
    const Library library = Library::load(root.path(), [](std::size_t, std::size_t) {}, [](const std::string&) {});
    const nlohmann::json report = {{"at", "now"}, {"account", "<b>dj</b>"}, {"body", "<script>alert(1)</script>"}};

    const std::string page = renderDashboard(library, {report}, "start");

    EXPECT_EQ(page.find("<i>"), std::string::npos);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
    EXPECT_EQ(page.find("<script>"), std::string::npos);
    EXPECT_NE(page.find("&lt;i&gt;Evil&lt;/i&gt; - &quot;Name&quot;.mp3"), std::string::npos);
    EXPECT_NE(page.find("&lt;script&gt;alert(1)&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(page.find(library.tracks()[0].sha256.substr(0, 12)), std::string::npos);
}

}  // namespace
}  // namespace spinforge::devserver
