// The three settings: where they live, their exact keys, and that every write reaches the file.
#include "credentials/Keychain.h"
#include "credentials/Settings.h"
#include "records/SpinforgeError.h"
#include "support/MemoryKeyring.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace spinforge;

namespace {

TEST(Settings, LiveInTheUsersConfigFolder) {
    const QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty()) GTEST_SKIP() << "XDG_CONFIG_HOME is not set";
    EXPECT_EQ(Settings::defaultFilePath(), config + QStringLiteral("/Spinforge/Spinforge.conf"));
}

TEST(Settings, EveryWriteReachesTheFileUnderItsExactKey) {
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("Spinforge/Spinforge.conf"));
    Settings settings(path);
    EXPECT_EQ(settings.serverURL(), std::nullopt);
    EXPECT_EQ(settings.deviceId(), std::nullopt);

    settings.setServerURL(QStringLiteral("https://music.example.com"));
    settings.setDisplayName(QStringLiteral("DJ Zoë, \"The Deck\" ; #1"));
    settings.setDeviceId(9007199254740993);  // beyond a double's exact range

    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray contents = file.readAll();
    EXPECT_TRUE(contents.contains("serverURL=https://music.example.com")) << contents.toStdString();
    EXPECT_TRUE(contents.contains("displayName=")) << contents.toStdString();
    EXPECT_TRUE(contents.contains("deviceId=9007199254740993")) << contents.toStdString();

    const Settings reopened(path);
    EXPECT_EQ(reopened.serverURL(), QStringLiteral("https://music.example.com"));
    EXPECT_EQ(reopened.displayName(), QStringLiteral("DJ Zoë, \"The Deck\" ; #1"));
    EXPECT_EQ(reopened.deviceId(), 9007199254740993);
}

TEST(KeychainWithRefusingKeyring, SaveFailsWithTheStatusAndLeavesNoToken) {
    testing_support::MemoryKeyring keyring;
    Keychain::save(keyring, QStringLiteral("old"));
    keyring.refuseWith = -25299;
    try {
        Keychain::save(keyring, QStringLiteral("new"));
        FAIL() << "a refused store must fail";
    } catch (const SpinforgeError& error) {
        EXPECT_EQ(error.errorDescription(), QStringLiteral("Could not secure the device token (-25299)."));
    }
    // The old token was removed before the refused add.
    EXPECT_EQ(Keychain::load(keyring), std::nullopt);
}

}  // namespace
