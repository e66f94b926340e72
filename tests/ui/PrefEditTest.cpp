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

class PrefEditTest : public WindowsTest {
protected:
    // Double-clicks row i of the prefix list while `answer` works the dialog.
    void doubleClickRow(int i, const std::function<void(TPrefEdit&)>& answer) {
        QTreeWidget* list = mainForm->PrefLView;
        list->scrollToItem(list->topLevelItem(i));
        const QPoint at = list->visualItemRect(list->topLevelItem(i)).center();
        // As the mouse does it: the first click selects the row, the second one is the
        // double click.
        whileAnswering(
            [&] {
                QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
                QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
            },
            [this, &answer](QWidget* modal) {
                ASSERT_EQ(modal, PrefEdit);
                answer(*PrefEdit);
            });
    }
};

TEST_F(PrefEditTest, OkStoresTheEntryAndShowsOnlyThatRow) {
    showMainWindow();
    mainForm->T1Edit->setText("77"); // must survive: only row 6 is refreshed
    int openedAt = -1;
    QString openedText = "?";
    doubleClickRow(6, [&](TPrefEdit&) {
        openedAt = prefForm->PozCBox->currentIndex();
        openedText = prefForm->PrefEdt->text();
        prefForm->PozCBox->setCurrentIndex(15);
        prefForm->PrefEdt->setFocus();
        QTest::keyClicks(prefForm->PrefEdt, "1234567");
        prefForm->OKBtn->click();
    });
    EXPECT_EQ(openedAt, 0); // an inactive entry opens as "Nieaktywny"
    EXPECT_EQ(openedText, "");
    EXPECT_EQ(rowTexts(6), QStringList({"7", "1234567", "15", "xxxxxxxxxxxxxx1234567..."}));
    const std::uint8_t stored[4] = {0xE1, 0x23, 0x45, 0x67};
    EXPECT_TRUE(std::equal(stored, stored + 4, MainWin->bank().image().entry(6)));
    EXPECT_EQ(mainForm->T1Edit->text(), "77");

    // The next opening shows what is stored.
    doubleClickRow(6, [&](TPrefEdit&) {
        openedAt = prefForm->PozCBox->currentIndex();
        openedText = prefForm->PrefEdt->text();
        prefForm->PozCBox->setCurrentIndex(0); // "Nieaktywny" with a prefix still there
        prefForm->OKBtn->click();
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
    doubleClickRow(3, [this](TPrefEdit&) {
        EXPECT_EQ(prefForm->PozCBox->currentText(), "3");
        EXPECT_EQ(prefForm->PrefEdt->text(), "4567");
        prefForm->PrefEdt->clear();
        prefForm->OKBtn->click();
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
        prefForm->PrefEdt->setText("0");
        prefForm->PozCBox->setCurrentIndex(9);
        prefForm->CancelBtn->click();
        result = dialog.result();
    });
    EXPECT_EQ(result, ModalCancel);
    doubleClickRow(0, [&](TPrefEdit& dialog) {
        prefForm->PrefEdt->setText("0");
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
        prefForm->PrefEdt->setFocus();
        QTest::keyClicks(prefForm->PrefEdt, "12");
        QTest::keyClick(prefForm->PrefEdt, Qt::Key_Return);
        QTest::keyClick(prefForm->PrefEdt, Qt::Key_Enter, Qt::KeypadModifier);
        QTest::keyClick(prefForm->PrefEdt, Qt::Key_Escape);
        prefForm->PozCBox->setFocus();
        QTest::keyClick(prefForm->PozCBox, Qt::Key_Escape);
        stillOpen = dialog.isVisible();
        prefForm->PozCBox->setCurrentIndex(2);
        prefForm->OKBtn->setFocus();
        // Both Enter keys press the focused button.
        QTest::keyClick(prefForm->OKBtn, Qt::Key_Enter, Qt::KeypadModifier);
        if (dialog.isVisible()) // not pressed: end it without a result
            dialog.done(0);
    });
    EXPECT_EQ(focusAtStart, prefForm->OKBtn)
        << (focusAtStart ? focusAtStart->objectName().toStdString() : "");
    EXPECT_TRUE(stillOpen);
    EXPECT_EQ(rowTexts(2), QStringList({"3", "12", "2", "x12..."}));

    doubleClickRow(2, [&](TPrefEdit&) {
        prefForm->PrefEdt->clear();
        prefForm->CancelBtn->setFocus();
        QTest::keyClick(prefForm->CancelBtn, Qt::Key_Return);
    });
    EXPECT_FALSE(PrefEdit->isVisible());
    EXPECT_EQ(rowTexts(2), QStringList({"3", "12", "2", "x12..."}));
}

TEST_F(PrefEditTest, TheFilterKeepsOnlyPrefixCharacters) {
    QLineEdit* edit = prefForm->PrefEdt;
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
    whileAnswering([this] { MainWin->PrefLViewDblClick(); },
                   [&opened](QWidget* modal) {
                       opened = true;
                       modal->close();
                   });
    EXPECT_FALSE(opened);

    showMainWindow();
    QTreeWidget* list = mainForm->PrefLView;
    const QPoint at = list->visualItemRect(list->topLevelItem(1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton, Qt::LeftButton}) {
        opened = false;
        whileAnswering([&] { QTest::mouseDClick(list->viewport(), button, {}, at); },
                       [this, &opened](QWidget* modal) {
                           opened = modal == PrefEdit;
                           modal->close();
                       });
        EXPECT_EQ(opened, button == Qt::LeftButton) << button;
    }
    EXPECT_EQ(prefForm->PozCBox->count(), 16);
    EXPECT_EQ(prefForm->PozCBox->itemText(0), "Nieaktywny");
    EXPECT_EQ(prefForm->PozCBox->itemText(15), "15");
    EXPECT_EQ(PrefEdit->windowTitle(), "Edycja Prefiksu");
}

} // namespace
} // namespace v38::test
