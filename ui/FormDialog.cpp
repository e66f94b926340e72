#include "FormDialog.h"

#include <QKeyEvent>

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

} // namespace v38
