// Editing a prefix entry: the double click, the dialog and its filter.
#include "ImageEntries.h"
#include "UiTestSupport.h"

#include "FormDialog.h"
#include "prefedit.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QTest>

namespace v38::test {
namespace {

using PrefEditTest = WindowsTest;

// Double-clicks row i of the prefix list while `answer` works the dialog.
void doubleClickRow(int i, const std::function<void(TPrefEdit&)>& answer) {
    QTreeWidget* list = MainWin->PrefLView;
    list->scrollToItem(list->topLevelItem(i));
    const QPoint at = list->visualItemRect(list->topLevelItem(i)).center();
    // As the mouse does it: the first click selects the row, the second one is the
    // double click.
    whileAnswering(
        [&] {
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
        },
        [&answer](QWidget* modal) {
            ASSERT_EQ(modal, PrefEdit);
            answer(*PrefEdit);
        });
}

TEST_F(PrefEditTest, OkStoresTheEntryAndShowsOnlyThatRow) {
    showMainWindow();
    MainWin->T1Edit->setText("77"); // must survive: only row 6 is refreshed
    int openedAt = -1;
    QString openedText = "?";
    doubleClickRow(6, [&](TPrefEdit& dialog) {
        openedAt = dialog.PozCBox->currentIndex();
        openedText = dialog.PrefEdt->text();
        dialog.PozCBox->setCurrentIndex(15);
        dialog.PrefEdt->setFocus();
        QTest::keyClicks(dialog.PrefEdt, "1234567");
        dialog.OKBtn->click();
    });
    EXPECT_EQ(openedAt, 0); // an inactive entry opens as "Nieaktywny"
    EXPECT_EQ(openedText, "");
    EXPECT_EQ(rowTexts(6), QStringList({"7", "1234567", "15", "xxxxxxxxxxxxxx1234567..."}));
    const std::uint8_t stored[4] = {0xE1, 0x23, 0x45, 0x67};
    EXPECT_TRUE(std::equal(stored, stored + 4, MainWin->bank().image().entry(6)));
    EXPECT_EQ(MainWin->T1Edit->text(), "77");

    // The next opening shows what is stored.
    doubleClickRow(6, [&](TPrefEdit& dialog) {
        openedAt = dialog.PozCBox->currentIndex();
        openedText = dialog.PrefEdt->text();
        dialog.PozCBox->setCurrentIndex(0); // "Nieaktywny" with a prefix still there
        dialog.OKBtn->click();
    });
    EXPECT_EQ(openedAt, 15);
    EXPECT_EQ(openedText, "1234567");
    EXPECT_EQ(rowTexts(6), QStringList({"7", "", "", ""}));
    EXPECT_EQ(MainWin->bank().image().entry(6)[0], 0xFF);
}

TEST_F(PrefEditTest, AnEmptyPrefixMakesTheEntryInactive) {
    setEntry(MainWin->bank().image(), 3, 3, "4567");
    MainWin->showRow(3);
    showMainWindow();
    doubleClickRow(3, [](TPrefEdit& dialog) {
        EXPECT_EQ(dialog.PozCBox->currentText(), "3");
        EXPECT_EQ(dialog.PrefEdt->text(), "4567");
        dialog.PrefEdt->clear();
        dialog.OKBtn->click();
    });
    EXPECT_EQ(rowTexts(3), QStringList({"4", "", "", ""}));
}

TEST_F(PrefEditTest, CancelAndTheCloseBoxChangeNothing) {
    setEntry(MainWin->bank().image(), 0, 1, "59");
    MainWin->showRow(0);
    showMainWindow();
    const ConfigImage before = MainWin->bank().image();
    int result = 0;
    doubleClickRow(0, [&](TPrefEdit& dialog) {
        dialog.PrefEdt->setText("0");
        dialog.PozCBox->setCurrentIndex(9);
        dialog.CancelBtn->click();
        result = dialog.result();
    });
    EXPECT_EQ(result, ModalCancel);
    doubleClickRow(0, [&](TPrefEdit& dialog) {
        dialog.PrefEdt->setText("0");
        dialog.close(); // the close box
        result = dialog.result();
    });
    EXPECT_EQ(result, ModalCancel);
    EXPECT_EQ(MainWin->bank().image(), before);
    EXPECT_EQ(rowTexts(0), QStringList({"1", "59", "1", "59..."}));
}

TEST_F(PrefEditTest, EnterAndEscape) {
    showMainWindow();
    bool stillOpen = false;
    QWidget* focusAtStart = nullptr;
    doubleClickRow(2, [&](TPrefEdit& dialog) {
        focusAtStart = QApplication::focusWidget();
        dialog.PrefEdt->setFocus();
        QTest::keyClicks(dialog.PrefEdt, "12");
        QTest::keyClick(dialog.PrefEdt, Qt::Key_Return);
        QTest::keyClick(dialog.PrefEdt, Qt::Key_Enter, Qt::KeypadModifier);
        QTest::keyClick(dialog.PrefEdt, Qt::Key_Escape);
        dialog.PozCBox->setFocus();
        QTest::keyClick(dialog.PozCBox, Qt::Key_Escape);
        stillOpen = dialog.isVisible();
        dialog.PozCBox->setCurrentIndex(2);
        dialog.OKBtn->setFocus();
        // Both Enter keys press the focused button.
        QTest::keyClick(dialog.OKBtn, Qt::Key_Enter, Qt::KeypadModifier);
        if (dialog.isVisible()) // not pressed: end it without a result
            dialog.done(0);
    });
    EXPECT_EQ(focusAtStart, PrefEdit->OKBtn)
        << (focusAtStart ? focusAtStart->objectName().toStdString() : "");
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(rowTexts(2), QStringList({"3", "12", "2", "x12..."}));

    doubleClickRow(2, [&](TPrefEdit& dialog) {
        dialog.PrefEdt->clear();
        dialog.CancelBtn->setFocus();
        QTest::keyClick(dialog.CancelBtn, Qt::Key_Return);
    });
    EXPECT_FALSE(PrefEdit->isVisible());
    EXPECT_EQ(rowTexts(2), QStringList({"3", "12", "2", "x12..."}));
}

TEST_F(PrefEditTest, TheFilterKeepsOnlyPrefixCharacters) {
    QLineEdit* edit = PrefEdit->PrefEdt;
    PrefEdit->showPrefix(5, "12x4"); // the filter runs on texts set by the program too
    EXPECT_EQ(edit->text(), "124");
    PrefEdit->show();
    edit->setFocus();
    edit->setText("12");
    edit->setCursorPosition(1);
    QTest::keyClick(edit, Qt::Key_A);
    QTest::keyClick(edit, Qt::Key_Space);
    QKeyEvent letter(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString::fromUtf8("ą"));
    QCoreApplication::sendEvent(edit, &letter);
    EXPECT_EQ(edit->text(), "12");
    EXPECT_EQ(edit->cursorPosition(), 1);
    QTest::keyClicks(edit, ":;<=>");
    EXPECT_EQ(edit->text(), "1:;<=>2");
    QTest::keyClick(edit, Qt::Key_9); // an eighth character does not go in
    EXPECT_EQ(edit->text(), "1:;<=>2");

    edit->clear();
    QApplication::clipboard()->setText("12a3");
    edit->paste();
    EXPECT_EQ(edit->text(), "123");
    EXPECT_EQ(edit->cursorPosition(), 3);

    int position = -1;
    char text[8];
    std::memset(text, 'Z', sizeof text);
    PrefEdit->collectPrefix(position, text);
    EXPECT_EQ(position, 5);
    EXPECT_STREQ(text, "123");

    // An equal text leaves the caret and the selection; typing can be undone.
    edit->setSelection(1, 1);
    PrefEdit->showPrefix(5, "123");
    EXPECT_EQ(edit->selectedText(), "2");
    edit->end(false);
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(edit->text(), "123");
    PrefEdit->hide();
}

TEST_F(PrefEditTest, OnlyADoubleClickOfThePrimaryButtonOnARowOpensTheDialog) {
    bool opened = false;
    whileAnswering([] { MainWin->PrefLViewDblClick(); },
                   [&opened](QWidget* modal) {
                       opened = true;
                       modal->close();
                   });
    EXPECT_FALSE(opened);

    showMainWindow();
    QTreeWidget* list = MainWin->PrefLView;
    const QPoint at = list->visualItemRect(list->topLevelItem(1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton, Qt::LeftButton}) {
        opened = false;
        whileAnswering([&] { QTest::mouseDClick(list->viewport(), button, {}, at); },
                       [&opened](QWidget* modal) {
                           opened = modal == PrefEdit;
                           modal->close();
                       });
        EXPECT_EQ(opened, button == Qt::LeftButton) << button;
    }
    EXPECT_EQ(PrefEdit->PozCBox->count(), 16);
    EXPECT_EQ(PrefEdit->PozCBox->itemText(0), "Nieaktywny");
    EXPECT_EQ(PrefEdit->PozCBox->itemText(15), "15");
    EXPECT_EQ(PrefEdit->windowTitle(), "Edycja Prefiksu");
}

} // namespace
} // namespace v38::test
