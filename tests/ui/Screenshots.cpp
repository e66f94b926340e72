// Writes a picture of each window to the folder given as the first argument, for
// checking the layout by eye and for the README. Optional second argument: a
// configuration file to show in the main window.
#include "Application.h"
#include "Startup.h"

#include <QDir>
#include <QMessageBox>
#include <QTimer>

using namespace v38;

namespace {

void save(QWidget* window, const QString& folder, const QString& name) {
    window->show();
    QApplication::processEvents();
    window->grab().save(QDir(folder).filePath(name));
}

} // namespace

int main(int argc, char** argv) {
    Application application(argc, argv);
    if (argc < 2)
        return 2;
    const QString folder = QString::fromLocal8Bit(argv[1]);
    Windows windows;
    if (argc > 2)
        windows.MainWin.loadFile(QString::fromLocal8Bit(argv[2]));
    save(&windows.MainWin, folder, QStringLiteral("main.png"));
    windows.PrefEdit.showPrefix(3, QStringLiteral("4567"));
    save(&windows.PrefEdit, folder, QStringLiteral("prefedit.png"));
    windows.ProgrWin.start(QStringLiteral("Odczyt w toku."));
    windows.ProgrWin.showBlock(4);
    save(&windows.ProgrWin, folder, QStringLiteral("progr.png"));
    save(&windows.HelpWin, folder, QStringLiteral("opis.png"));
    save(&windows.AboutBox, folder, QStringLiteral("about.png"));
    QTimer::singleShot(200, [folder] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            box->grab().save(QDir(folder).filePath(QStringLiteral("error.png")));
            box->close();
        }
    });
    windows.MainWin.showFileError(QStringLiteral("/home/serwis/konfiguracje/bank-ąęł.bin"));
    return 0;
}
