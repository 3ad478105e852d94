#ifndef TARVEX_DISPLAY_H
#define TARVEX_DISPLAY_H

// Stores 1 in *reachable and returns "" when a graphical display can be
// reached; stores 0 and returns a reason otherwise, leaving in the last
// error why: the loader's error when the user-interface library could not
// be loaded, 0 when it gave no device context. A plain C name, so that a
// stand-in probe can replace it at link time.
extern "C" __declspec(dllexport) const char* display_available(int* reachable);

#endif
