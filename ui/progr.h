#pragma once

#include "FormDialog.h"
#include "ui_progr.h"

namespace v38 {

// "Transmisja": shown while a transfer runs. The main window sets its label and bar.
class TProgrWin : public FormDialog, public Ui::TProgrWin {
    Q_OBJECT
public:
    explicit TProgrWin(QWidget* owner);

protected:
    // Only the transfer that showed the window hides it.
    void closeEvent(QCloseEvent* event) override;
};

extern TProgrWin* ProgrWin;

} // namespace v38
