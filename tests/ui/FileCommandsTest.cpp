// Opening and saving configuration files through the menu, with the real dialogs.
#include "ImageEntries.h"
#include "UiTestSupport.h"

#include "ConfigFile.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QRegularExpression>
#include <QTest>

namespace v38::test {
namespace {

using FileCommandsTest = WindowsTest;

ConfigImage sampleImage() {
    ConfigImage image = ConfigImage::defaults();
    image[0] = 0xE5; // bits 6 and 7 set, and bits 0, 2, 5
    image[1] = 12;
    image[2] = 0;
    image[3] = 6;
    V38Bank bank;
    bank.image() = image;
    setEntry(bank.image(), 4, 2, ":;<=>");
    image = bank.image();
    for (std::size_t at = offset::serviceCards; at < ConfigImage::Size; ++at)
        image[at] = static_cast<std::uint8_t>(at * 7);
    return image;
}

TEST_F(FileCommandsTest, SavingAfterStartUpWritesTheDefaultFile) {
    TempFolder folder;
    const SeenBoxes seen =
        choosingFile(folder.path("nowy"), [this] { mainForm->FilSaveAct->trigger(); });
    EXPECT_TRUE(seen.texts.filter(QRegularExpression(".+")).isEmpty());
    const QByteArray bytes = readAll(folder.path("nowy.bin")); // the default suffix
    ASSERT_EQ(bytes.size(), 514);
    EXPECT_EQ(std::uint8_t(bytes[0]), 0x19);
    for (int at = 1; at < 512; ++at)
        ASSERT_EQ(std::uint8_t(bytes[at]), 0xFF) << at;
    EXPECT_EQ(std::uint8_t(bytes[512]), 0xC5);
    EXPECT_EQ(std::uint8_t(bytes[513]), 0xCD);
}

TEST_F(FileCommandsTest, OpeningAGoodFileShowsItAndSavingItBackKeepsItsBytes) {
    TempFolder folder;
    const ConfigImage image = sampleImage();
    QByteArray longer = fileBytes(image);
    longer.append(86, '\x5A'); // bytes after the 514th are never read
    writeAll(folder.path("lock.bin"), longer);

    choosingFile(folder.path("lock.bin"), [this] { mainForm->FilOpenAct->trigger(); });
    EXPECT_EQ(MainWin->bank().image(), image);
    EXPECT_EQ(rowTexts(4), QStringList({"5", ":;<=>", "2", "x:;<=>..."}));
    EXPECT_TRUE(mainForm->CBx1->isChecked());
    EXPECT_FALSE(mainForm->CBx2->isChecked());
    EXPECT_TRUE(mainForm->CBx6->isChecked());
    EXPECT_EQ(mainForm->T1Edit->text(), "12");
    EXPECT_EQ(mainForm->T2Edit->text(), "0");
    EXPECT_EQ(mainForm->T3Lbl->text(), "= 1min 00sek");

    // Saving writes the flags from the six boxes (bits 6 and 7 cleared) and
    // everything from byte 4 on unchanged.
    choosingFile(folder.path("again.bin"), [this] { mainForm->FilSaveAct->trigger(); });
    ConfigImage expected = image;
    expected[0] = 0x25;
    EXPECT_EQ(readAll(folder.path("again.bin")), fileBytes(expected));

    // Each dialog offers the name last chosen in it.
    QString offered;
    whileAnswering([this] { mainForm->FilSaveAct->trigger(); },
                   [&offered](QWidget* modal) {
                       auto* dialog = qobject_cast<QFileDialog*>(modal);
                       ASSERT_NE(dialog, nullptr);
                       offered = dialog->selectedFiles().value(0);
                       dialog->reject();
                   });
    EXPECT_EQ(offered, folder.path("again.bin"));
}

TEST_F(FileCommandsTest, BadFilesAreRefusedAndTheScreenStays) {
    TempFolder folder;
    const QByteArray good = fileBytes(sampleImage());
    writeAll(folder.path("short.bin"), good.left(513));
    writeAll(folder.path("empty.bin"), QByteArray());
    QByteArray swapped = good;
    std::swap(swapped[512], swapped[513]);
    ASSERT_NE(swapped, good);
    writeAll(folder.path("swapped.bin"), swapped);

    mainForm->T1Edit->setText("42"); // an unsaved change on the screen
    const ConfigImage before = MainWin->bank().image();
    for (const char* name : {"short.bin", "empty.bin", "swapped.bin"}) {
        const SeenBoxes seen =
            choosingFile(folder.path(name), [this] { mainForm->FilOpenAct->trigger(); });
        const QStringList messages = seen.texts.filter(QRegularExpression(".+"));
        ASSERT_EQ(messages, QStringList{"Błąd w pliku.\n\n"}) << name;
        EXPECT_EQ(seen.titles.last(), " Błąd ! ");
        EXPECT_EQ(MainWin->bank().image(), before) << name;
        EXPECT_EQ(mainForm->T1Edit->text(), "42");
    }
}

TEST_F(FileCommandsTest, AMissingFileCannotBeOpened) {
    TempFolder folder;
    const QString name = folder.path("brak %1 <i>.bin");
    const ConfigImage before = MainWin->bank().image();
    const SeenBoxes seen = choosingFile(name, [this] { mainForm->FilOpenAct->trigger(); });
    EXPECT_EQ(seen.texts.filter(QRegularExpression(".+")),
              QStringList{"Nie można otworzyć pliku:\n\n " + QDir::toNativeSeparators(name) + "\n"});
    EXPECT_EQ(MainWin->bank().image(), before);
}

TEST_F(FileCommandsTest, CancellingADialogChangesNothing) {
    mainForm->T2Edit->setText("9");
    const ConfigImage before = MainWin->bank().image();
    whileAnswering([this] { mainForm->FilSaveAct->trigger(); },
                   [](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    whileAnswering([this] { mainForm->FilOpenAct->trigger(); },
                   [](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    EXPECT_EQ(MainWin->bank().image(), before); // not even the times were collected
}

TEST_F(FileCommandsTest, SavingWhereNoFileCanBeMadeSaysSoAndKeepsTheOldFile) {
    TempFolder folder;
    // A folder in place of the file: it cannot be opened for writing.
    QDir().mkpath(folder.path("folder.bin"));
    mainForm->T1Edit->setText("33");
    SeenBoxes seen = whileAnswering([&] { MainWin->saveFile(folder.path("folder.bin")); });
    EXPECT_EQ(seen.texts, QStringList{"Nie można otworzyć pliku:\n\n " +
                                      QDir::toNativeSeparators(folder.path("folder.bin")) + "\n"});
    EXPECT_EQ(MainWin->bank().image()[1], 33); // collected before the file was tried

    // Replacing an existing file asks nothing.
    writeAll(folder.path("old.bin"), "old");
    seen = choosingFile(folder.path("old.bin"), [this] { mainForm->FilSaveAct->trigger(); });
    EXPECT_TRUE(seen.texts.filter(QRegularExpression(".+")).isEmpty());
    EXPECT_EQ(readAll(folder.path("old.bin")).size(), 514);
}

// A copy an interrupted save left beside the file is told of, by its name, on opening
// and on saving, and the copy is kept.
TEST_F(FileCommandsTest, ACopyLeftByAnInterruptedSaveIsToldOf) {
    TempFolder folder;
    const QByteArray good = fileBytes(sampleImage());
    writeAll(folder.path("f.bin"), good);
    writeAll(folder.path("f.bin.v38-copy"), good);
    const QString copy = QDir::toNativeSeparators(folder.path("f.bin.v38-copy"));
    SeenBoxes seen = whileAnswering([&] { MainWin->loadFile(folder.path("f.bin")); });
    ASSERT_EQ(seen.titles, QStringList{" Uwaga ! "});
    EXPECT_TRUE(seen.texts[0].contains("\n\n " + copy + "\n\n")) << seen.texts[0].toStdString();
    EXPECT_EQ(MainWin->bank().image(), sampleImage());
    seen = whileAnswering([&] { MainWin->saveFile(folder.path("f.bin")); });
    EXPECT_EQ(seen.titles, QStringList{" Uwaga ! "});
    EXPECT_EQ(readAll(folder.path("f.bin.v38-copy")), good);
}

TEST_F(FileCommandsTest, SaveFromTheMenuWhileAnEmptyTimeKeepsTheFocus) {
    TempFolder folder;
    showMainWindow();
    mainForm->T2Edit->setFocus();
    mainForm->T2Edit->clear();
    // Through the menu with the keyboard, as a user would: Alt+P, then Z.
    const SeenBoxes seen = choosingFile(folder.path("menu.bin"), [this] {
        QTest::keyClick(MainWin, Qt::Key_P, Qt::AltModifier);
        ASSERT_TRUE(mainForm->Plik->isVisible());
        QTest::keyClick(mainForm->Plik, Qt::Key_Z);
    });
    ASSERT_FALSE(seen.titles.isEmpty());
    const QByteArray bytes = readAll(folder.path("menu.bin"));
    ASSERT_EQ(bytes.size(), 514);
    EXPECT_EQ(bytes[2], 0);                  // the exit rule did not run
    EXPECT_EQ(mainForm->T2Edit->text(), ""); // saving shows nothing again
}

} // namespace
} // namespace v38::test
