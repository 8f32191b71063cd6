// The sign-in dialog: server address, e-mail address and password, handed to the engine's
// sign-in; the outcome is told in a second alert.
#include "shell/AppDelegate.h"

#include "records/SpinforgeError.h"
#include "shell/Alert.h"
#include "shell/Detach.h"

#include <QLineEdit>
#include <QMenu>
#include <QVBoxLayout>

namespace spinforge {

namespace {

QLineEdit* fieldWithMenu(const QString& text, const QString& placeholder, QWidget* parent) {
    auto* field = new QLineEdit(text, parent);
    field->setPlaceholderText(placeholder);
    field->setAccessibleName(placeholder);
    // The field's own editing menu, shown where it was asked for; the field takes the focus
    // first so that the commands act on it.
    field->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(field, &QWidget::customContextMenuRequested, field, [field](const QPoint& position) {
        field->setFocus(Qt::PopupFocusReason);
        std::unique_ptr<QMenu> menu = AppDelegate::editingMenu();
        menu->exec(field->mapToGlobal(position));
    });
    return field;
}

}  // namespace

void AppDelegate::showSignIn() {
    Alert alert;
    alert.setMessageText(QStringLiteral("Connect this Mac to Spinforge"));
    alert.setInformativeText(QStringLiteral("This is a one-time setup. Your device token is stored in Keychain."));
    alert.addButton(QStringLiteral("Connect"));
    alert.addButton(QStringLiteral("Cancel"));

    auto* stack = new QWidget;
    stack->setFixedSize(380, 118);
    auto* layout = new QVBoxLayout(stack);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    QLineEdit* server = fieldWithMenu(seams_.engine.settings.serverURL().value_or(defaultServerURL),
                                      QStringLiteral("Server URL"), stack);
    QLineEdit* email = fieldWithMenu({}, QStringLiteral("Email"), stack);
    QLineEdit* password = fieldWithMenu({}, QStringLiteral("Password"), stack);
    password->setEchoMode(QLineEdit::Password);
    for (QLineEdit* field : {server, email, password}) layout->addWidget(field);
    alert.setAccessoryView(stack);
    email->setFocus();  // the address is almost always filled in already

    if (run(alert) != Alert::firstButtonReturn) return;
    // Passed exactly as typed: the service client normalises and checks the address.
    detach(signIn(server->text(), email->text(), password->text()));
}

QCoro::Task<> AppDelegate::signIn(QString server, QString email, QString password) {
    try {
        co_await engine_.login(std::move(server), std::move(email), std::move(password));
    } catch (const std::exception& error) {
        if (!quitting_) showResult(QStringLiteral("Connection failed"), userDescription(error));
        co_return;
    }
    if (quitting_) co_return;
    buildMenu();
    showResult(QStringLiteral("Mac connected"),
               QStringLiteral("Spinforge now runs automatically. Connect a USB to finish setup."));
}

}  // namespace spinforge
