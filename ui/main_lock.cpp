// The main window's transfers to and from the lock.
#include "main.h"

#include "LinkMessages.h"
#include "Transfer.h"
#include "progr.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWindow>

namespace v38 {

namespace {

constexpr int ExposeWaitMs = 500;

// What the screen does between the steps of a transfer: the progress window while the
// lock is on the line, and the configuration or the message at the end.
class TransferScreen : public TransferHooks {
public:
    TransferScreen(TMainWin& window, TransferDirection direction)
        : window_(window), direction_(direction) {}

    // Hides the progress window however a transfer ends, so that an unexpected error
    // never leaves a window without a close box on the screen.
    ~TransferScreen() override {
        if (shown_)
            ProgrWin->hide();
    }

    void lockFound() override {
        shown_ = true;
        showProgress(direction_ == TransferDirection::Read ? QStringLiteral("Odczyt w toku.")
                                                           : QStringLiteral("Zapis w toku."));
        if (direction_ == TransferDirection::Write)
            window_.collectConfiguration();
    }

    // The thread stays on the line until the transfer ends, so the bar is painted at
    // once rather than when the event loop next runs.
    void blockDone(int block) override {
        ProgrWin->TrProgrBar->setValue(block);
        ProgrWin->TrProgrBar->repaint();
    }

    // A doubtful transfer is checked by reading the image from the lock again: the bar
    // runs through those blocks once more, under the same caption.
    void checking() override { blockDone(0); }
    void blockChecked(int block) override { blockDone(block); }

    void imageRead() override { window_.showConfiguration(); }

    void failed(int) override {
        window_.showCommError();
        // The image is back at the defaults: never a mixture of old and new blocks.
        if (direction_ == TransferDirection::Read)
            window_.showConfiguration();
    }

private:
    static void showProgress(const QString& caption) {
        ProgrWin->TrProgrBar->setValue(0);
        ProgrWin->Label->setText(caption);
        ProgrWin->show();
        // The window must be drawn before the line keeps this thread busy: let the
        // window system map it, handling only paint and window events. User input stays
        // queued until the transfer is over.
        QElapsedTimer waited;
        waited.start();
        do {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
        } while (!(ProgrWin->windowHandle() && ProgrWin->windowHandle()->isExposed()) &&
                 waited.elapsed() < ExposeWaitMs);
        ProgrWin->repaint();
    }

    TMainWin& window_;
    TransferDirection direction_;
    bool shown_ = false;
};

} // namespace

void TMainWin::showNoConnection() {
    showError(QString::fromUtf8(NoConnectionMessage));
}

void TMainWin::showCommError() {
    showError(QString::fromUtf8(CommErrorMessage));
}

void TMainWin::readFromLock() {
    TransferScreen screen(*this, TransferDirection::Read);
    if (readLock(bank_, screen).result == TransferResult::NoLock)
        showNoConnection();
}

void TMainWin::writeToLock() {
    TransferScreen screen(*this, TransferDirection::Write);
    if (writeLock(bank_, screen).result == TransferResult::NoLock)
        showNoConnection();
}

void TMainWin::ZamekRdActExecute() {
    readFromLock();
}

void TMainWin::ZamekWrActExecute() {
    writeToLock();
}

void TMainWin::KBtnClick() {
    writeToLock();
}

} // namespace v38
