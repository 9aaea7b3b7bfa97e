#pragma once

#include <QDialog>

#include <functional>
#include <string>

class QKeyEvent;
class QLabel;
class QLineEdit;
class QPushButton;
class TProjFm;

// The OSCAL dialog: edits the low byte of the 12C67x calibration word (the
// RETLW in the last program word). Created once with the main window and
// reused; the value goes straight into the owner's device image.
class TOscCalFm : public QDialog
{
    Q_OBJECT
public:
    explicit TOscCalFm(TProjFm *owner);

    // RetlwLab shows the opcode's high byte.
    void PrepareRetlw();
    // Puts editText in Edit1 and shows the dialog modally. True when it was
    // closed with OK and the value was stored.
    bool Execute(const std::string &editText);

    // Edit1's key filter: true when the key was handled (typed upper-cased or
    // discarded).
    bool Edit1KeyPress(QKeyEvent *event);
    // OK: stores the value into the owner's image and closes with OK.
    void BitBtn1Click();

    QLabel *Label1 = nullptr;
    QLabel *RetlwLab = nullptr;
    QLineEdit *Edit1 = nullptr;
    QPushButton *BitBtn1 = nullptr;
    QPushButton *BitBtn2 = nullptr;

    // Runs once the modal loop has started, so a test can answer the dialog.
    std::function<void(TOscCalFm &)> OnShown;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    TProjFm *Owner;
    bool Stored = false;
};

// The character a key press types, as a key-press handler sees it: 8 for
// Backspace, 13 for Enter, the character of a printable key (0xFFFD for one
// beyond a single UTF-16 unit); -1 for keys that type nothing here (Delete,
// arrows, Tab, Escape), which keep their usual meaning.
int TypedChar(const QKeyEvent *event);
