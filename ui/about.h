#pragma once

#include "FormDialog.h"
#include "ui_about.h"

namespace v38 {

// "O programie Vestibar": name, version, maker and logo.
class TAboutBox : public FormDialog, public Ui::TAboutBox {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* owner);
};

extern TAboutBox* AboutBox;

} // namespace v38
