// Stand-in display probe: wine always has a screen device context, so the
// no-display path can only be reached through this. TARVEX_TEST_DISPLAY
// selects the answer: "none" (no device context), "nolib" (the library
// could not be loaded), "null" (no display, and no message either),
// anything else or unset (a display).
#include "display.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

extern "C" const char* display_available(int* reachable)
{
    const char* answer = std::getenv("TARVEX_TEST_DISPLAY");
    *reachable = 0;
    if (answer && std::strcmp(answer, "none") == 0) {
        SetLastError(ERROR_SUCCESS);
        return "no graphical display found";
    }
    if (answer && std::strcmp(answer, "nolib") == 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return "no graphical display found";
    }
    if (answer && std::strcmp(answer, "null") == 0)
        return nullptr;
    *reachable = 1;
    return "";
}
