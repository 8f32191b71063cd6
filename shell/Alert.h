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

class QAction;
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

    // `keyEquivalents`: actions whose key equivalents work while the alert is up (the main menu's).
    explicit Alert(const QList<QAction*>& keyEquivalents);

    void setMessageText(const QString& text);
    void setInformativeText(const QString& text);
    void addButton(const QString& title);
    // Shows `view` between the texts and the buttons; the alert takes it over. Call once.
    void setAccessoryView(QWidget* view);

    // Shows the alert and waits until a button (or Escape, or closing the window) ends it. Escape
    // and closing answer like the "Cancel" button when there is one, else like the last button.
    int runModal();
    // Brings the alert in front of other applications' windows before it runs.
    int runModalActivated();

    // Tells how a dialog's work ended: `message` over `informative`, which may hold outside text
    // (the service's, a drive's name) and is shown escaped and cut; one "OK" button, in front.
    static void showResult(const QString& message, const QString& informative, const QList<QAction*>& keyEquivalents);

private:
    int dismissalAnswer() const;

    QLabel* message_;
    QLabel* informative_;
    QGridLayout* layout_;
    QDialogButtonBox* buttonBox_;
    QList<QPushButton*> buttons_;
};

}  // namespace spinforge
