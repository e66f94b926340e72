#include "Startup.h"

#include "Application.h"

#include "TraceFile.h"

#include <cstdlib>
#include <exception>
#include <memory>
#include <string>

namespace v38 {

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
    std::unique_ptr<Windows> windows;
    int exitCode = 0;
    try {
        windows = std::make_unique<Windows>();
        if (trace && trace->isOpen())
            windows->MainWin.bank().setTrace(trace.get());
        windows->MainWin.show();
        exitCode = application.exec();
    } catch (const std::exception& error) {
        showException(exceptionMessage(error));
        exitCode = 0;
    } catch (...) {
        showException(QStringLiteral("Nieznany wyjątek."));
        exitCode = 0;
    }
    return exitCode;
}

} // namespace v38
