// The main window: what start-up shows, the time edits, the flags and the cards.
#include "ImageEntries.h"
#include "UiTestSupport.h"

#include "MainImages.h"
#include "V38Bank.h"
#include "about.h"
#include "opis.h"
#include "prefedit.h"
#include "progr.h"

#include <QApplication>
#include <QClipboard>
#include <QHelpEvent>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <QToolTip>

namespace v38::test {
namespace {

using MainWindowTest = WindowsTest;

TEST_F(MainWindowTest, StartUpShowsTheDefaultConfiguration) {
    EXPECT_EQ(MainWin->objectName(), "MainWin");
    EXPECT_EQ(MainWin->windowTitle(), "Vestibar");
    ASSERT_EQ(mainForm->PrefLView->topLevelItemCount(), 100);
    for (int i = 0; i < 100; ++i)
        ASSERT_EQ(rowTexts(i), QStringList({QString::number(i + 1), "", "", ""})) << "row " << i;

    const QCheckBox* boxes[] = {mainForm->CBx1, mainForm->CBx2, mainForm->CBx3,
                                mainForm->CBx4, mainForm->CBx5, mainForm->CBx6};
    const bool checked[] = {true, false, false, true, true, false};
    for (int b = 0; b < 6; ++b)
        EXPECT_EQ(boxes[b]->isChecked(), checked[b]) << boxes[b]->objectName().toStdString();

    EXPECT_EQ(mainForm->T1Edit->text(), "255");
    EXPECT_EQ(mainForm->T2Edit->text(), "255");
    EXPECT_EQ(mainForm->T3Edit->text(), "255");
    EXPECT_EQ(mainForm->T1Lbl->text(), "= 25,5 sek");
    EXPECT_EQ(mainForm->T2Lbl->text(), "= 42min 30sek");
    EXPECT_EQ(mainForm->T3Lbl->text(), "= 42min 30sek");
    EXPECT_EQ(mainForm->SerwKartBox->title(), " Karty Serwisowe (magnetyczne) ");
    EXPECT_EQ(mainForm->K1Edit->text(), "");
    EXPECT_EQ(mainForm->K2Edit->text(), "");

    EXPECT_EQ(MainWin->bank().image()[0], 0x19);
    for (std::size_t at = 1; at < ConfigImage::Size; ++at)
        ASSERT_EQ(MainWin->bank().image()[at], 0xFF) << at;
    EXPECT_EQ(MainWin->bank().portNumber(), 0);

    // Every window carries the program's icon, from the title bar's size to Alt+Tab's.
    const QWidget* windows[] = {MainWin, PrefEdit, AboutBox, HelpWin, ProgrWin};
    for (const QWidget* window : windows) {
        const QList<QSize> sizes = window->windowIcon().availableSizes();
        EXPECT_TRUE(sizes.contains(QSize(16, 16)) && sizes.contains(QSize(256, 256)))
            << window->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, ControlsStandWhereTheFormPutsThem) {
    showMainWindow();
    EXPECT_EQ(mainForm->ClientArea->size(), QSize(844, 552));
    const int widths[] = {30, 70, 60, 160};
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(mainForm->PrefLView->columnWidth(c), widths[c]);
    // The columns fill the list; a style with wider frames or scroll bars must not add a
    // horizontal scroll bar for the last pixels.
    EXPECT_FALSE(mainForm->PrefLView->horizontalScrollBar()->isVisible());

    // Nothing is clipped: every caption fits the box the form gives it.
    for (QWidget* w : MainWin->findChildren<QWidget*>()) {
        if (auto* label = qobject_cast<QLabel*>(w)) {
            EXPECT_LE(label->sizeHint().width(), label->width())
                << label->objectName().toStdString();
        } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
            EXPECT_LE(box->sizeHint().width(), box->width()) << box->objectName().toStdString();
        }
    }
    EXPECT_LE(mainForm->KBtn->sizeHint().width(), mainForm->KBtn->width());

    MainWin->resize(1000, 700);
    EXPECT_EQ(mainForm->ToolBar->width(), mainForm->ClientArea->width());
    EXPECT_EQ(mainForm->GroupBox2->geometry(), QRect(424, 48, 401, 305)); // nothing moves
}

TEST_F(MainWindowTest, ToolBarMenusAndActions) {
    const struct {
        QToolButton* button;
        int left;
        QAction* action;
    } buttons[] = {
        {mainForm->FilNewTBtn, 0, mainForm->FilNewAct},
        {mainForm->FilOpenTBtn, 23, mainForm->FilOpenAct},
        {mainForm->FilSaveTBtn, 46, mainForm->FilSaveAct},
        {mainForm->ZamekRdTBtn, 77, mainForm->ZamekRdAct},
        {mainForm->ZamekWrTBtn, 100, mainForm->ZamekWrAct},
    };
    for (const auto& b : buttons) {
        EXPECT_EQ(b.button->x(), b.left);
        EXPECT_EQ(b.button->width(), 23);
        EXPECT_EQ(b.button->defaultAction(), b.action);
        EXPECT_EQ(b.button->focusPolicy(), Qt::NoFocus);
    }
    EXPECT_EQ(mainForm->ToolButton1->geometry().x(), 69);
    EXPECT_EQ(mainForm->ToolButton1->width(), 8);
    EXPECT_EQ(mainForm->ToolBar->height(), 29);

    for (int i = 0; i < MainImages::Count; ++i) {
        const QIcon icon = MainImages::image(i);
        ASSERT_FALSE(icon.isNull()) << i;
        EXPECT_FALSE(icon.pixmap(16, 16).toImage().isNull()) << i;
        // The rendered @2x picture is found beside the 1x one, for high-density screens.
        EXPECT_TRUE(icon.availableSizes().contains(QSize(32, 32))) << i;
    }

    // A tool button without a hint shows no tool tip; Qt would show the caption.
    MainWin->show();
    const auto toolTipShown = [](QToolButton* button) {
        QToolTip::hideText();
        QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), button->mapToGlobal(QPoint(5, 5)));
        QCoreApplication::sendEvent(button, &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_EQ(toolTipShown(mainForm->FilNewTBtn), "");
    EXPECT_EQ(toolTipShown(mainForm->ZamekRdTBtn), "Odczytanie danych z zamka");
    QToolTip::hideText();

    // Menu entries are items of their own that follow their actions.
    const QList<QAction*> plik = mainForm->Plik->actions();
    ASSERT_EQ(plik.size(), 4);
    EXPECT_EQ(plik[1]->objectName(), "FilOpenMnu");
    EXPECT_EQ(plik[1]->text(), "&Otwórz");
    EXPECT_EQ(plik[1]->icon().cacheKey(), mainForm->FilOpenAct->icon().cacheKey());
}

TEST_F(MainWindowTest, KoniecIsGreyedAndDoesNothing) {
    showMainWindow();
    mainForm->Plik->popup(QPoint(0, 0));
    EXPECT_FALSE(mainForm->FilExitMnu->isEnabled());
    EXPECT_FALSE(mainForm->FilExitAct->isEnabled());
    mainForm->FilExitMnu->trigger(); // a disabled action does not even run
    mainForm->Plik->close();
    EXPECT_TRUE(MainWin->isVisible());
    // The other entries work through their actions.
    mainForm->T1Edit->setText("7");
    mainForm->FilNewMnu->trigger();
    EXPECT_EQ(mainForm->T1Edit->text(), "255");
}

TEST_F(MainWindowTest, TypingIntoATimeEditKeepsADecimalByte) {
    showMainWindow();
    QLineEdit* edit = mainForm->T1Edit;
    edit->setFocus();
    edit->setText("25");
    edit->setCursorPosition(2);

    QTest::keyClick(edit, Qt::Key_A);
    EXPECT_EQ(edit->text(), "25");
    EXPECT_EQ(edit->cursorPosition(), 2);
    EXPECT_EQ(mainForm->T1Lbl->text(), "= 2,5 sek");

    QTest::keyClick(edit, Qt::Key_6); // 256 is too large: the 6 goes
    EXPECT_EQ(edit->text(), "25");
    EXPECT_EQ(edit->cursorPosition(), 2);

    QTest::keyClick(edit, Qt::Key_3);
    EXPECT_EQ(edit->text(), "253");
    EXPECT_EQ(mainForm->T1Lbl->text(), "= 25,3 sek");
    QTest::keyClick(edit, Qt::Key_4); // a fourth character does not go in
    EXPECT_EQ(edit->text(), "253");

    edit->setText("25");
    edit->setCursorPosition(0);
    QTest::keyClick(edit, Qt::Key_9); // 925: the 9 just before the caret goes
    EXPECT_EQ(edit->text(), "25");
    EXPECT_EQ(edit->cursorPosition(), 0);

    edit->setText("25");
    edit->setCursorPosition(1);
    QTest::keyClick(edit, Qt::Key_Space);
    EXPECT_EQ(edit->text(), "25");
    EXPECT_EQ(edit->cursorPosition(), 1);
}

TEST_F(MainWindowTest, PastingIntoATimeEdit) {
    showMainWindow();
    QLineEdit* edit = mainForm->T2Edit;
    edit->setFocus();
    edit->clear();
    QApplication::clipboard()->setText("1a2");
    edit->paste();
    EXPECT_EQ(edit->text(), "12");
    EXPECT_EQ(edit->cursorPosition(), 2);
    EXPECT_EQ(mainForm->T2Lbl->text(), "= 2min 00sek");

    // Only as much as fits goes in, then the filter and the 256 rule apply.
    edit->clear();
    QApplication::clipboard()->setText("9x87");
    edit->paste();
    EXPECT_EQ(edit->text(), "98");
    edit->selectAll();
    QApplication::clipboard()->setText("999");
    edit->paste();
    EXPECT_EQ(edit->text(), "99");
    EXPECT_EQ(edit->cursorPosition(), 2);
    EXPECT_EQ(mainForm->T2Lbl->text(), "= 16min 30sek");
}

TEST_F(MainWindowTest, ReadingsFollowTheValue) {
    const struct {
        const char* text;
        const char* bolt;
        const char* lockout;
    } cases[] = {{"0", "= 0,0 sek", "= 0min 00sek"},     {"1", "= 0,1 sek", "= 0min 10sek"},
                 {"6", "= 0,6 sek", "= 1min 00sek"},     {"25", "= 2,5 sek", "= 4min 10sek"},
                 {"100", "= 10,0 sek", "= 16min 40sek"}, {"", "= 0,0 sek", "= 0min 00sek"}};
    for (const auto& c : cases) {
        mainForm->T1Edit->setText(c.text);
        mainForm->T3Edit->setText(c.text);
        EXPECT_EQ(mainForm->T1Lbl->text(), c.bolt) << c.text;
        EXPECT_EQ(mainForm->T3Lbl->text(), c.lockout) << c.text;
    }
}

TEST_F(MainWindowTest, LeavingAnEmptyOrZeroTimeMakesItOne) {
    showMainWindow();
    QLineEdit* edit = mainForm->T2Edit;
    edit->setFocus();
    edit->clear();
    EXPECT_EQ(mainForm->T2Lbl->text(), "= 0min 00sek");
    QTest::keyClick(edit, Qt::Key_Tab);
    EXPECT_FALSE(edit->hasFocus());
    EXPECT_EQ(edit->text(), "1");
    EXPECT_EQ(mainForm->T2Lbl->text(), "= 0min 10sek");

    mainForm->T3Edit->setFocus();
    mainForm->T3Edit->setText("00");
    mainForm->CBx3->setFocus(Qt::MouseFocusReason);
    EXPECT_EQ(mainForm->T3Edit->text(), "1");

    mainForm->T1Edit->setFocus();
    mainForm->T1Edit->setText("07");
    QTest::keyClick(mainForm->T1Edit, Qt::Key_Tab);
    EXPECT_EQ(mainForm->T1Edit->text(), "07"); // not zero: left as it is

    // A menu opening does not count as leaving the edit.
    mainForm->T1Edit->setFocus();
    mainForm->T1Edit->clear();
    mainForm->Zamek->popup(QPoint(0, 0));
    EXPECT_EQ(mainForm->T1Edit->text(), "");
    mainForm->Zamek->close();
}

TEST_F(MainWindowTest, CollectTakesFlagsAndTimesOnly) {
    MainWin->bank().image()[0] = 0xC0 | 0x19; // bits 6 and 7 from a file
    MainWin->bank().image()[100] = 0x12;
    MainWin->showConfiguration();
    mainForm->CBx2->setChecked(true);
    mainForm->CBx5->setChecked(false);
    mainForm->T1Edit->setText("");
    mainForm->T2Edit->setText("7");
    mainForm->T3Edit->setText("200");
    MainWin->collectConfiguration();
    EXPECT_EQ(MainWin->bank().image()[0], 0x0B);
    EXPECT_EQ(MainWin->bank().image()[1], 0);
    EXPECT_EQ(MainWin->bank().image()[2], 7);
    EXPECT_EQ(MainWin->bank().image()[3], 200);
    EXPECT_EQ(MainWin->bank().image()[100], 0x12);
}

TEST_F(MainWindowTest, ShowConfigurationFollowsTheImage) {
    V38Bank& bank = MainWin->bank();
    ASSERT_EQ(setEntry(bank.image(), 0, 3, "4567"), 0);
    ASSERT_EQ(setEntry(bank.image(), 14, 15, "1234567"), 0);
    const std::uint8_t activeEmpty[4] = {0x2F, 0x12, 0x34, 0x56};
    std::copy(activeEmpty, activeEmpty + 4, bank.image().entry(99));
    const std::uint8_t card[20] = {0x12, 0x34, 0x56, 0x78, 0x90, 0x12, 0x34, 0x56, 0xD2, 0x51,
                                   0x2F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    std::copy(card, card + 20, bank.image().data() + offset::serviceCards);
    // Card 2 with the longest magnetic text: 37 characters, which the edit shows whole.
    for (int b = 0; b < 20; ++b)
        bank.image()[offset::serviceCards + 20 + b] = b % 5 == 4 ? 0x90 : 0x12 + 0x22 * (b % 5);
    bank.image()[offset::serviceCards + 20 + 19] = 0x99;
    bank.image()[0] = 0xFF;
    bank.image()[1] = 0;
    MainWin->showConfiguration();

    EXPECT_EQ(rowTexts(0), QStringList({"1", "4567", "3", "xx4567..."}));
    EXPECT_EQ(rowTexts(14), QStringList({"15", "1234567", "15", "xxxxxxxxxxxxxx1234567..."}));
    EXPECT_EQ(rowTexts(99), QStringList({"100", "", "3", "xx..."}));
    EXPECT_EQ(rowTexts(1), QStringList({"2", "", "", ""}));
    for (QCheckBox* box : mainForm->GroupBox2->findChildren<QCheckBox*>())
        EXPECT_TRUE(box->isChecked()) << box->objectName().toStdString();
    // Bit 5 switched the card box to the proximity numbers.
    EXPECT_EQ(mainForm->SerwKartBox->title(), " Karty Serwisowe (zbliżeniowe) ");
    EXPECT_EQ(mainForm->K1Edit->text(), "1234567890123456D251");
    EXPECT_EQ(mainForm->K2Edit->text(), "12345678901234567890");
    EXPECT_EQ(mainForm->T1Edit->text(), "0");
    EXPECT_EQ(mainForm->T1Lbl->text(), "= 0,0 sek");

    bank.image()[0] = 0x19;
    MainWin->showConfiguration();
    EXPECT_EQ(mainForm->SerwKartBox->title(), " Karty Serwisowe (magnetyczne) ");
    EXPECT_EQ(mainForm->K1Edit->text(), "1234567890123456=2512");
    EXPECT_EQ(mainForm->K2Edit->text(), "1234567890123456789012345678901234567");
}

TEST_F(MainWindowTest, EqualTextsLeaveCaretSelectionAndUndoAlone) {
    showMainWindow();
    mainForm->T1Edit->setFocus();
    mainForm->T1Edit->setSelection(1, 1);
    mainForm->T2Edit->setCursorPosition(1);
    MainWin->showConfiguration(); // the image holds the times the edits show
    EXPECT_EQ(mainForm->T1Edit->selectedText(), "5");
    EXPECT_EQ(mainForm->T2Edit->cursorPosition(), 1);
    EXPECT_EQ(mainForm->T1Lbl->text(), "= 25,5 sek");

    // What the filter lets through can be undone.
    mainForm->T1Edit->end(false);
    QTest::keyClick(mainForm->T1Edit, Qt::Key_Backspace);
    EXPECT_EQ(mainForm->T1Lbl->text(), "= 2,5 sek");
    QTest::keyClick(mainForm->T1Edit, Qt::Key_Z, Qt::ControlModifier);
    EXPECT_EQ(mainForm->T1Edit->text(), "255");
    EXPECT_EQ(mainForm->T1Lbl->text(), "= 25,5 sek");
}

TEST_F(MainWindowTest, EnterKeysPressTheFocusedKBtn) {
    TempFolder folder;
    qputenv("V38_PORTS", folder.path("no-such-device").toUtf8()); // no lock answers
    showMainWindow();
    mainForm->KBtn->setFocus();
    for (const auto modifier : {Qt::NoModifier, Qt::KeypadModifier}) {
        const Qt::Key key = modifier == Qt::KeypadModifier ? Qt::Key_Enter : Qt::Key_Return;
        const SeenBoxes seen =
            whileAnswering([&] { QTest::keyClick(mainForm->KBtn, key, modifier); });
        EXPECT_EQ(seen.texts, QStringList{"Brak połączenia z Zamkiem."}) << key;
    }
    qunsetenv("V38_PORTS");
}

TEST_F(MainWindowTest, TheFrameIsCentredOnTheDesktopWhenFirstShown) {
    showMainWindow();
    const QRect desktop = MainWin->screen()->availableGeometry();
    const QRect frame = MainWin->frameGeometry();
    ASSERT_NE(frame, MainWin->geometry()) << "the platform draws no frame";
    const QPoint centred = desktop.topLeft() + QPoint((desktop.width() - frame.width()) / 2,
                                                      (desktop.height() - frame.height()) / 2);
    EXPECT_EQ(frame.top(), centred.y());
    // A platform keeps the left edge of a window wider than the desktop on the screen
    // (the offscreen desktop is 800 pixels wide).
    if (frame.width() <= desktop.width()) {
        EXPECT_EQ(frame.left(), centred.x());
    }
    // Afterwards it is shown where it was left.
    MainWin->move(frame.topLeft() + QPoint(30, 20));
    MainWin->hide();
    showMainWindow();
    EXPECT_EQ(MainWin->frameGeometry().topLeft(), frame.topLeft() + QPoint(30, 20));
}

TEST_F(MainWindowTest, CBx6SwitchesTheCardTextsOnly) {
    showMainWindow();
    const ConfigImage before = MainWin->bank().image();
    QTest::mouseClick(mainForm->CBx6, Qt::LeftButton, {}, QPoint(5, 8));
    EXPECT_TRUE(mainForm->CBx6->isChecked());
    EXPECT_EQ(mainForm->SerwKartBox->title(), " Karty Serwisowe (zbliżeniowe) ");
    EXPECT_EQ(mainForm->K1Edit->text(), QString(20, 'F'));
    EXPECT_EQ(MainWin->bank().image(), before);
    QTest::mouseClick(mainForm->CBx6, Qt::LeftButton, {}, QPoint(5, 8));
    EXPECT_EQ(mainForm->SerwKartBox->title(), " Karty Serwisowe (magnetyczne) ");
    EXPECT_EQ(mainForm->K1Edit->text(), "");
    EXPECT_EQ(MainWin->bank().image(), before);
}

TEST_F(MainWindowTest, FocusAndTabOrder) {
    showMainWindow();
    EXPECT_EQ(QApplication::focusWidget(), mainForm->CBx1);
    const QWidget* expected[] = {mainForm->CBx2,   mainForm->CBx3,   mainForm->CBx4,
                                 mainForm->CBx5,   mainForm->T1Edit, mainForm->T2Edit,
                                 mainForm->T3Edit, mainForm->CBx6,   mainForm->PrefLView,
                                 mainForm->KBtn,   mainForm->CBx1};
    for (const QWidget* next : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), next) << next->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, ErrorBoxHasNoIconAndShowsTextAsItIs) {
    QMessageBox* seenBox = nullptr;
    const SeenBoxes seen =
        whileAnswering([this] { MainWin->showError("<b>x</b> %1 %s"); },
                       [&seenBox](QWidget* modal) {
                           seenBox = qobject_cast<QMessageBox*>(modal);
                           ASSERT_NE(seenBox, nullptr);
                           EXPECT_EQ(seenBox->icon(), QMessageBox::NoIcon);
                           EXPECT_EQ(seenBox->textFormat(), Qt::PlainText);
                           EXPECT_EQ(seenBox->windowModality(), Qt::ApplicationModal);
                           EXPECT_EQ(seenBox->buttons().size(), 1);
                           seenBox->button(QMessageBox::Ok)->click();
                       });
    ASSERT_EQ(seen.texts, QStringList{"<b>x</b> %1 %s"});
    EXPECT_EQ(seen.titles, QStringList{" Błąd ! "});
}

} // namespace
} // namespace v38::test
