#pragma once

#include "FormDialog.h"

#include <memory>

namespace Ui {
class TAboutBox;
}

namespace v38 {

// "O programie Vestibar": name, version, maker and logo.
class TAboutBox : public FormDialog {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* owner);
    ~TAboutBox() override;

private:
    std::unique_ptr<Ui::TAboutBox> ui_;
};

} // namespace v38
