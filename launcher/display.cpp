#include "display.h"

#include <windows.h>

// A device context for the whole screen exists only where a display does.
// It is deliberately kept: the launcher's process ends soon after.
extern "C" const char* display_available(int* reachable)
{
    *reachable = 0;
    if (GetDC(nullptr) == nullptr)
        return "no graphical display found";
    *reachable = 1;
    return "";
}
