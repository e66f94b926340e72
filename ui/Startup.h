#pragma once

namespace v38 {

// Creates the five windows, hidden, in their fixed order: MainWin, PrefEdit,
// AboutBox, HelpWin, ProgrWin. The dialogs are owned by the main window.
void createWindows();
// Destroys the five windows and clears the application-wide instances.
void destroyWindows();

// The whole program: the application, the windows and the message loop. An exception
// from the start-up is shown and the program ends with 0.
int runVestibar(int argc, char** argv);

} // namespace v38
