#include "EditFilter.h"

#include <QLineEdit>

namespace v38 {

int selectionStart(const QLineEdit& edit) {
    return edit.hasSelectedText() ? edit.selectionStart() : edit.cursorPosition();
}

EditState removeRefused(const EditState& state, bool (*keep)(QChar)) {
    EditState result;
    result.caret = state.caret;
    result.text.reserve(state.text.size());
    for (const QChar c : state.text) {
        if (keep(c))
            result.text.append(c);
        else
            --result.caret;
    }
    if (result.caret < 0)
        result.caret = 0;
    return result;
}

void showText(QLineEdit& edit, const QString& text) {
    if (edit.text() != text)
        edit.setText(text);
}

void putBack(QLineEdit& edit, const EditState& state) {
    if (edit.text() == state.text)
        return; // nothing removed: the caret already stands where it belongs
    edit.setText(state.text);
    edit.setCursorPosition(state.caret);
}

} // namespace v38
