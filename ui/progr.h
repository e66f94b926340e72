#pragma once

#include "FormDialog.h"

#include <memory>

namespace Ui {
class TProgrWin;
}

namespace v38 {

// "Transmisja": shown while a transfer runs, with its caption and a bar of the blocks done.
class TProgrWin : public FormDialog {
    Q_OBJECT
public:
    explicit TProgrWin(QWidget* owner);
    ~TProgrWin() override;

    // Shows the window with `caption` and the bar at 0, drawn before it returns: the
    // transfer then keeps this thread on the line.
    void start(const QString& caption);
    // Moves the bar to `block` and paints it at once: the transfer holds this thread
    // until it ends, and the event loop would paint it only then.
    void showBlock(int block);

protected:
    // Only the transfer that showed the window hides it.
    void closeEvent(QCloseEvent* event) override;

private:
    std::unique_ptr<Ui::TProgrWin> ui_;
};

} // namespace v38
