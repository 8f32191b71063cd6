#pragma once
// The status item's stand-in where no tray host runs: a small window with the status symbol, the
// status line and one button per command of the status menu. Closing it only hides it; the agent
// keeps running. Main thread.

#include <QPointer>
#include <QString>
#include <QWidget>

class QAction;
class QLabel;
class QMenu;
class QVBoxLayout;

namespace spinforge {

class StatusWindow : public QWidget {
    Q_OBJECT
public:
    // Shows the text of `statusLine` (owned by the caller; it must outlive the window) as the
    // status line, following its changes.
    explicit StatusWindow(QAction& statusLine, QWidget* parent = nullptr);
    ~StatusWindow() override;
    Q_DISABLE_COPY_MOVE(StatusWindow)

    // Makes the commands of `menu` (not owned; null for none) the window's buttons, in the
    // menu's order and following its changes, until the next call.
    void setMenu(QMenu* menu);
    // Shows the named symbol (see Symbols) and gives the window its spoken description.
    void setImage(const QString& symbol, const QString& description);

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showStatusLine();
    void showSymbol();
    void rebuildButtons();
    void addButton(QAction* action);

    // Set once at construction
    QAction& statusLine_;
    QLabel* symbolLabel_;
    QLabel* statusLabel_;
    QVBoxLayout* buttons_;

    QPointer<QMenu> menu_;
    QString symbol_;
};

}  // namespace spinforge
