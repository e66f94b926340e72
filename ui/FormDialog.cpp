#include "FormDialog.h"

#include <QKeyEvent>
#include <QPushButton>

namespace v38 {

FormDialog::FormDialog(QWidget* owner) : QDialog(owner) {}

void FormDialog::reject() {
    done(ModalCancel);
}

void FormDialog::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void FormDialog::hideEvent(QHideEvent* event) {
    // QDialog centres itself on every show unless it counts as placed by the program;
    // once it has been on the screen, its next show keeps the place it was left at.
    setAttribute(Qt::WA_Moved);
    QDialog::hideEvent(event);
}

namespace {
class EnterPressesButton : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress)
            return false;
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter) ||
            (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        static_cast<QPushButton*>(watched)->click();
        return true;
    }
};
} // namespace

void pressOnEnter(QPushButton& button) {
    button.installEventFilter(new EnterPressesButton(&button));
}

} // namespace v38
