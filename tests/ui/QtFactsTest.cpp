// The Qt behaviours the windows are built on. If one of these changes with a Qt
// version, the windows' handlers must change with it.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDialog>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <gtest/gtest.h>

namespace {

TEST(QtFacts, LineEditTextChangedOnlyForADifferentTextAndSetTextMovesTheCursor) {
    QLineEdit edit;
    QSignalSpy changed(&edit, &QLineEdit::textChanged);
    edit.setText("12");
    EXPECT_EQ(changed.count(), 1);
    edit.setCursorPosition(0);
    edit.setText("12");
    EXPECT_EQ(changed.count(), 0 + 1);   // same text: nothing
    EXPECT_EQ(edit.cursorPosition(), 2); // but the cursor went to the end
    // Without a selection selectionStart() is -1: the caret stands for it.
    EXPECT_EQ(edit.selectionStart(), -1);
}

TEST(QtFacts, MaxLengthCutsTypingAndPastingToWhatFits) {
    QLineEdit edit;
    edit.setMaxLength(3);
    edit.show();
    edit.setText("12");
    edit.setCursorPosition(0);
    QApplication::clipboard()->setText("345");
    edit.paste();
    EXPECT_EQ(edit.text(), "312"); // only as much of the pasted text as fits
    QTest::keyClick(&edit, Qt::Key_9);
    EXPECT_EQ(edit.text(), "312");
}

TEST(QtFacts, CheckBoxSetCheckedTogglesButNeverClicks) {
    QCheckBox box;
    QSignalSpy toggled(&box, &QCheckBox::toggled);
    QSignalSpy clicked(&box, &QCheckBox::clicked);
    box.setChecked(true);
    box.setChecked(true);
    box.setChecked(false);
    EXPECT_EQ(toggled.count(), 2);
    EXPECT_EQ(clicked.count(), 0);
}

TEST(QtFacts, FocusLeavesAnEditWithAPopupReasonWhenAMenuOpens) {
    QWidget window;
    auto* edit = new QLineEdit(&window);
    window.show();
    QApplication::setActiveWindow(&window);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    edit->setFocus();
    struct Recorder : QObject {
        QList<Qt::FocusReason> reasons;
        bool eventFilter(QObject*, QEvent* e) override {
            if (e->type() == QEvent::FocusOut)
                reasons << static_cast<QFocusEvent*>(e)->reason();
            return false;
        }
    } recorder;
    edit->installEventFilter(&recorder);
    QMenu menu;
    menu.addAction("x");
    menu.popup(window.mapToGlobal(QPoint(0, 0)));
    QTest::qWait(20);
    menu.close();
    ASSERT_FALSE(recorder.reasons.isEmpty());
    EXPECT_EQ(recorder.reasons.first(), Qt::PopupFocusReason);
}

TEST(QtFacts, AutoDefaultOffButtonsDoNotTakeEnterThemselves) {
    QDialog dialog;
    auto* button = new QPushButton("OK", &dialog);
    button->setAutoDefault(false);
    QSignalSpy clicked(button, &QPushButton::clicked);
    dialog.show();
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Return);
    EXPECT_EQ(clicked.count(), 0); // TPrefEdit presses the focused button itself
}

TEST(QtFacts, DialogRecentresOnEveryShowUnlessMoved) {
    QWidget owner;
    owner.setGeometry(100, 100, 400, 300);
    owner.show();
    QDialog dialog(&owner);
    dialog.resize(100, 100);
    dialog.show();
    const QPoint centred = dialog.pos();
    dialog.move(centred + QPoint(40, 40));
    dialog.hide();
    dialog.setAttribute(Qt::WA_Moved, false); // as after a move by the user
    dialog.show();
    EXPECT_EQ(dialog.pos(), centred); // FormDialog marks itself placed when hidden
}

TEST(QtFacts, ToolButtonShowsTheCaptionWhenTheActionHasNoToolTip) {
    QAction action("&Nowy");
    QToolButton button;
    button.setDefaultAction(&action);
    EXPECT_EQ(button.toolTip(), "Nowy"); // hence the tool-tip filter of the main window
}

} // namespace
