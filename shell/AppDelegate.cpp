#include "shell/AppDelegate.h"

#include "credentials/Keychain.h"
#include "service/ServiceAddress.h"
#include "shell/Detach.h"
#include "shell/EjectMenu.h"
#include "shell/MenuText.h"
#include "shell/RegistrationDialog.h"
#include "shell/SignInDialog.h"
#include "shell/StatusItem.h"
#include "shell/StatusWindow.h"
#include "shell/Symbols.h"

#include <QDesktopServices>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>

namespace spinforge {

namespace {

struct Look {
    QString symbol;
    QString description;  // spoken by screen readers, and the tray's tooltip
};

Look lookOf(SyncEngine::State::Kind kind) {
    using Kind = SyncEngine::State::Kind;
    switch (kind) {
    case Kind::working: return {Symbols::syncing, QStringLiteral("Syncing")};
    case Kind::failed: return {Symbols::attention, QStringLiteral("Needs attention")};
    case Kind::success:
    case Kind::idle: break;
    }
    return {Symbols::drive, QStringLiteral("Spinforge")};
}

// The stored server address when it is a web address the browser may be asked to open.
std::optional<QUrl> dashboardURL(const std::optional<QString>& stored) {
    if (!stored || stored->isEmpty()) return std::nullopt;
    QUrl url(*stored, QUrl::StrictMode);
    if (!url.isValid() || !ServiceAddress::isWeb(url)) return std::nullopt;
    return url;
}

}  // namespace

AppDelegate::AppDelegate(SyncEngine& engine, ShellSeams seams)
    : engine_(engine),
      statusMenuItem_(QStringLiteral("Standing by")),
      seams_(std::move(seams)),
      ejectMenu_(std::make_unique<EjectMenu>(engine_, seams_.engine.notifier, seams_.ejector,
                                             seams_.engine.volumes.mountTable)) {
    statusMenuItem_.setEnabled(false);
    if (!seams_.openURL) seams_.openURL = [](const QUrl& url) { QDesktopServices::openUrl(url); };
}

AppDelegate::~AppDelegate() {
    engine_.onStateChange = nullptr;
    engine_.onCycleEnd = nullptr;
    // A sync, sign-in or registration still awaiting the service ends in stop(), while the engine
    // is whole; the dialogs and ejects go first, so that what waited on it shows nothing.
    signInDialog_.reset();
    registrationDialog_.reset();
    ejectMenu_.reset();
    engine_.stop();
}

void AppDelegate::applicationDidFinishLaunching() {
    buildApplicationMenu();
    signInDialog_ = std::make_unique<SignInDialog>(engine_, seams_.engine.settings, keyEquivalents(), &AppDelegate::editingMenu);
    connect(signInDialog_.get(), &SignInDialog::connected, this, &AppDelegate::buildMenu);  // "Reconnect…" from now on
    registrationDialog_ = std::make_unique<RegistrationDialog>(engine_, keyEquivalents());
    statusItem_ = std::make_unique<StatusItem>(statusMenuItem_);
    statusItem_->window().addActions(keyEquivalents());  // Ctrl+Q and editing, as in the alerts
    statusItem_->setImage(Symbols::drive, QStringLiteral("Spinforge"));
    // A drive pulled out since the last cycle leaves the menu before the panel shows it.
    connect(statusItem_.get(), &StatusItem::trayMenuAboutToShow, ejectMenu_.get(), &EjectMenu::showItems);
    buildMenu();

    // The engine outlives this delegate, and the handlers still check that what they call is
    // there: a state may be published while the application is being torn down.
    engine_.onStateChange = [self = QPointer<AppDelegate>(this)](const SyncEngine::State& state) {
        if (self) self->showState(state);
    };
    // A notification's Eject ejects the drives as they were when it was posted.
    engine_.onEjectOffered = [ejects = QPointer<EjectMenu>(ejectMenu_.get())](const QStringList& mountPoints) {
        return ejects ? ejects->offer(mountPoints) : std::function<void()>();
    };
    engine_.onCycleEnd = [ejects = QPointer<EjectMenu>(ejectMenu_.get())] {
        if (ejects) ejects->cycleEnded();
    };
    engine_.start();

    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("periodic sync"));
    timer_->setInterval(seams_.syncInterval);
    connect(timer_, &QTimer::timeout, timer_,
            [&engine = engine_] { detach(engine.sync(QStringLiteral("timer"))); });
    timer_->start();

    if (!signedIn()) showSignIn();
}

void AppDelegate::showState(const SyncEngine::State& state) {
    if (state.kind == SyncEngine::State::Kind::working) {
        // Progress is shown once control is back in the event loop, the latest of it only: a
        // cycle over a library that needs nothing publishes one state per track without a turn of
        // the loop in between, which no panel could show, while each change would go out over
        // D-Bus and have the panel ask for the whole menu again.
        if (engine_.isRunning()) ejectMenu_->lockItems();
        const bool queued = progress_.has_value();
        progress_ = state;
        if (!queued) QMetaObject::invokeMethod(this, [this] {
            if (progress_) display(*std::exchange(progress_, std::nullopt));
        }, Qt::QueuedConnection);
        return;
    }
    // An outcome is shown at once, in place of any progress still to be shown.
    progress_.reset();
    display(state);
}

void AppDelegate::display(const SyncEngine::State& state) {
    const bool idle = state.kind == SyncEngine::State::Kind::idle;
    statusMenuItem_.setText(MenuText::forMenu(idle ? QStringLiteral("Standing by") : state.message));
    const Look look = lookOf(state.kind);
    if (statusItem_) statusItem_->setImage(look.symbol, look.description);
    // A cycle's progress only locks the eject items; the drives are looked at again once it ends.
    if (engine_.isRunning()) return ejectMenu_->lockItems();
    ejectMenu_->showItems();
}

void AppDelegate::syncNow() { detach(engine_.sync(QStringLiteral("Sync Now"))); }

void AppDelegate::registerUSB() {
    // Signed out, the sign-in dialog instead, and no drive list after it, whatever its outcome.
    if (!signedIn()) return showSignIn();
    registrationDialog_->show();
}

void AppDelegate::showSignIn() { signInDialog_->show(); }

void AppDelegate::openLibrary() {
    const QString root = engine_.cacheRoot();
    if (root.isEmpty()) return;  // no home folder: there is no library to show
    QDir().mkpath(root);         // a failure shows up as the file manager's own complaint
    seams_.openURL(QUrl::fromLocalFile(root));
}

void AppDelegate::openDashboard() {
    if (const auto url = dashboardURL(seams_.engine.settings.serverURL()))
        seams_.openURL(*url);
    else
        showSignIn();
}

bool AppDelegate::signedIn() { return Keychain::load(seams_.engine.keyring).has_value(); }

}  // namespace spinforge
