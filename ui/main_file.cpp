// The main window's configuration-file commands.
#include "main.h"

#include "ConfigFile.h"
#include "FileMessages.h"

#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <filesystem>

namespace v38 {

namespace {

std::filesystem::path toPath(const QString& name) {
#ifdef _WIN32
    return std::filesystem::path(name.toStdWString());
#else
    return std::filesystem::path(QFile::encodeName(name).toStdString());
#endif
}

// Shows a file dialog offering the name last chosen in it; empty when cancelled.
QString chooseFile(QFileDialog& dialog) {
    const QString last = dialog.property("lastName").toString();
    if (!last.isEmpty())
        dialog.selectFile(last);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    const QString chosen = dialog.selectedFiles().value(0);
    dialog.setProperty("lastName", chosen);
    return chosen;
}

} // namespace

// The dialogs are made when first needed: building one takes longer than the rest of
// the start-up, and each keeps its state (the last name chosen) once it exists.
QFileDialog& TMainWin::openDialog() {
    if (FilOpenDlg)
        return *FilOpenDlg;
    const QString binary = QStringLiteral("bin");
    FilOpenDlg = new QFileDialog(this);
    FilOpenDlg->setObjectName(QStringLiteral("FilOpenDlg"));
    FilOpenDlg->setAcceptMode(QFileDialog::AcceptOpen);
    // A name of a missing file is accepted; loading it then says it cannot be opened.
    FilOpenDlg->setFileMode(QFileDialog::AnyFile);
    FilOpenDlg->setNameFilter(QStringLiteral("Pliki binarne (*.bin)"));
    FilOpenDlg->setDefaultSuffix(binary);
    return *FilOpenDlg;
}

QFileDialog& TMainWin::saveDialog() {
    if (FilSaveDlg)
        return *FilSaveDlg;
    FilSaveDlg = new QFileDialog(this);
    FilSaveDlg->setObjectName(QStringLiteral("FilSaveDlg"));
    FilSaveDlg->setAcceptMode(QFileDialog::AcceptSave);
    FilSaveDlg->setFileMode(QFileDialog::AnyFile);
    FilSaveDlg->setDefaultSuffix(QStringLiteral("bin"));
    FilSaveDlg->setOption(QFileDialog::DontConfirmOverwrite);
    return *FilSaveDlg;
}

void TMainWin::FilOpenActExecute() {
    const QString name = chooseFile(openDialog());
    if (!name.isEmpty())
        loadFile(name);
}

void TMainWin::FilSaveActExecute() {
    const QString name = chooseFile(saveDialog());
    if (!name.isEmpty())
        saveFile(name);
}

// Shown as the system writes names: with backslashes on Windows.
void TMainWin::showFileError(const QString& name) {
    showFileStatus(name, FileStatus::CannotOpen);
}

// The window's own message as the text of the box; the system's reason, when there is one,
// under it in Polish, as every text of the window is.
void TMainWin::showFileStatus(const QString& name, FileStatus status, const FileDetails& details) {
    const QByteArray shown = QDir::toNativeSeparators(name).toUtf8();
    const QString text = QString::fromStdString(fileStatusMessage(status, shown.toStdString()));
    const QString reason =
        QString::fromStdString(details.refusal == FileRefusal::CopyInTheWay
                                   ? leftoverCopyMessage(details)
                                   : fileFailureReason(details, TextLanguage::Polish));
    if (reason.isEmpty()) {
        showError(text);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral(" Błąd ! "), text, QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("ErrorBox"));
    box.setTextFormat(Qt::PlainText);
    box.setInformativeText(reason);
    // A name is shown as it is, never as markup, under the text too.
    if (auto* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        label->setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.button(QMessageBox::Ok)->setIcon(QIcon());
    box.exec();
}

// A copy an interrupted save left beside the file: what it is and what to do with it,
// each time the file is opened or saved while it is there.
void TMainWin::showLeftoverCopy(const FileDetails& details) {
    if (details.leftoverCopy.empty() || details.refusal == FileRefusal::CopyInTheWay)
        return;
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral(" Uwaga ! "),
                    QString::fromStdString(leftoverCopyMessage(details)), QMessageBox::Ok, this);
    box.setObjectName(QStringLiteral("LeftoverCopyBox"));
    box.setTextFormat(Qt::PlainText);
    box.setWindowModality(Qt::ApplicationModal);
    box.button(QMessageBox::Ok)->setIcon(QIcon());
    box.exec();
}

void TMainWin::loadFile(const QString& name) {
    FileDetails details;
    const FileStatus status = readConfigFile(toPath(name), image(), &details);
    if (status == FileStatus::Ok)
        showConfiguration();
    else
        showFileStatus(name, status, details);
    showLeftoverCopy(details);
}

void TMainWin::saveFile(const QString& name) {
    collectConfiguration(); // also when the file then cannot be written
    FileDetails details;
    if (const FileStatus status = writeConfigFile(toPath(name), image(), &details);
        status != FileStatus::Ok)
        showFileStatus(name, status, details);
    showLeftoverCopy(details);
}

} // namespace v38
