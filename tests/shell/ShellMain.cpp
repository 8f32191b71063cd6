// The application's tests need widgets, so a QApplication exists for the whole run. Without a
// display they use the offscreen platform (ctest runs the tray test under xvfb-run instead).
#include <QApplication>
#include <gtest/gtest.h>

namespace {

// The offscreen platform says so each time a window asks it for something it can't do (size
// hints, raising); that is expected here and would bury the messages that matter.
QtMessageHandler standardHandler = nullptr;

void withoutOffscreenNotes(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (!message.startsWith(QLatin1String("This plugin does not support"))) standardHandler(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    standardHandler = qInstallMessageHandler(withoutOffscreenNotes);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
