#pragma once

#include "FormDialog.h"

#include <memory>

namespace Ui {
class TPrefEdit;
}

namespace v38 {

// Edits one prefix entry: its position on the card (0 = inactive) and its text.
class TPrefEdit : public FormDialog {
    Q_OBJECT
public:
    explicit TPrefEdit(QWidget* owner);
    ~TPrefEdit() override;

    void showPrefix(int position, const QString& text);
    // The chosen position and a zero-terminated copy of the prefix (7 characters at most).
    void collectPrefix(int& position, char text[8]) const;

public slots:
    void PrefEdtChange();

private:
    std::unique_ptr<Ui::TPrefEdit> ui_;
};

} // namespace v38
