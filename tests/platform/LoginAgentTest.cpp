// The autostart entry written at every sign-in. How an awkward path is quoted in its Exec line is
// checked against an independent reader by the exec_argument fuzz target.
#include "platform/LoginAgent.h"
#include "platform/PosixFileSystem.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

using namespace spinforge;
using testing_support::fileBytes;
using testing_support::writeBytes;

namespace {

TEST(LoginAgent, WritesTheAutostartEntryWholeAndStartsTheAppImageRatherThanItsInside) {
    QTemporaryDir config;
    PosixFileSystem files;
    const QString entry = config.filePath("autostart/com.spinforge.mac.desktop");
    writeBytes(entry, QByteArray(4096, 'x'));
    LoginAgent::install(files, {QStringLiteral("/tmp/.mount_Spin/usr/bin/spinforge"), config.path(),
                         QStringLiteral("/home/kim/Apps/Spinforge 1.0.AppImage")});
    EXPECT_EQ(fileBytes(entry), QByteArray("[Desktop Entry]\nType=Application\nName=Spinforge\n"
                                           "Exec=\"/home/kim/Apps/Spinforge 1.0.AppImage\"\nStartupNotify=false\n"));
    LoginAgent::install(files, {QStringLiteral("/opt/spinforge/bin/spinforge"), config.path(), {}});
    EXPECT_TRUE(fileBytes(entry).contains("\nExec=/opt/spinforge/bin/spinforge\n"));
    EXPECT_EQ(testing_support::filesBelow(config.path()), QStringList{"autostart/com.spinforge.mac.desktop"});
}

}  // namespace
