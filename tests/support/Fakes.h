#pragma once
// Stand-ins for the desktop: a keyring in memory that can refuse, and a notifier that records.

#include "platform/Keyring.h"
#include "platform/Notifier.h"

#include <QList>
#include <QMap>
#include <QPair>

namespace testing_support {

class MemoryKeyring final : public spinforge::Keyring {
public:
    std::optional<QByteArray> find(const QString& service, const QString& account) override {
        const auto found = items_.constFind({service, account});
        return found == items_.cend() ? std::nullopt : std::optional(*found);
    }
    void erase(const QString& service, const QString& account) override { items_.remove({service, account}); }
    std::optional<int> add(const QString& service, const QString& account, const QString&,
                           const QByteArray& secret) override {
        if (refuseWith) return refuseWith;
        items_.insert({service, account}, secret);
        return std::nullopt;
    }

    std::optional<int> refuseWith;  // when set, add() refuses with this status

private:
    QMap<QPair<QString, QString>, QByteArray> items_;
};

class RecordingNotifier final : public spinforge::Notifier {
public:
    struct Posted {
        QString title;
        QString body;
        bool routine;
        QString action = {};  // the label of its button, if it has one
        friend bool operator==(const Posted&, const Posted&) = default;
    };

    void requestPermission() override {}
    void post(const QString& title, const QString& body, bool routine) override { posted.append({title, body, routine}); }
    void postWithAction(const QString& title, const QString& body, bool routine, spinforge::NotificationAction action) override {
        posted.append({title, body, routine, action.label});
        actions.append(action.invoked);
    }

    QList<Posted> posted;
    QList<std::function<void()>> actions;  // what each button does, in the order posted
};

}  // namespace testing_support
