#include "Startup.h"

#include "Application.h"
#include "about.h"
#include "main.h"
#include "opis.h"
#include "prefedit.h"
#include "progr.h"

#include <exception>

namespace v38 {

void createWindows() {
    MainWin = new TMainWin();
    PrefEdit = new TPrefEdit(MainWin);
    AboutBox = new TAboutBox(MainWin);
    HelpWin = new THelpWin(MainWin);
    ProgrWin = new TProgrWin(MainWin);
}

void destroyWindows() {
    delete MainWin; // the dialogs go with it
    MainWin = nullptr;
    PrefEdit = nullptr;
    AboutBox = nullptr;
    HelpWin = nullptr;
    ProgrWin = nullptr;
}

int runVestibar(int argc, char** argv) {
    Application application(argc, argv);
    int exitCode = 0;
    try {
        createWindows();
        MainWin->show();
        exitCode = application.exec();
    } catch (const std::exception& error) {
        showException(exceptionMessage(error));
        exitCode = 0;
    } catch (...) {
        showException(QStringLiteral("Nieznany wyjątek."));
        exitCode = 0;
    }
    destroyWindows();
    return exitCode;
}

} // namespace v38
