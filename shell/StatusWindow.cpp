#include "shell/StatusWindow.h"

#include "shell/MenuText.h"
#include "shell/Symbols.h"

#include <QAction>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

namespace spinforge {
namespace {

constexpr int symbolSize = 32;
constexpr int windowMinimumWidth = 320;
constexpr int groupSpacing = 8;

void mirror(QPushButton& button, const QAction& action) {
    button.setText(action.text());
    button.setEnabled(action.isEnabled());
    button.setHidden(!action.isVisible());
}

}  // namespace

StatusWindow::StatusWindow(QAction& statusLine, QWidget* parent)
    : QWidget(parent, Qt::Window),
      statusLine_(statusLine),
      symbolLabel_(new QLabel),
      statusLabel_(new QLabel),
      buttons_(new QVBoxLayout) {
    setWindowTitle(QStringLiteral("Spinforge"));
    setWindowIcon(Symbols::applicationIcon());
    setMinimumWidth(windowMinimumWidth);

    symbolLabel_->setObjectName(QStringLiteral("symbol"));
    symbolLabel_->setFixedSize(symbolSize, symbolSize);
    statusLabel_->setObjectName(QStringLiteral("statusLine"));
    statusLabel_->setTextFormat(Qt::PlainText);
    statusLabel_->setWordWrap(true);
    statusLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    statusLabel_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);

    auto* status = new QHBoxLayout;
    status->setSpacing(12);
    status->addWidget(symbolLabel_, 0, Qt::AlignTop);
    status->addWidget(statusLabel_, 1);

    buttons_->setSpacing(6);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 16);
    layout->setSpacing(14);
    layout->addLayout(status);
    layout->addLayout(buttons_);
    layout->addStretch(1);

    connect(&statusLine_, &QAction::changed, this, &StatusWindow::showStatusLine);
    showStatusLine();
}

StatusWindow::~StatusWindow() {
    if (menu_) menu_->removeEventFilter(this);
}

void StatusWindow::setMenu(QMenu* menu) {
    if (menu_) menu_->removeEventFilter(this);
    menu_ = menu;
    // Commands added to or taken from the menu later show up here too.
    if (menu_) menu_->installEventFilter(this);
    rebuildButtons();
}

void StatusWindow::setImage(const QString& symbol, const QString& description) {
    setAccessibleDescription(description);
    symbolLabel_->setAccessibleDescription(description);
    symbolLabel_->setToolTip(description);
    if (symbol == symbol_) return;
    symbol_ = symbol;
    showSymbol();
}

void StatusWindow::closeEvent(QCloseEvent* event) {
    // Hiding instead of closing keeps the agent running, and keeps the application from taking
    // this for its last window closing.
    event->ignore();
    hide();
}

void StatusWindow::changeEvent(QEvent* event) {
    // The symbol is painted in the palette's text colour; a new palette or theme repaints it.
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) showSymbol();
    QWidget::changeEvent(event);
}

bool StatusWindow::eventFilter(QObject* watched, QEvent* event) {
    // Qt takes an action out of the widget's list before it sends ActionRemoved, so the rebuild
    // sees the menu as it now is. A menu being destroyed still sends events from its QWidget
    // part, when it is no longer a QMenu: menu_ may be looked at only while it still is one.
    const bool commandsChanged = event->type() == QEvent::ActionAdded || event->type() == QEvent::ActionRemoved;
    if (commandsChanged && qobject_cast<QMenu*>(watched) && watched == menu_) rebuildButtons();
    return QWidget::eventFilter(watched, event);
}

void StatusWindow::showStatusLine() {
    // A label shows the text as the menu does, without the mnemonic marks.
    statusLabel_->setText(MenuText::shownBy(statusLine_.text()));
}

void StatusWindow::showSymbol() {
    // The attention symbol is the tray's, in warning orange with a dark outline that holds on any
    // window colour; the others are drawn like the text.
    const QIcon icon = symbol_ == Symbols::attention ? Symbols::trayIcon(symbol_)
                                                     : Symbols::icon(symbol_, palette().color(QPalette::WindowText));
    symbolLabel_->setPixmap(icon.pixmap(QSize(symbolSize, symbolSize), devicePixelRatio()));
}

void StatusWindow::rebuildButtons() {
    while (QLayoutItem* item = buttons_->takeAt(0)) {
        // Later, not now: the button pressed may be the one whose command asked for this.
        if (QWidget* button = item->widget()) {
            button->hide();
            button->deleteLater();
        }
        delete item;
    }
    if (!menu_) return;
    for (QAction* action : menu_->actions()) {
        // The menu's groups stay apart; the status line already stands above the buttons.
        if (action->isSeparator() && buttons_->count() > 0)
            buttons_->addSpacing(groupSpacing);
        else if (!action->isSeparator() && action != &statusLine_)
            addButton(action);
    }
}

void StatusWindow::addButton(QAction* action) {
    auto* button = new QPushButton;
    buttons_->addWidget(button);
    if (QMenu* submenu = action->menu()) button->setMenu(submenu);
    mirror(*button, *action);
    connect(action, &QAction::changed, button, [button, action] { mirror(*button, *action); });
    connect(button, &QPushButton::clicked, action, &QAction::trigger);
}

}  // namespace spinforge
