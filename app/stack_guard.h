// The canary of the shipped program's stack protection (-fstack-protector-
// strong). The runtime's own support library would seed it through
// ADVAPI32's random source; these few lines keep the program to its system
// DLLs. User-interface thread, before anything protected runs.
#pragma once

// Seeds the canary. Must be called from a function that is not itself
// protected (its frame would otherwise carry the old value), before any
// protected function has been entered: the process entry does it first.
void SeedStackGuard();
