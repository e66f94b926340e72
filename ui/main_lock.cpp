// The main window's transfers to and from the lock.
#include "main.h"

#include "LinkMessages.h"
#include "Startup.h"
#include "Transfer.h"

namespace v38 {

namespace {

// What the screen does between the steps of a transfer: the progress window while the
// lock is on the line, and the configuration or the message at the end.
class TransferScreen : public TransferHooks {
public:
    TransferScreen(TMainWin& window, TProgrWin& progress, TransferDirection direction)
        : window_(window), progress_(progress), direction_(direction) {}

    // Hides the progress window however a transfer ends, so that an unexpected error
    // never leaves a window without a close box on the screen.
    ~TransferScreen() override {
        if (shown_)
            progress_.hide();
    }

    void lockFound() override {
        shown_ = true;
        progress_.start(direction_ == TransferDirection::Read ? QStringLiteral("Odczyt w toku.")
                                                              : QStringLiteral("Zapis w toku."));
        if (direction_ == TransferDirection::Write)
            window_.collectConfiguration();
    }

    void blockDone(int block) override { progress_.showBlock(block); }

    // Every transfer reads the image from the lock again before it is done: the bar runs
    // through those blocks once more, under the same caption.
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
    TMainWin& window_;
    TProgrWin& progress_;
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
    TransferScreen screen(*this, windows_.ProgrWin, TransferDirection::Read);
    if (readLock(bank_, screen).result == TransferResult::NoLock)
        showNoConnection();
}

void TMainWin::writeToLock() {
    TransferScreen screen(*this, windows_.ProgrWin, TransferDirection::Write);
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
