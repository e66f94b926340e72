#include "Startup.h"

#include "Application.h"
#include "about.h"
#include "main.h"
#include "opis.h"
#include "prefedit.h"
#include "progr.h"

#include "TraceFile.h"

#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

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
    // V38_TRACE=FILE: the link's trace for support, as v38ctl's --trace writes it, the
    // service cards shown only with V38_TRACE_SHOW_CARDS=1. It outlives the windows, so
    // that it sees the port closed at the end.
    std::unique_ptr<TraceFile> trace;
    if (const char* path = std::getenv("V38_TRACE"); path && *path) {
        const char* show = std::getenv("V38_TRACE_SHOW_CARDS");
        trace = std::make_unique<TraceFile>(path, "vestibar", show && std::string(show) == "1");
    }
    int exitCode = 0;
    try {
        createWindows();
        if (trace && trace->isOpen())
            MainWin->bank().setTrace(trace.get());
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
