#ifndef TARVEX_DISPLAY_H
#define TARVEX_DISPLAY_H

// Stores 1 in *reachable and returns "" when a graphical display can be
// reached: the process's window station is visible and gives a device
// context for the screen. Stores 0 and returns a reason otherwise, leaving
// in the last error why: the loader's error when the user-interface library
// could not be loaded, ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION when the
// station is one that nobody sees, 0 when it gave no device context. A
// plain C name, so that a stand-in probe can replace it at link time.
extern "C" __declspec(dllexport) const char* display_available(int* reachable);

#endif
