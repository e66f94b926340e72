#pragma once

#include <QString>

class QLineEdit;

namespace v38 {

// An edit's text and caret while an input filter works on them.
struct EditState {
    QString text;
    int caret = 0;
};

// Where the caret stood for the change just made: the start of the selection, which
// after typing or pasting is the caret itself.
int selectionStart(const QLineEdit& edit);

// Removes every character that `keep` refuses; the caret moves back by one for each
// removed character, wherever it stood.
EditState removeRefused(const EditState& state, bool (*keep)(QChar));

// Puts a text into an edit. An equal text leaves the edit alone: its caret, selection
// and undo history stay, and no change handler runs.
void showText(QLineEdit& edit, const QString& text);

// Puts a filtered text back and places the caret. Setting a different text runs the
// edit's change handler once more, nested; that run finds nothing left to remove. A
// text that the filter kept whole is left alone, caret and undo history included.
void putBack(QLineEdit& edit, const EditState& state);

} // namespace v38
