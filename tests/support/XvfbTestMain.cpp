// Widget tests run against an X server of their own, so that windows really map and the tray
// code takes the same path as on a desktop. Without Xvfb they run offscreen, and the tests that
// need X skip with the reason.
#include "support/XvfbServer.h"

#include <QApplication>
#include <gtest/gtest.h>

#include <memory>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<testing_support::XvfbServer> server;
    // Listing the tests (as the build does to register them) needs no display.
    if (!GTEST_FLAG_GET(list_tests)) server = std::make_unique<testing_support::XvfbServer>();
    if (server && server->running()) {
        qputenv("DISPLAY", server->display().toLocal8Bit());
        qputenv("QT_QPA_PLATFORM", "xcb");
    } else {
        testing_support::setXServerUnavailable(server ? server->failure() : QStringLiteral("no display"));
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    // The desktop's own theme plugin could bring its own tray; the generic one is Qt's plain
    // StatusNotifierItem path, the one the tests are about.
    qputenv("QT_QPA_PLATFORMTHEME", "generic");
    int result = 0;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
