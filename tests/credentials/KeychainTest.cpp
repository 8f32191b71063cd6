// The device token against the real Secret Service of the test session (gnome-keyring), and
// against what the desktop's own tool, secret-tool, stores and finds.
#include "credentials/Keychain.h"
#include "platform/SecretServiceKeyring.h"
#include "records/SpinforgeError.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace spinforge;

namespace {

struct ToolResult {
    int exitCode;
    QByteArray output;
};

ToolResult secretTool(const QStringList& arguments, const QByteArray& input = {}) {
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"), arguments);
    tool.write(input);
    tool.closeWriteChannel();
    tool.waitForFinished(10000);
    return {tool.exitCode(), tool.readAllStandardOutput() + tool.readAllStandardError()};
}

const QStringList kItem = {QStringLiteral("service"), QStringLiteral("com.spinforge.mac"),
                           QStringLiteral("account"), QStringLiteral("device-token")};

class KeychainTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsSet("SPINFORGE_EXPECT_NO_SECRET_SERVICE"))
            GTEST_SKIP() << "this run has no Secret Service on purpose";
        secretTool(QStringList{QStringLiteral("clear")} + kItem);
    }
    SecretServiceKeyring keyring;
};

TEST_F(KeychainTest, NothingStoredReadsAsNoToken) {
    EXPECT_EQ(Keychain::load(keyring), std::nullopt);
}

TEST_F(KeychainTest, SavedTokenReadsBackAndSecretToolFindsIt) {
    Keychain::save(keyring, QStringLiteral("tok-123"));
    EXPECT_EQ(Keychain::load(keyring), QStringLiteral("tok-123"));
    const ToolResult lookup = secretTool(QStringList{QStringLiteral("lookup")} + kItem);
    EXPECT_EQ(lookup.exitCode, 0);
    EXPECT_EQ(lookup.output, QByteArray("tok-123"));
}

TEST_F(KeychainTest, SavingTwiceLeavesOneItemWithTheSecondTokenAndItsLabel) {
    Keychain::save(keyring, QStringLiteral("first"));
    Keychain::save(keyring, QStringLiteral("second"));
    const ToolResult search = secretTool(QStringList{QStringLiteral("search"), QStringLiteral("--all")} + kItem);
    EXPECT_EQ(search.output.count("secret = "), 1) << search.output.toStdString();
    EXPECT_TRUE(search.output.contains("secret = second")) << search.output.toStdString();
    EXPECT_TRUE(search.output.contains("label = Spinforge device token")) << search.output.toStdString();
    EXPECT_EQ(Keychain::load(keyring), QStringLiteral("second"));
}

TEST_F(KeychainTest, NonAsciiTokenIsStoredAsItsUtf8Bytes) {
    const QString token = QStringLiteral("tøken-Ω-🎧");
    Keychain::save(keyring, token);
    EXPECT_EQ(secretTool(QStringList{QStringLiteral("lookup")} + kItem).output, token.toUtf8());
    EXPECT_EQ(Keychain::load(keyring), token);
}

TEST_F(KeychainTest, ItemStoredBySecretToolIsFoundAndReplaced) {
    // secret-tool stores no schema name; the agent must still find and replace its item.
    ASSERT_EQ(secretTool(QStringList{QStringLiteral("store"), QStringLiteral("--label=old")} + kItem, "from-tool").exitCode, 0);
    EXPECT_EQ(Keychain::load(keyring), QStringLiteral("from-tool"));
    Keychain::save(keyring, QStringLiteral("from-agent"));
    const ToolResult search = secretTool(QStringList{QStringLiteral("search"), QStringLiteral("--all")} + kItem);
    EXPECT_EQ(search.output.count("secret = "), 1) << search.output.toStdString();
    EXPECT_EQ(Keychain::load(keyring), QStringLiteral("from-agent"));
}

TEST_F(KeychainTest, StoredBytesThatAreNotUtf8ReadAsNoToken) {
    ASSERT_EQ(secretTool(QStringList{QStringLiteral("store"), QStringLiteral("--label=bad")} + kItem,
                         QByteArray("\xff\xfe\x80token", 8)).exitCode, 0);
    EXPECT_EQ(Keychain::load(keyring), std::nullopt);
}

// Run by ctest with a session bus address that leads nowhere (see tests/CMakeLists.txt).
TEST(KeychainWithoutSecretService, ReadsNoTokenAndSaveReportsTheStatus) {
    if (!qEnvironmentVariableIsSet("SPINFORGE_EXPECT_NO_SECRET_SERVICE"))
        GTEST_SKIP() << "needs a run without a Secret Service";
    SecretServiceKeyring keyring;
    EXPECT_EQ(Keychain::load(keyring), std::nullopt);
    try {
        Keychain::save(keyring, QStringLiteral("tok"));
        FAIL() << "save succeeded without a Secret Service";
    } catch (const SpinforgeError& error) {
        EXPECT_EQ(error.kind(), SpinforgeError::Kind::server);
        EXPECT_TRUE(QRegularExpression(QStringLiteral(R"(^Could not secure the device token \(-?\d+\)\.$)"))
                        .match(error.errorDescription()).hasMatch())
            << error.what();
    }
}

}  // namespace
