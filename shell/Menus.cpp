// The status menu, the application's main menu and the editing menu.
#include "shell/AppDelegate.h"

#include "shell/EjectMenu.h"
#include "shell/StatusItem.h"

#include <QApplication>
#include <QMenu>
#include <QMenuBar>

namespace spinforge {

namespace {

QKeySequence keyEquivalent(char letter) {
    return QKeySequence(QKeySequence::fromString(QStringLiteral("Ctrl+") + QChar::fromLatin1(letter).toUpper()));
}

QAction* addQuit(QMenu& menu) {
    QAction* quit = menu.addAction(QStringLiteral("Quit Spinforge"));
    quit->setShortcut(keyEquivalent('q'));
    QObject::connect(quit, &QAction::triggered, qApp, &QCoreApplication::quit);
    return quit;
}

// An editing command for whichever text field has the keyboard focus; every text control of Qt
// has these four slots.
void addEditing(QMenu& menu, const QString& title, const char* slot, char letter) {
    QAction* action = menu.addAction(title);
    action->setShortcut(keyEquivalent(letter));
    QObject::connect(action, &QAction::triggered, action, [slot] {
        if (QWidget* focused = QApplication::focusWidget()) QMetaObject::invokeMethod(focused, slot);
    });
}

}  // namespace

void AppDelegate::buildMenu() {
    auto menu = std::make_unique<QMenu>();
    statusMenuItem_.setEnabled(false);
    menu->addAction(&statusMenuItem_);
    menu->addSeparator();
    const auto addCommand = [&](const QString& title, void (AppDelegate::*command)(), char letter) {
        QAction* action = menu->addAction(title);
        if (letter) action->setShortcut(keyEquivalent(letter));
        connect(action, &QAction::triggered, this, command);
    };
    addCommand(QStringLiteral("Sync Now"), &AppDelegate::syncNow, 's');
    addCommand(QStringLiteral("Register a USB\u2026"), &AppDelegate::registerUSB, 'u');
    addCommand(QStringLiteral("Open Local Library"), &AppDelegate::openLibrary, 'l');
    addCommand(QStringLiteral("Open Web Dashboard"), &AppDelegate::openDashboard, 'd');
    // The eject items go before this separator, and go with the menu they are in.
    ejectMenu_->placeIn(*menu, *menu->addSeparator());
    addCommand(signedIn() ? QStringLiteral("Reconnect\u2026") : QStringLiteral("Sign In\u2026"), &AppDelegate::showSignIn, 0);
    addQuit(*menu);
    statusItem_->setMenu(std::move(menu));
    ejectMenu_->showItems();
}

void AppDelegate::buildApplicationMenu() {
    auto menuBar = std::make_unique<QMenuBar>();
    auto* application = new QMenu(QStringLiteral("Spinforge"), menuBar.get());
    addQuit(*application);
    menuBar->addMenu(application);
    QMenu* editing = editingMenu().release();
    editing->setParent(menuBar.get());
    menuBar->addMenu(editing);
    applicationMenu_ = std::move(menuBar);
}

std::unique_ptr<QMenu> AppDelegate::editingMenu() {
    auto menu = std::make_unique<QMenu>(QStringLiteral("Edit"));
    addEditing(*menu, QStringLiteral("Cut"), "cut", 'x');
    addEditing(*menu, QStringLiteral("Copy"), "copy", 'c');
    addEditing(*menu, QStringLiteral("Paste"), "paste", 'v');
    menu->addSeparator();
    addEditing(*menu, QStringLiteral("Select All"), "selectAll", 'a');
    return menu;
}

// The main menu's commands, so that their key equivalents work in the agent's own windows: on
// Linux the agent has no menu bar of its own to carry them.
QList<QAction*> AppDelegate::keyEquivalents() const {
    QList<QAction*> actions;
    for (const QAction* top : applicationMenu_->actions())
        if (top->menu())
            for (QAction* action : top->menu()->actions())
                if (!action->isSeparator()) actions << action;
    return actions;
}

}  // namespace spinforge
