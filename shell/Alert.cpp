#include "shell/Alert.h"

#include "records/UserText.h"
#include "shell/Symbols.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace spinforge {

namespace {

QLabel* wrappedLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);  // service and file texts are shown, never interpreted
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

}  // namespace

Alert::Alert(const QList<QAction*>& keyEquivalents)
    : message_(wrappedLabel(this)), informative_(wrappedLabel(this)), layout_(new QGridLayout(this)),
      buttonBox_(new QDialogButtonBox(this)) {
    // Modal from the first show, also when shown before its loop runs to bring it to the front.
    setWindowModality(Qt::ApplicationModal);
    setWindowTitle(QStringLiteral("Spinforge"));
    setWindowIcon(Symbols::applicationIcon());
    QFont bold = message_->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.1);
    message_->setFont(bold);
    informative_->hide();
    // The application's icon beside the texts says whose question this is.
    auto* icon = new QLabel(this);
    icon->setPixmap(Symbols::applicationIcon().pixmap(48, 48));
    icon->setAlignment(Qt::AlignTop);
    layout_->setSizeConstraint(QLayout::SetFixedSize);
    layout_->setHorizontalSpacing(16);
    layout_->setVerticalSpacing(10);
    layout_->addWidget(icon, 0, 0, 3, 1);
    layout_->addWidget(message_, 0, 1);
    layout_->addWidget(informative_, 1, 1);
    layout_->addWidget(buttonBox_, 3, 0, 1, 2);
    message_->setMinimumWidth(320);
    addActions(keyEquivalents);
}

void Alert::setMessageText(const QString& text) { message_->setText(text); }

void Alert::setInformativeText(const QString& text) {
    informative_->setText(text);
    informative_->setVisible(!text.isEmpty());
}

void Alert::addButton(const QString& title) {
    const bool first = buttons_.isEmpty();
    const bool cancel = title == QStringLiteral("Cancel");
    const auto role = first ? QDialogButtonBox::AcceptRole
                            : cancel ? QDialogButtonBox::RejectRole : QDialogButtonBox::ActionRole;
    QPushButton* button = buttonBox_->addButton(title, role);
    button->setDefault(first);
    button->setAutoDefault(first);
    const int answer = firstButtonReturn + int(buttons_.size());
    connect(button, &QPushButton::clicked, this, [this, answer] { done(answer); });
    buttons_.append(button);
}

void Alert::setAccessoryView(QWidget* view) { layout_->addWidget(view, 2, 1); }

int Alert::runModal() {
    if (buttons_.isEmpty()) addButton(QStringLiteral("OK"));
    const int answer = exec();
    return answer >= firstButtonReturn ? answer : dismissalAnswer();
}

int Alert::runModalActivated() {
    // Shown before the nested loop starts, so that raising and activating act on a mapped window.
    QWidget::show();
    raise();
    activateWindow();
    return runModal();
}

int Alert::dismissalAnswer() const {
    const auto cancel = std::find_if(buttons_.cbegin(), buttons_.cend(),
                                     [](const QPushButton* button) { return button->text() == QStringLiteral("Cancel"); });
    return firstButtonReturn + int(cancel != buttons_.cend() ? cancel - buttons_.cbegin() : buttons_.size() - 1);
}

void Alert::showResult(const QString& message, const QString& informative, const QList<QAction*>& keyEquivalents) {
    Alert alert(keyEquivalents);
    alert.setMessageText(message);
    alert.setInformativeText(UserText::shown(informative));
    alert.addButton(QStringLiteral("OK"));
    alert.runModalActivated();
}

}  // namespace spinforge
