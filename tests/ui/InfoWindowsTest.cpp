// The description and about windows, and the default exception display.
#include "UiTestSupport.h"

#include "Application.h"
#include "FormDialog.h"
#include "about.h"
#include "opis.h"
#include "prefedit.h"
#include "progr.h"

#include <QApplication>
#include <QMessageBox>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <stdexcept>

namespace v38::test {
namespace {

using InfoWindowsTest = WindowsTest;

TEST_F(InfoWindowsTest, StartUpCreatesFiveHiddenWindowsOwnedByTheMainWindow) {
    EXPECT_EQ(PrefEdit->objectName(), "PrefEdit");
    EXPECT_EQ(AboutBox->objectName(), "AboutBox");
    EXPECT_EQ(HelpWin->objectName(), "HelpWin");
    EXPECT_EQ(ProgrWin->objectName(), "ProgrWin");
    // Children in order of creation: the dialogs came in the fixed order.
    QList<QWidget*> dialogs;
    for (QObject* child : MainWin->children())
        if (auto* dialog = qobject_cast<FormDialog*>(child))
            dialogs << dialog;
    EXPECT_EQ(dialogs, (QList<QWidget*>{PrefEdit, AboutBox, HelpWin, ProgrWin}));
    for (QWidget* w : QList<QWidget*>{MainWin, PrefEdit, AboutBox, HelpWin, ProgrWin})
        EXPECT_FALSE(w->isVisible()) << w->objectName().toStdString();
}

TEST_F(InfoWindowsTest, TheDescriptionHasItsFixedLayout) {
    const QStringList lines = helpForm->Opis->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 83);
    EXPECT_EQ(lines[0], "");
    EXPECT_EQ(lines[1], "\t\t\t\t  Vestibar_V38");
    EXPECT_EQ(lines[2], "\t\t\t\t" + QString(15, '='));
    EXPECT_EQ(lines[3], "");
    EXPECT_EQ(lines[4], "");
    EXPECT_FALSE(lines[5].isEmpty());
    EXPECT_FALSE(lines[6].isEmpty());
    const QStringList headings = {"Akceptowane karty", "Konfiguracja zamka", "Karty serwisowe",
                                  "Komunikacja z zamkiem", "Przechowywanie konfiguracji na dysku"};
    QList<int> at;
    for (const QString& heading : headings) {
        at << lines.indexOf(heading, at.isEmpty() ? 7 : at.last());
        ASSERT_GT(at.last(), 0) << heading.toStdString();
    }
    at << lines.size() + 2; // as if a sixth section followed the last line
    for (int h = 0; h < headings.size(); ++h) {
        const int i = at[h];
        EXPECT_TRUE(lines[i - 1].isEmpty() && lines[i - 2].isEmpty() && !lines[i - 3].isEmpty())
            << "two empty lines before " << headings[h].toStdString();
        EXPECT_EQ(lines[i + 1], QString(headings[h].size(), '='));
        EXPECT_EQ(lines[i + 2], "");
        // Paragraphs of prose, separated by single empty lines.
        const int first = i + 3, last = at[h + 1] - 3;
        ASSERT_LE(first, last);
        EXPECT_FALSE(lines[first].isEmpty());
        EXPECT_FALSE(lines[last].isEmpty());
        for (int k = first; k < last; ++k)
            EXPECT_FALSE(lines[k].isEmpty() && lines[k + 1].isEmpty()) << "line " << k + 1;
    }
    EXPECT_FALSE(lines.last().isEmpty());
    EXPECT_EQ(lines.filter(QRegularExpression("^\\[ \\] ")).size(), 5);
}

TEST_F(InfoWindowsTest, TheDescriptionOpensModallyAndKeepsItsPlace) {
    showMainWindow();
    int scrolled = -1;
    whileAnswering([this] { mainForm->HlpHlpAct->trigger(); },
                   [&](QWidget* modal) {
                       ASSERT_EQ(modal, HelpWin);
                       EXPECT_EQ(QApplication::focusWidget(), helpForm->Opis);
                       QTest::keyClicks(helpForm->Opis, "abc"); // typing changes nothing
                       helpForm->Opis->verticalScrollBar()->setValue(20);
                       HelpWin->move(HelpWin->pos() + QPoint(30, 20));
                       modal->close();
                   });
    const QPoint left = HelpWin->pos();
    whileAnswering([this] { mainForm->HlpHlpAct->trigger(); },
                   [&](QWidget* modal) {
                       scrolled = helpForm->Opis->verticalScrollBar()->value();
                       EXPECT_EQ(HelpWin->pos(), left);
                       modal->close();
                   });
    EXPECT_EQ(scrolled, 20);
    EXPECT_EQ(helpForm->Opis->toPlainText().split('\n').size(), 83);
}

TEST_F(InfoWindowsTest, TheAboutBoxClosesWithOkEnterOrItsCloseBox) {
    EXPECT_LE(aboutForm->VestibarLab->sizeHint().width(), aboutForm->VestibarLab->width());
    EXPECT_FALSE(aboutForm->Image1->pixmap().isNull());
    for (QLabel* label : {aboutForm->CopyLab, aboutForm->WwwLab})
        EXPECT_LE(label->geometry().right(), aboutForm->Bevel->geometry().right())
            << label->text().toStdString();
    const ConfigImage before = MainWin->bank().image();
    const std::function<void(QWidget*)> ways[] = {
        [this](QWidget*) { aboutForm->OKButton->click(); },
        [this](QWidget*) { QTest::keyClick(AboutBox, Qt::Key_Return); },
        [](QWidget* modal) { modal->close(); },
    };
    for (const auto& way : ways) {
        bool opened = false;
        whileAnswering([this] { mainForm->HlpAboutAct->trigger(); },
                       [&](QWidget* modal) {
                           opened = modal == AboutBox;
                           way(modal);
                       });
        EXPECT_TRUE(opened);
        EXPECT_FALSE(AboutBox->isVisible());
    }
    EXPECT_EQ(MainWin->bank().image(), before);
}

TEST_F(InfoWindowsTest, ProgressWindowHasNoCloseBox) {
    EXPECT_FALSE(ProgrWin->windowFlags() & Qt::WindowCloseButtonHint);
    ProgrWin->show();
    ProgrWin->close();
    EXPECT_TRUE(ProgrWin->isVisible()); // only the transfer hides it
    ProgrWin->hide();
}

// An object whose event handler lets an exception escape.
class Throwing : public QObject {
public:
    bool event(QEvent* event) override {
        if (event->type() == QEvent::User)
            throw std::runtime_error("Coś poszło źle");
        return QObject::event(event);
    }
};

TEST_F(InfoWindowsTest, AnEscapedExceptionIsShownAndTheLoopGoesOn) {
    Throwing throwing;
    bool loopWentOn = false;
    const SeenBoxes seen = whileAnswering([&] {
        QCoreApplication::postEvent(&throwing, new QEvent(QEvent::User));
        QTimer::singleShot(300, [&] { loopWentOn = true; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return loopWentOn; }, 5000));
    });
    EXPECT_EQ(seen.texts, QStringList{"Coś poszło źle"});
    EXPECT_TRUE(loopWentOn);
}

} // namespace
} // namespace v38::test
