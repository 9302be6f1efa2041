// The process entry: the thread that enters here is the user-interface
// thread. No command line, and the show command is not passed on (the main
// window's show state is its own).
#include <windows.h>

#include "app/program.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return RunProgram(); }
