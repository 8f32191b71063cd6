#pragma once
// The application wired to the engine fixture's stand-ins (in-memory keyring, settings file,
// folders as drives, the development service), with an alert driver to answer its dialogs and a
// record of every address it asked the desktop to open. Runs under the offscreen platform.

#include "engine/EngineFixture.h"
#include "shell/AlertDriver.h"
#include "shell/AppDelegate.h"
#include "shell/StatusItem.h"

#include <QLineEdit>
#include <QMenu>
#include <QtCore/qtestsupport_core.h>

#include <chrono>

namespace testing_support {

class ShellFixture : public EngineFixture {
protected:
    void TearDown() override {
        delegate_.reset();
        EngineFixture::TearDown();
    }

    spinforge::AppDelegate& delegate() {
        if (!delegate_) {
            writeMountTable();
            delegate_ = std::make_unique<spinforge::AppDelegate>(spinforge::ShellSeams{
                    {*keyringInUse, settings, files, *notifierInUse, mountEvents,
                     {root.filePath("mountinfo"), {root.filePath("media") + u'/'}}, root.filePath("data"), timeouts},
                    [this](const QUrl& url) { opened.append(url); },
                    syncInterval});
        }
        return *delegate_;
    }

    // A menu's items as "title|shortcut", separators as "-".
    static QStringList itemsOf(const QMenu& menu) {
        QStringList items;
        for (const QAction* action : menu.actions())
            items << (action->isSeparator() ? QStringLiteral("-")
                                            : action->text() + u'|' + action->shortcut().toString());
        return items;
    }
    QStringList menuItems() { return itemsOf(*delegate().statusItem()->menu()); }
    QAction* menuAction(const QString& title) {
        for (QAction* action : delegate().statusItem()->menu()->actions())
            if (action->text() == title) return action;
        ADD_FAILURE() << "no menu item " << title.toStdString();
        return nullptr;
    }

    // Runs the event loop until `done` holds; false after `timeoutMs`.
    static bool waitFor(const std::function<bool()>& done, int timeoutMs = 15000) {
        return QTest::qWaitFor(done, timeoutMs);
    }
    bool waitForStatus(const QString& title) {
        return waitFor([&] { return delegate().statusMenuItem().text() == title; });
    }

    // The sign-in dialog's three fields, top to bottom.
    static QList<QLineEdit*> fields(spinforge::Alert& alert) {
        return alert.accessoryView()->findChildren<QLineEdit*>(Qt::FindDirectChildrenOnly);
    }
    // Answers the next alert, the sign-in dialog, by filling it in and connecting.
    void signInWith(const QString& email, const QString& password, std::optional<QString> server = {}) {
        alerts.then([=, this](spinforge::Alert& alert) {
            const QList<QLineEdit*> entries = fields(alert);
            ASSERT_EQ(entries.size(), 3);
            entries[0]->setText(server.value_or(QString::fromStdString(this->server->baseUrl())));
            entries[1]->setText(email);
            entries[2]->setText(password);
            alert.press(QStringLiteral("Connect"));
        });
    }

    std::chrono::milliseconds syncInterval = std::chrono::seconds(900);
    AlertDriver alerts;
    QList<QUrl> opened;

private:
    std::unique_ptr<spinforge::AppDelegate> delegate_;
};

}  // namespace testing_support
