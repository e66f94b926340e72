#pragma once

#include "ConfigFile.h"
#include "V38Bank.h"

#include <QMainWindow>

#include <array>
#include <memory>
#include <string>
#include <utility>

class QCheckBox;
class QFileDialog;
class QLabel;
class QLineEdit;

namespace Ui {
class TMainWin;
}

namespace v38 {

struct Windows;

// The configurator's working surface: the prefix list, the flags, the times and the
// service cards of the one configuration image, the menu, the tool bar and the
// commands that move the image between the screen, files and the lock.
class TMainWin : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int ClientWidth = 844;
    static constexpr int ClientHeight = 552;

    // Made first of `windows`; it reaches the dialogs only once they are all made.
    explicit TMainWin(Windows& windows);
    ~TMainWin() override;

    // The lock and the configuration image; everything on the screen shows its bytes.
    V38Bank& bank() { return bank_; }

    void showError(const QString& text);
    void showRow(int i);
    void showServiceCards();
    void showConfiguration();
    void collectConfiguration();
    void resetConfiguration();
    QString magneticCardText(int k) const;
    QString proximityCardText(int k) const;

    // Configuration files.
    void showFileError(const QString& name);
    void showFileStatus(const QString& name, FileStatus status,
                        const FileDetails& details = FileDetails());
    void showLeftoverCopy(const FileDetails& details);
    void loadFile(const QString& name);
    void saveFile(const QString& name);

    // Lock transfers.
    void showNoConnection();
    void showCommError();
    void readFromLock();
    void writeToLock();

public slots:
    void FilNewActExecute();
    void FilOpenActExecute();
    void FilSaveActExecute();
    void ZamekRdActExecute();
    void ZamekWrActExecute();
    void HlpHlpActExecute();
    void HlpAboutActExecute();
    void PrefLViewDblClick();
    void T1EditChange();
    void T2EditChange();
    void T3EditChange();
    void T1EditExit(QLineEdit* sender);
    void CBx6Click();
    void KBtnClick();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    using FlagBoxes = std::array<std::pair<QCheckBox*, Flag>, 6>;
    FlagBoxes flagBoxes() const;
    void setUpActions();
    void setUpList();
    QFileDialog& openDialog();
    QFileDialog& saveDialog();
    void timeEditChange(QLineEdit& edit, QLabel& reading, std::string (*format)(int));
    // The image the screen shows, kept by the bank.
    ConfigImage& image() { return bank_.image(); }

    std::unique_ptr<Ui::TMainWin> ui_;
    Windows& windows_;
    V38Bank bank_;
    // Made on first use; see openDialog and saveDialog.
    QFileDialog* FilOpenDlg = nullptr;
    QFileDialog* FilSaveDlg = nullptr;
    bool placed_ = false; // centred by its first showing
};

} // namespace v38
