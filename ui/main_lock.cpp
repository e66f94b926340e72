// The main window's transfers to and from the lock.
#include "main.h"

#include "progr.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QWindow>

namespace v38 {

namespace {

constexpr int ExposeWaitMs = 500;

// Hides the progress window however a transfer ends, so that an unexpected error
// never leaves a window without a close box on the screen.
class ProgressShown {
public:
    ~ProgressShown() { ProgrWin->hide(); }
};

} // namespace

void TMainWin::showNoConnection() {
    showError(QStringLiteral("Brak połączenia z Zamkiem."));
}

void TMainWin::showCommError() {
    showError(QStringLiteral("Błąd komunikacji z Zamkiem."));
}

void TMainWin::showProgress(const QString& caption) {
    ProgrWin->TrProgrBar->setValue(0);
    ProgrWin->Label->setText(caption);
    ProgrWin->show();
    // The window must be drawn before the line keeps this thread busy: let the window
    // system map it, handling only paint and window events. User input stays queued
    // until the transfer is over.
    QElapsedTimer waited;
    waited.start();
    do {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    } while (!(ProgrWin->windowHandle() && ProgrWin->windowHandle()->isExposed()) &&
             waited.elapsed() < ExposeWaitMs);
    ProgrWin->repaint();
}

// The thread stays on the line until the transfer ends, so the bar is painted at once
// rather than when the event loop next runs.
void TMainWin::showBlockDone(int block) {
    ProgrWin->TrProgrBar->setValue(block);
    ProgrWin->TrProgrBar->repaint();
}

void TMainWin::readFromLock() {
    if (!bank_.findLock(AllComPorts)) {
        showNoConnection();
        return;
    }
    showProgress(QStringLiteral("Odczyt w toku."));
    ProgressShown progress;
    try {
        for (int b = 0; b < BlockCount; ++b) {
            bank_.readBlock(b);
            showBlockDone(b);
        }
        showConfiguration();
        bank_.closePort();
    } catch (const CommErr&) {
        showCommError();
        // Never leave a mixture of old and new blocks on the screen.
        resetConfiguration();
    }
}

void TMainWin::writeToLock() {
    if (!bank_.findLock(AllComPorts)) {
        showNoConnection();
        return;
    }
    showProgress(QStringLiteral("Zapis w toku."));
    ProgressShown progress;
    collectConfiguration();
    try {
        for (int b = 0; b < BlockCount; ++b) {
            bank_.writeBlock(b);
            showBlockDone(b);
        }
        bank_.finishWrite();
        bank_.closePort();
    } catch (const CommErr&) {
        showCommError();
    }
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
