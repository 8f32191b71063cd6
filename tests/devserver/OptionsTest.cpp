#include "devserver/Options.h"

#include <gtest/gtest.h>

namespace spinforge::devserver {
namespace {

std::vector<std::string> withRequired(std::vector<std::string> extra) {
    std::vector<std::string> args{"--library", "/lib", "--state", "/state", "--account", "dj@example.com:pw:7:Set:DJ"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

TEST(DevServerOptions, AccountDisplayNameKeepsItsColons) {
    const Account account = parseAccount("vj@example.com:s3cret:42:Visual Set:VJ: Late: Night");
    EXPECT_EQ(account.email, "vj@example.com");
    EXPECT_EQ(account.password, "s3cret");
    EXPECT_EQ(account.profileId, 42);
    EXPECT_EQ(account.folder, "Visual Set");
    EXPECT_EQ(account.displayName, "VJ: Late: Night");
}

TEST(DevServerOptions, RepeatableFlagsAccumulateInOrderAndAcceptEqualsForm) {
    const Options options = parseOptions(withRequired({
        "--account=vj@example.com:pw:8:Other:VJ",
        "--token", "first",
        "--token=second",
        "--fault", R"({"endpoint": "login", "status": 503})",
        "--fault={\"endpoint\": \"download\", \"drop_after\": 10}",
        "--port=0",
        "--download-base", "http://127.0.0.1:9000//",
    }));
    ASSERT_EQ(options.accounts.size(), 2u);
    EXPECT_EQ(options.accounts[1].email, "vj@example.com");
    EXPECT_EQ(options.tokens, (std::vector<std::string>{"first", "second"}));
    ASSERT_EQ(options.faults.size(), 2u);
    EXPECT_EQ(options.faults[0].endpoint, Endpoint::Login);
    EXPECT_EQ(options.faults[1].endpoint, Endpoint::Download);
    EXPECT_EQ(options.port, 0);
    EXPECT_EQ(options.downloadBase, "http://127.0.0.1:9000");
}

TEST(DevServerOptions, HelpWinsOverAnythingElse) {
    EXPECT_TRUE(parseOptions({"--port", "1", "--help", "--no-such-flag"}).helpRequested);
    EXPECT_TRUE(parseOptions({"-h"}).helpRequested);
}

struct BadCommandLine {
    std::vector<std::string> args;
    std::string mentions;
};

class DevServerOptionsRejects : public testing::TestWithParam<BadCommandLine> {};

TEST_P(DevServerOptionsRejects, WithAMessageNamingTheProblem) {
    try {
        parseOptions(GetParam().args);
        FAIL() << "accepted a bad command line";
    } catch (const UsageError& e) {
        EXPECT_NE(std::string(e.what()).find(GetParam().mentions), std::string::npos) << e.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    BadCommandLines, DevServerOptionsRejects,
    testing::Values(
        BadCommandLine{{"--state", "/s", "--account", "a@b:p:1:F:N"}, "--library"},
        BadCommandLine{{"--library", "/l", "--account", "a@b:p:1:F:N"}, "--state"},
        BadCommandLine{{"--library", "/l", "--state", "/s"}, "--account"},
        BadCommandLine{withRequired({"--verbose"}), "unknown option '--verbose'"},
        BadCommandLine{withRequired({"stray"}), "unknown option 'stray'"},
        BadCommandLine{withRequired({"--port"}), "--port needs a value"},
        BadCommandLine{withRequired({"--port", "65536"}), "--port"},
        BadCommandLine{withRequired({"--port", "80x"}), "'80x'"},
        BadCommandLine{withRequired({"--port", "-1"}), "--port"},
        BadCommandLine{withRequired({"--sample-library", "0"}), "--sample-library"},
        BadCommandLine{withRequired({"--tls-cert", "cert.pem"}), "--tls-key"},
        BadCommandLine{withRequired({"--tls-key", "key.pem"}), "--tls-cert"},
        BadCommandLine{withRequired({"--download-base", "ftp://host"}), "http://"},
        BadCommandLine{withRequired({"--library="}), "non-empty"},
        BadCommandLine{withRequired({"--account", "dj@example.com:x:1:F:Again"}), "given twice"},
        BadCommandLine{withRequired({"--account", "a@b:p:1:Folder"}), "EMAIL:PASSWORD"},
        BadCommandLine{withRequired({"--account", "a@b:p:one:F:N"}), "PROFILE_ID"},
        BadCommandLine{withRequired({"--account", "a@b::1:F:N"}), "empty field"},
        BadCommandLine{withRequired({"--account", "a@b:p:1:F:"}), "empty field"},
        BadCommandLine{withRequired({"--fault", "{not json"}), "--fault"},
        BadCommandLine{withRequired({"--fault", R"({"endpoint": "login", "stall_afer": 1})"}), "stall_afer"}));

}  // namespace
}  // namespace spinforge::devserver
