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

void putBack(QLineEdit& edit, const EditState& state) {
    edit.setText(state.text);
    edit.setCursorPosition(state.caret);
}

} // namespace v38
