#pragma once
// The application around the engine rig's stand-ins, its alerts answered as a user would.

#include "platform/UDisksEjector.h"
#include "shell/Alert.h"
#include "shell/AppDelegate.h"
#include "shell/StatusItem.h"
#include "support/EngineRig.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>
#include <QtCore/qtestsupport_core.h>

#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace testing_support {

// What an alert says, read as a user reads it: the texts shown beside its icon, in order.
inline QStringList textsOf(const spinforge::Alert& alert) {
    QStringList texts;
    for (const QLabel* label : alert.findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        if (!label->isHidden() && !label->text().isEmpty()) texts << label->text();
    return texts;
}

// Clicks the alert's button titled `title`; false when it has none.
inline bool press(spinforge::Alert& alert, const QString& title) {
    for (QPushButton* button : alert.findChildren<QPushButton*>())
        if (button->text() == title) return button->click(), true;
    return false;
}

// Each alert gets the next queued answer; one nobody expected fails the test instead of hanging it.
class AlertDriver {
public:
    using Answer = std::function<void(spinforge::Alert&)>;
    struct Seen {
        QString message, informative;
    };

    AlertDriver() {
        poll_.setInterval(5);
        QObject::connect(&poll_, &QTimer::timeout, [this] { answerModal(); });
        poll_.start();
    }
    void then(Answer answer) { answers_.push_back(std::move(answer)); }
    void thenPress(const QString& button) {
        then([button](spinforge::Alert& alert) { EXPECT_TRUE(press(alert, button)) << button.toStdString(); });
    }
    bool waitUntilAnswered() { return QTest::qWaitFor([this] { return answers_.empty(); }, 15000); }

    QList<Seen> seen;

private:
    void answerModal() {
        auto* alert = qobject_cast<spinforge::Alert*>(QApplication::activeModalWidget());
        if (!alert || alert == current_) return;
        current_ = alert;
        const QStringList texts = textsOf(*alert);
        seen.append({texts.value(0), texts.value(1)});
        if (answers_.empty()) {
            ADD_FAILURE() << "unexpected alert: " << texts.value(0).toStdString();
            return alert->reject();
        }
        Answer answer = std::move(answers_.front());
        answers_.pop_front();
        answer(*alert);
    }

    QTimer poll_;
    std::deque<Answer> answers_;
    QPointer<spinforge::Alert> current_;
};

// Passes the application's calls on to the disk service and counts those on their way. A test
// ends only once none is: one left waiting when the event loop stops is never resumed, and
// whatever it holds is never given back.
class CountedEjector final : public spinforge::DriveEjector {
public:
    explicit CountedEjector(spinforge::DriveEjector& service) : service_(service) {}
    QCoro::Task<QList<Identified>> identify(QStringList mountPoints) override {
        ++onTheirWay_;
        const auto answered = qScopeGuard([this] { --onTheirWay_; });
        co_return co_await service_.identify(std::move(mountPoints));
    }
    QCoro::Task<Outcome> eject(QString mountPoint, Identity expected) override {
        ++onTheirWay_;
        const auto answered = qScopeGuard([this] { --onTheirWay_; });
        co_return co_await service_.eject(std::move(mountPoint), std::move(expected));
    }
    bool idle() const { return onTheirWay_ == 0; }

private:
    spinforge::DriveEjector& service_;
    int onTheirWay_ = 0;
};

class ShellRig : public ::testing::Test {
protected:
    explicit ShellRig(Disk disk = Disk::folder) : rig(disk) {}
    void TearDown() override {
        if (counted_) EXPECT_TRUE(QTest::qWaitFor([&] { return counted_->idle(); }, 15000)) << "the disk service never answered";
        delegate_.reset();
    }

    spinforge::AppDelegate& delegate() {
        if (!delegate_) {
            if (!ejector)
                systemUDisks_ = std::make_unique<spinforge::UDisksEjector>(QDBusConnection::systemBus(), rig.seams().volumes.mountTable);
            counted_.emplace(ejector ? *ejector : *systemUDisks_);
            delegate_ = std::make_unique<spinforge::AppDelegate>(rig.engine(), spinforge::ShellSeams{
                    rig.seams(), [this](const QUrl& url) { opened.append(url); }, std::chrono::seconds(900), &*counted_});
        }
        return *delegate_;
    }
    QAction* menuAction(const QString& title) {
        for (QAction* action : delegate().statusItem()->menu()->actions())
            if (action->text() == title) return action;
        ADD_FAILURE() << "no menu item " << title.toStdString();
        return nullptr;
    }
    // The first notification posted once `act` has run.
    RecordingNotifier::Posted told(const std::function<void()>& act) {
        const qsizetype before = rig.notifier.posted.size();
        act();
        EXPECT_TRUE(QTest::qWaitFor([&] { return rig.notifier.posted.size() > before; }, 30000));
        return rig.notifier.posted.value(before);
    }
    bool waitForStatus(const QString& title) {
        return QTest::qWaitFor([&] { return statusLine() == title; }, 15000);
    }
    // The status menu's first item, which says what the agent is doing.
    QString statusLine() { return delegate().statusItem()->menu()->actions().constFirst()->text(); }
    // Answers the next alert, the sign-in dialog, by filling in its fields and connecting.
    void signInWith(const QString& server, const QString& email, const QString& password) {
        alerts.then([=](spinforge::Alert& alert) {
            const QList<QLineEdit*> fields = alert.findChildren<QLineEdit*>();
            ASSERT_EQ(fields.size(), 3);
            fields[0]->setText(server);
            fields[1]->setText(email);
            fields[2]->setText(password);
            press(alert, QStringLiteral("Connect"));
        });
    }

    EngineRig rig;
    AlertDriver alerts;
    QList<QUrl> opened;
    spinforge::DriveEjector* ejector = nullptr;  // null: udisks2 on the session's system bus

private:
    std::unique_ptr<spinforge::UDisksEjector> systemUDisks_;  // when no ejector is given
    std::optional<CountedEjector> counted_;
    std::unique_ptr<spinforge::AppDelegate> delegate_;
};

}  // namespace testing_support
