#pragma once

#include "ConfigImage.h"
#include "Startup.h"

// The types of the forms' controls, which every test works.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QString>
#include <QStringList>
#include <QToolButton>
#include <QTreeWidget>

#include <functional>
#include <memory>
#include <optional>

#include <gtest/gtest.h>

namespace v38::test {

// A control of `window` found by its object name, as its form names it; the controls of
// the window's dialogs do not count. Throws unless exactly one of them has that name
// and type.
QObject* findControl(const QWidget& window, const char* name, const QMetaObject& type);
template <class T> T* control(const QWidget& window, const char* name) {
    return static_cast<T*>(findControl(window, name, T::staticMetaObject));
}

// The controls of each window that the tests work, each found by the name of its field.
struct MainWinForm {
    explicit MainWinForm(const QWidget& window);
    QWidget *ClientArea, *ToolBar;
    QToolButton *FilNewTBtn, *FilOpenTBtn, *FilSaveTBtn, *ZamekRdTBtn, *ZamekWrTBtn;
    QWidget* ToolButton1; // the separator
    QMenu *Plik, *Zamek;
    QAction *FilNewAct, *FilOpenAct, *FilSaveAct, *FilExitAct, *ZamekRdAct, *ZamekWrAct, *HlpHlpAct,
        *HlpAboutAct, *FilNewMnu, *FilExitMnu;
    QTreeWidget* PrefLView;
    QGroupBox *GroupBox2, *SerwKartBox;
    QCheckBox *CBx1, *CBx2, *CBx3, *CBx4, *CBx5, *CBx6;
    QLineEdit *T1Edit, *T2Edit, *T3Edit, *K1Edit, *K2Edit;
    QLabel *T1Lbl, *T2Lbl, *T3Lbl;
    QPushButton* KBtn;
};

struct PrefEditForm {
    explicit PrefEditForm(const QWidget& window);
    QLineEdit* PrefEdt;
    QComboBox* PozCBox;
    QPushButton *OKBtn, *CancelBtn;
};

struct AboutBoxForm {
    explicit AboutBoxForm(const QWidget& window);
    QWidget* Bevel;
    QLabel *VestibarLab, *CopyLab, *WwwLab, *Image1;
    QPushButton* OKButton;
};

struct HelpWinForm {
    explicit HelpWinForm(const QWidget& window);
    QPlainTextEdit* Opis;
};

struct ProgrWinForm {
    explicit ProgrWinForm(const QWidget& window);
    QLabel* Label;
    QProgressBar* TrProgrBar;
};

// The five windows, created and destroyed exactly as the program does.
class WindowsTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Shows the main window and makes it the active one, as after start-up.
    void showMainWindow();
    // The screen texts of row i of the prefix list: "Nr", "Prefiks", "Pozycja", "Karta".
    QStringList rowTexts(int i) const;

    std::unique_ptr<Windows> windows_;
    TMainWin* MainWin = nullptr;
    TPrefEdit* PrefEdit = nullptr;
    TAboutBox* AboutBox = nullptr;
    THelpWin* HelpWin = nullptr;
    TProgrWin* ProgrWin = nullptr;
    std::optional<MainWinForm> mainForm;
    std::optional<PrefEditForm> prefForm;
    std::optional<AboutBoxForm> aboutForm;
    std::optional<HelpWinForm> helpForm;
    std::optional<ProgrWinForm> progrForm;
};

// What the modal boxes shown during a step said.
struct SeenBoxes {
    QStringList titles;
    QStringList texts;
};

// Runs `step`; every modal box it opens is answered by `answer` (by default: its OK
// button, or closing it) once it is on the screen. Returns what the boxes said.
SeenBoxes whileAnswering(const std::function<void()>& step,
                         const std::function<void(QWidget*)>& answer = {});

// Runs `step` while every file dialog it opens is given `name` and confirmed.
SeenBoxes choosingFile(const QString& name, const std::function<void()>& step);

// A temporary folder for the test's files, removed with the object.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    QString path(const QString& name) const;

private:
    QString root_;
};

QByteArray readAll(const QString& path);
void writeAll(const QString& path, const QByteArray& bytes);
QByteArray fileBytes(const ConfigImage& image); // image + its crc16

} // namespace v38::test
