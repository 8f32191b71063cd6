#pragma once
// Answers the modal alerts that the code under test runs, as a user would: each alert that comes
// up is handed to the next queued answer, which looks at it and presses a button. An alert that
// nobody expected fails the test and is dismissed, so that a test fails instead of hanging.

#include "shell/Alert.h"

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QtCore/qtestsupport_core.h>
#include <gtest/gtest.h>

#include <deque>
#include <functional>

namespace testing_support {

struct SeenAlert {
    QString message;
    QString informative;
    QStringList buttons;
};

class AlertDriver {
public:
    using Answer = std::function<void(spinforge::Alert&)>;

    AlertDriver() {
        poll_.setInterval(5);
        QObject::connect(&poll_, &QTimer::timeout, [this] { answerModal(); });
        poll_.start();
    }

    // Queues an answer for the next alert.
    void then(Answer answer) { answers_.push_back(std::move(answer)); }
    // Queues pressing `button` on the next alert.
    void thenPress(const QString& button) {
        then([button](spinforge::Alert& alert) { EXPECT_TRUE(alert.press(button)) << button.toStdString(); });
    }

    // Runs the event loop until every queued answer has been given; false when that takes
    // longer than `timeoutMs`.
    bool waitUntilAnswered(int timeoutMs = 15000) {
        return QTest::qWaitFor([this] { return answers_.empty(); }, timeoutMs);
    }

    // Every alert shown so far, in order.
    QList<SeenAlert> seen;

private:
    void answerModal() {
        auto* alert = qobject_cast<spinforge::Alert*>(QApplication::activeModalWidget());
        if (!alert || alert == current_) return;
        current_ = alert;
        seen.append({alert->messageText(), alert->informativeText(), alert->buttonTitles()});
        if (answers_.empty()) {
            ADD_FAILURE() << "unexpected alert: " << alert->messageText().toStdString();
            alert->reject();
            return;
        }
        Answer answer = std::move(answers_.front());
        answers_.pop_front();
        answer(*alert);
    }

    QTimer poll_;
    std::deque<Answer> answers_;
    QPointer<spinforge::Alert> current_;
};

}  // namespace testing_support
