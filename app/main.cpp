// The process entry: the thread that enters here is the user-interface
// thread. No command line, and the show command is not passed on (the main
// window's show state is its own).
#include <windows.h>

#include "app/program.h"
#include "app/stack_guard.h"

// Not protected itself: it seeds the canary that protected functions check.
__attribute__((no_stack_protector)) int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR,
                                                                   int) {
  SeedStackGuard();
  return RunProgram();
}
