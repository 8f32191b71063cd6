#pragma once
// A notifier that remembers what it would have shown.

#include "platform/Notifier.h"

#include <QList>

namespace testing_support {

class RecordingNotifier final : public spinforge::Notifier {
public:
    struct Posted {
        QString title;
        QString body;
        bool routine;
        friend bool operator==(const Posted&, const Posted&) = default;
    };

    void requestPermission() override { ++permissionRequests; }
    void post(const QString& title, const QString& body, bool routine) override {
        posted.append({title, body, routine});
    }

    int permissionRequests = 0;
    QList<Posted> posted;
};

}  // namespace testing_support
