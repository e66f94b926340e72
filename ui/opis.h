#pragma once

#include "FormDialog.h"
#include "ui_opis.h"

namespace v38 {

// "Opis programu": the program's description in a read-only text box.
class THelpWin : public FormDialog, public Ui::THelpWin {
    Q_OBJECT
public:
    explicit THelpWin(QWidget* owner);
};

extern THelpWin* HelpWin;

} // namespace v38
