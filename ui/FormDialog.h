#pragma once

#include <QDialog>

class QPushButton;

namespace v38 {

// Modal results of the configurator's dialogs.
inline constexpr int ModalOk = 1;
inline constexpr int ModalCancel = 2;

// A dialog window of the configurator: centred over its owner the first time it is
// shown and afterwards shown where it was left; the close box ends it with Cancel;
// Escape does not close it, because none of these windows has a cancel button.
class FormDialog : public QDialog {
    Q_OBJECT
public:
    explicit FormDialog(QWidget* owner);

    void reject() override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void hideEvent(QHideEvent* event) override;
};

// Enter and the keypad's Enter press the push button that has the focus, as Space
// does, without making it a default button that takes Enter from other controls.
void pressOnEnter(QPushButton& button);

} // namespace v38
