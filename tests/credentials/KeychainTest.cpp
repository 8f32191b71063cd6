// The device token against the session's real Secret Service (gnome-keyring) and secret-tool.
#include "credentials/Keychain.h"
#include "platform/SecretServiceKeyring.h"
#include "support/Fakes.h"
#include "support/TestSupport.h"

#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace spinforge;
using testing_support::failureOf;

namespace {

QByteArray secretTool(const QStringList& arguments, const QByteArray& input = {}) {
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"),
               arguments + QStringList{"service", "com.spinforge.mac", "account", "device-token"});
    tool.write(input);
    tool.closeWriteChannel();
    tool.waitForFinished(10000);
    return tool.exitCode() == 0 ? tool.readAllStandardOutput() : "secret-tool failed: " + tool.readAllStandardError();
}

class KeychainTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (qEnvironmentVariableIsSet("SPINFORGE_EXPECT_NO_SECRET_SERVICE")) GTEST_SKIP() << "this run has no Secret Service on purpose";
        secretTool({"clear"});
    }
    SecretServiceKeyring keyring;
};

TEST_F(KeychainTest, TheTokenIsOneItemThatSecretToolFindsAndReplaces) {
    EXPECT_EQ(Keychain::load(keyring), std::nullopt);
    // Stored by the desktop's own tool, which sets no schema name: found, and replaced.
    ASSERT_EQ(secretTool({"store", "--label=old"}, "from-tool"), QByteArray());
    EXPECT_EQ(Keychain::load(keyring), QStringLiteral("from-tool"));
    const QString token = QStringLiteral("t\u00f8ken-\u03a9");
    Keychain::save(keyring, token);
    Keychain::save(keyring, token);
    const QByteArray items = secretTool({"search", "--all"});
    EXPECT_EQ(items.count("secret = "), 1) << items.toStdString();
    EXPECT_TRUE(items.contains("label = Spinforge device token")) << items.toStdString();
    EXPECT_EQ(secretTool({"lookup"}), token.toUtf8());
    EXPECT_EQ(Keychain::load(keyring), token);
}

TEST_F(KeychainTest, StoredBytesThatAreNotUtf8ReadAsNoToken) {
    ASSERT_EQ(secretTool({"store", "--label=bad"}, QByteArray("\xff\xfe\x80token", 8)), QByteArray());
    EXPECT_EQ(Keychain::load(keyring), std::nullopt);
}

TEST(KeychainRefused, ARefusedStoreSaysItsStatusAndLeavesNoToken) {
    testing_support::MemoryKeyring keyring;
    Keychain::save(keyring, QStringLiteral("old"));
    keyring.refuseWith = -25299;
    EXPECT_EQ(failureOf([&] { Keychain::save(keyring, QStringLiteral("new")); }),
              "Could not secure the device token (-25299).");
    EXPECT_EQ(Keychain::load(keyring), std::nullopt);
}

// Run by ctest with a session bus address that leads nowhere (see tests/CMakeLists.txt).
TEST(KeychainWithoutSecretService, ReadsNoTokenAndSaveReportsTheStatus) {
    if (!qEnvironmentVariableIsSet("SPINFORGE_EXPECT_NO_SECRET_SERVICE")) GTEST_SKIP() << "needs a run without a Secret Service";
    SecretServiceKeyring keyring;
    EXPECT_EQ(Keychain::load(keyring), std::nullopt);
    EXPECT_TRUE(QRegularExpression(R"(^Could not secure the device token \(-?\d+\)\.$)")
                    .match(QString::fromStdString(failureOf([&] { Keychain::save(keyring, QStringLiteral("tok")); })))
                    .hasMatch());
}

}  // namespace
