#pragma once

#include "about.h"
#include "main.h"
#include "opis.h"
#include "prefedit.h"
#include "progr.h"

namespace v38 {

// The program's five windows, made hidden at start-up in their fixed order and kept
// until it ends. The dialogs are children of the main window, which they are centred
// over; being destroyed first, each leaves it before it goes.
struct Windows {
    TMainWin MainWin{*this};
    TPrefEdit PrefEdit{&MainWin};
    TAboutBox AboutBox{&MainWin};
    THelpWin HelpWin{&MainWin};
    TProgrWin ProgrWin{&MainWin};
};

// The whole program: the application, the windows and the message loop. An exception
// from the start-up is shown and the program ends with 0.
int runVestibar(int argc, char** argv);

} // namespace v38
