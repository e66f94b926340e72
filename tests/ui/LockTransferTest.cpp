// Reading and writing a lock: the windows against the simulator on a pseudo-terminal.
#include "ImageEntries.h"
#include "UiTestSupport.h"

#include "ConfigFile.h"
#include "SimulatorProcess.h"
#include "progr.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>

#include <memory>
#include <string>
#include <vector>

namespace v38::test {
namespace {

ConfigImage lockImage() {
    V38Bank bank;
    bank.resetImage();
    bank.image()[0] = 0x27;
    bank.image()[1] = 50;
    bank.image()[2] = 3;
    bank.image()[3] = 4;
    setEntry(bank.image(), 0, 3, "4567");
    setEntry(bank.image(), 99, 1, "0");
    for (std::size_t at = offset::serviceCards; at < ConfigImage::Size; ++at)
        bank.image()[at] = static_cast<std::uint8_t>(at);
    return bank.image();
}

ConfigImage readImageFile(const QString& path) {
    ConfigImage image = ConfigImage::erased();
    EXPECT_EQ(readConfigFile(path.toStdString(), image), FileStatus::Ok);
    return image;
}

// What the progress window went through while a transfer ran.
struct ProgressTrace {
    std::vector<int> values;
    bool visibleAtEveryStep = true;
    bool paintedBeforeSecondBlock = false;
    int paints = 0;
};

class PaintCounter : public QObject {
public:
    explicit PaintCounter(ProgressTrace& trace) : trace_(trace) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++trace_.paints;
        return false;
    }

private:
    ProgressTrace& trace_;
};

class LockTransferTest : public WindowsTest {
protected:
    void SetUp() override {
        WindowsTest::SetUp();
        imagePath_ = folder_.path("lock.bin");
        writeAll(imagePath_, fileBytes(lockImage()));
    }
    void TearDown() override {
        simulator_.reset();
        qunsetenv("V38_PORTS");
        WindowsTest::TearDown();
    }
    void startSimulator(std::vector<std::string> extra = {}) {
        // At the lock's own line speed: the link holds an answer that comes before its
        // request could have crossed the line for no answer.
        std::vector<std::string> args = {"--image", imagePath_.toStdString()};
        args.insert(args.end(), extra.begin(), extra.end());
        simulator_ = std::make_unique<sim::SimulatorProcess>(V38_LOCK_SIM, args);
        qputenv("V38_PORTS", QByteArray::fromStdString(simulator_->devicePath()));
    }
    ProgressTrace traced(const std::function<void()>& transfer, SeenBoxes* seen = nullptr) {
        ProgressTrace trace;
        PaintCounter counter(trace);
        ProgrWin->installEventFilter(&counter);
        const auto connection = QObject::connect(
            progrForm->TrProgrBar, &QProgressBar::valueChanged, [this, &trace](int value) {
                trace.values.push_back(value);
                if (value > 0) // 0 is set before the window shows
                    trace.visibleAtEveryStep &= ProgrWin->isVisible();
                if (value == 1)
                    trace.paintedBeforeSecondBlock = trace.paints > 0;
            });
        const SeenBoxes boxes = whileAnswering(transfer);
        if (seen)
            *seen = boxes;
        QObject::disconnect(connection);
        ProgrWin->removeEventFilter(&counter);
        return trace;
    }

    TempFolder folder_;
    QString imagePath_;
    std::unique_ptr<sim::SimulatorProcess> simulator_;
};

const std::vector<int> AllSteps = {1, 2, 3, 4, 5, 6, 7};
// The bar runs through the eight blocks again for the second pass, under the same caption.
const std::vector<int> SecondPass = {0, 1, 2, 3, 4, 5, 6, 7};

TEST_F(LockTransferTest, ReadShowsTheLocksConfiguration) {
    startSimulator();
    progrForm->TrProgrBar->setValue(5); // left from an earlier transfer
    SeenBoxes seen;
    const ProgressTrace trace = traced([this] { mainForm->ZamekRdAct->trigger(); }, &seen);
    EXPECT_TRUE(seen.texts.isEmpty()) << seen.texts.join('|').toStdString();
    EXPECT_EQ(MainWin->bank().image(), lockImage());
    EXPECT_EQ(rowTexts(0), QStringList({"1", "4567", "3", "xx4567..."}));
    EXPECT_EQ(rowTexts(99), QStringList({"100", "0", "1", "0..."}));
    EXPECT_TRUE(mainForm->CBx6->isChecked());
    EXPECT_FALSE(mainForm->CBx4->isChecked());
    EXPECT_EQ(mainForm->T1Edit->text(), "50");
    EXPECT_EQ(mainForm->T1Lbl->text(), "= 5,0 sek");

    std::vector<int> expected = {0};
    expected.insert(expected.end(), AllSteps.begin(), AllSteps.end());
    expected.insert(expected.end(), SecondPass.begin(), SecondPass.end());
    EXPECT_EQ(trace.values, expected);
    EXPECT_TRUE(trace.visibleAtEveryStep);
    EXPECT_TRUE(trace.paintedBeforeSecondBlock);
    EXPECT_EQ(progrForm->Label->text(), "Odczyt w toku.");
    EXPECT_FALSE(ProgrWin->isVisible());
    EXPECT_EQ(MainWin->bank().portNumber(), 0); // closed after a good transfer
}

TEST_F(LockTransferTest, WriteSendsTheScreenAndTheImage) {
    startSimulator();
    setEntry(MainWin->bank().image(), 10, 2, "99");
    mainForm->CBx3->setChecked(true);
    mainForm->T3Edit->setText("17");
    SeenBoxes seen;
    const ProgressTrace trace = traced([this] { mainForm->ZamekWrAct->trigger(); }, &seen);
    EXPECT_TRUE(seen.texts.isEmpty()) << seen.texts.join('|').toStdString();
    std::vector<int> expected = AllSteps;
    expected.insert(expected.end(), SecondPass.begin(), SecondPass.end());
    EXPECT_EQ(trace.values, expected);
    EXPECT_TRUE(trace.visibleAtEveryStep);
    EXPECT_EQ(progrForm->Label->text(), "Zapis w toku.");
    EXPECT_FALSE(ProgrWin->isVisible());
    EXPECT_EQ(MainWin->bank().portNumber(), 0);

    const ConfigImage stored = readImageFile(imagePath_);
    EXPECT_EQ(stored, MainWin->bank().image());
    EXPECT_EQ(stored[0], 0x19 | 0x04);
    EXPECT_EQ(stored[3], 17);
    EXPECT_EQ(stored.entry(10)[0], 0x19);
}

TEST_F(LockTransferTest, KBtnWritesAfterTheExitRule) {
    startSimulator();
    showMainWindow();
    mainForm->T2Edit->setFocus();
    mainForm->T2Edit->clear();
    whileAnswering([this] { QTest::mouseClick(mainForm->KBtn, Qt::LeftButton); });
    EXPECT_EQ(mainForm->T2Edit->text(), "1");
    EXPECT_EQ(readImageFile(imagePath_)[2], 1);
}

TEST_F(LockTransferTest, AReadFailingAtTheLastBlockEndsOnTheDefaults) {
    startSimulator({"--fault", "nak:3@C7"}); // three attempts, all refused
    setEntry(MainWin->bank().image(), 5, 1, "1");
    MainWin->showRow(5);
    bool progressShownUnderMessage = false;
    SeenBoxes seen =
        whileAnswering([this] { MainWin->readFromLock(); },
                       [&](QWidget* modal) {
                           progressShownUnderMessage = ProgrWin->isVisible();
                           static_cast<QMessageBox*>(modal)->button(QMessageBox::Ok)->click();
                       });
    EXPECT_EQ(seen.texts, QStringList{"Błąd komunikacji z Zamkiem."});
    EXPECT_TRUE(progressShownUnderMessage);
    EXPECT_FALSE(ProgrWin->isVisible());
    EXPECT_EQ(MainWin->bank().image(), ConfigImage::defaults());
    EXPECT_EQ(rowTexts(0), QStringList({"1", "", "", ""}));
    EXPECT_EQ(rowTexts(5), QStringList({"6", "", "", ""}));
    EXPECT_EQ(mainForm->T1Edit->text(), "255");

    // The next transfer starts afresh with a new search.
    seen = whileAnswering([this] { MainWin->readFromLock(); });
    EXPECT_TRUE(seen.texts.isEmpty()) << seen.texts.join('|').toStdString();
    EXPECT_EQ(MainWin->bank().image(), lockImage());
}

TEST_F(LockTransferTest, AFailedWriteLeavesTheScreenAndTheLock) {
    startSimulator({"--fault", "nak:100@K3"});
    mainForm->T1Edit->setText("5");
    mainForm->CBx1->setChecked(false);
    SeenBoxes seen;
    const ProgressTrace trace = traced([this] { MainWin->writeToLock(); }, &seen);
    EXPECT_EQ(seen.texts, QStringList{"Błąd komunikacji z Zamkiem."});
    EXPECT_EQ(trace.values, std::vector<int>({1, 2}));
    EXPECT_EQ(mainForm->T1Edit->text(), "5");
    EXPECT_FALSE(mainForm->CBx1->isChecked());
    EXPECT_EQ(MainWin->bank().image()[0], 0x18); // the screen's flags and times went in
    EXPECT_EQ(MainWin->bank().image()[1], 5);
    EXPECT_EQ(readImageFile(imagePath_), lockImage()); // nothing committed
    EXPECT_FALSE(ProgrWin->isVisible());
}

TEST_F(LockTransferTest, NoLockAtAll) {
    qputenv("V38_PORTS", QByteArray::fromStdString(folder_.path("no-such-device").toStdString()));
    mainForm->T1Edit->setText("8");
    const ConfigImage before = MainWin->bank().image();
    for (QAction* action : {mainForm->ZamekRdAct, mainForm->ZamekWrAct}) {
        SeenBoxes seen;
        const ProgressTrace trace = traced([action] { action->trigger(); }, &seen);
        EXPECT_EQ(seen.texts, QStringList{"Brak połączenia z Zamkiem."});
        EXPECT_TRUE(trace.values.empty());
        EXPECT_EQ(trace.paints, 0);               // never shown
        EXPECT_EQ(MainWin->bank().image(), before); // not even the times were collected
        EXPECT_EQ(mainForm->T1Edit->text(), "8");
    }
}

} // namespace
} // namespace v38::test
