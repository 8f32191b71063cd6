#pragma once
// Collects what Qt logs while it lives, so a test can check that an adapter stayed quiet.

#include <QStringList>
#include <QtGlobal>

namespace testing_support {

class LogCapture {
public:
    LogCapture() : previous_(qInstallMessageHandler(&LogCapture::record)) { lines().clear(); }
    ~LogCapture() { qInstallMessageHandler(previous_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    static QStringList& lines() {
        static QStringList logged;
        return logged;
    }

private:
    static void record(QtMsgType, const QMessageLogContext&, const QString& text) { lines().append(text); }
    QtMessageHandler previous_;
};

}  // namespace testing_support
