#pragma once

#include "FormDialog.h"

#include <memory>

namespace Ui {
class THelpWin;
}

namespace v38 {

// "Opis programu": the program's description in a read-only text box.
class THelpWin : public FormDialog {
    Q_OBJECT
public:
    explicit THelpWin(QWidget* owner);
    ~THelpWin() override;

private:
    std::unique_ptr<Ui::THelpWin> ui_;
};

} // namespace v38
