#pragma once
// A small modal alert: a bold message, a smaller informative text, buttons in the order they were
// added, and at most one accessory widget between the texts and the buttons. `runModal` blocks in
// a nested event loop and answers which button ended it.
//
// The buttons sit where the desktop's style puts them (QDialogButtonBox): the first one added is
// the default, answers Return and takes the affirmative place; a button titled "Cancel" takes the
// cancel place and answers Escape. Answers count the buttons in the order added, whatever the
// layout.

#include <QDialog>
#include <QList>
#include <QString>

class QDialogButtonBox;
class QLabel;
class QPushButton;
class QGridLayout;

namespace spinforge {

class Alert : public QDialog {
    Q_OBJECT
public:
    // The answer of the first button added; the second answers one more, and so on.
    static constexpr int firstButtonReturn = 1000;

    Alert();

    void setMessageText(const QString& text);
    void setInformativeText(const QString& text);
    void addButton(const QString& title);
    // Shows `view` between the texts and the buttons; the alert takes it over. Call once.
    void setAccessoryView(QWidget* view);
    // Adds actions whose key equivalents should work while this alert is up (the main menu's).
    void addKeyEquivalents(const QList<QAction*>& actions) { addActions(actions); }

    // Shows the alert and waits until a button (or Escape, or closing the window) ends it. Escape
    // and closing answer like the "Cancel" button when there is one, else like the last button.
    int runModal();
    // Brings the alert in front of other applications' windows before it runs.
    int runModalActivated();

    QString messageText() const;
    QString informativeText() const;
    QStringList buttonTitles() const;
    QWidget* accessoryView() const { return accessory_; }
    // Ends the alert as a press of the button titled `title` would; false when there is none.
    bool press(const QString& title);

private:
    int dismissalAnswer() const;

    QLabel* message_;
    QLabel* informative_;
    QGridLayout* layout_;
    QDialogButtonBox* buttonBox_;
    QList<QPushButton*> buttons_;
    QWidget* accessory_ = nullptr;
};

}  // namespace spinforge
