#include "progr.h"

#include "WindowFont.h"
#include "ui_progr.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWindow>

namespace v38 {

namespace {
constexpr int ExposeWaitMs = 500;
}

TProgrWin::TProgrWin(QWidget* owner) : FormDialog(owner), ui_(std::make_unique<Ui::TProgrWin>()) {
    ui_->setupUi(this);
    setFont(windowFont());
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(size());
}

TProgrWin::~TProgrWin() = default;

void TProgrWin::start(const QString& caption) {
    ui_->TrProgrBar->setValue(0);
    ui_->Label->setText(caption);
    show();
    // The window must be drawn before the line keeps this thread busy: let the window
    // system map it, handling only paint and window events. User input stays queued
    // until the transfer is over.
    QElapsedTimer waited;
    waited.start();
    do {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    } while (!(windowHandle() && windowHandle()->isExposed()) && waited.elapsed() < ExposeWaitMs);
    repaint();
}

void TProgrWin::showBlock(int block) {
    ui_->TrProgrBar->setValue(block);
    ui_->TrProgrBar->repaint();
}

void TProgrWin::closeEvent(QCloseEvent* event) {
    event->ignore();
}

} // namespace v38
