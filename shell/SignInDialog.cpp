#include "shell/SignInDialog.h"

#include "records/SpinforgeError.h"
#include "shell/Alert.h"
#include "shell/Detach.h"

#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QVBoxLayout>

namespace spinforge {

namespace {

// Offered until an address has been stored; stored nowhere by itself.
const QString defaultServerURL = QStringLiteral("https://app.spinforge.io");

QLineEdit* fieldWithMenu(const QString& text, const QString& placeholder, SignInDialog::EditingMenu editingMenu,
                         QWidget* parent) {
    auto* field = new QLineEdit(text, parent);
    field->setPlaceholderText(placeholder);
    field->setAccessibleName(placeholder);
    // The field's own editing menu, shown where it was asked for; the field takes the focus
    // first so that the commands act on it.
    field->setContextMenuPolicy(Qt::CustomContextMenu);
    QObject::connect(field, &QWidget::customContextMenuRequested, field, [field, editingMenu](const QPoint& position) {
        field->setFocus(Qt::PopupFocusReason);
        std::unique_ptr<QMenu> menu = editingMenu();
        menu->exec(field->mapToGlobal(position));
    });
    return field;
}

}  // namespace

SignInDialog::SignInDialog(SyncEngine& engine, const Settings& settings, QList<QAction*> keyEquivalents,
                           EditingMenu editingMenu)
    : engine_(engine), settings_(settings), keyEquivalents_(std::move(keyEquivalents)), editingMenu_(editingMenu) {}

void SignInDialog::show() {
    Alert alert(keyEquivalents_);
    alert.setMessageText(QStringLiteral("Connect this Mac to Spinforge"));
    alert.setInformativeText(QStringLiteral("This is a one-time setup. Your device token is stored in Keychain."));
    alert.addButton(QStringLiteral("Connect"));
    alert.addButton(QStringLiteral("Cancel"));

    auto* stack = new QWidget;
    stack->setFixedSize(380, 118);
    auto* layout = new QVBoxLayout(stack);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    QLineEdit* server = fieldWithMenu(settings_.serverURL().value_or(defaultServerURL), QStringLiteral("Server URL"),
                                      editingMenu_, stack);
    QLineEdit* email = fieldWithMenu({}, QStringLiteral("Email"), editingMenu_, stack);
    QLineEdit* password = fieldWithMenu({}, QStringLiteral("Password"), editingMenu_, stack);
    password->setEchoMode(QLineEdit::Password);
    for (QLineEdit* field : {server, email, password}) layout->addWidget(field);
    alert.setAccessoryView(stack);
    email->setFocus();  // the address is almost always filled in already

    if (alert.runModalActivated() != Alert::firstButtonReturn) return;
    // Passed exactly as typed: the service client normalises and checks the address.
    detach(signIn(server->text(), email->text(), password->text()));
}

QCoro::Task<> SignInDialog::signIn(QString server, QString email, QString password) {
    const QPointer<SignInDialog> self(this);
    try {
        co_await engine_.login(std::move(server), std::move(email), std::move(password));
    } catch (const std::exception& error) {
        if (self) Alert::showResult(QStringLiteral("Connection failed"), userDescription(error), keyEquivalents_);
        co_return;
    }
    if (!self) co_return;
    emit connected();
    Alert::showResult(QStringLiteral("Mac connected"),
                      QStringLiteral("Spinforge now runs automatically. Connect a USB to finish setup."), keyEquivalents_);
}

}  // namespace spinforge
