// A QApplication for the whole run: offscreen without a display (the tray test runs under xvfb-run).
#include <QApplication>
#include <gtest/gtest.h>

namespace {

// The offscreen platform's notes on what it can't do (size hints, raising) would bury what matters.
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
