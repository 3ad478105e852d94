#include "display.h"

#include <windows.h>

#include <cstring>
#include <iterator>

namespace {

using get_dc_function = HDC(WINAPI*)(HWND);

// The user-interface library is loaded here, when the probe runs, rather
// than imported: importing it alone makes every start markedly slower, the
// command-line path included. It comes from the system directory only, so
// that nothing placed beside the launcher can stand in for it.
HMODULE load_user_interface_library()
{
    HMODULE user32 = LoadLibraryExA("user32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (user32 != nullptr)
        return user32;
    // Vista and Windows 7 without KB2533623 refuse the search flag outright:
    // name the file in the system directory by its full path instead.
    wchar_t path[MAX_PATH];
    const wchar_t file[] = L"\\user32.dll";
    const UINT length = GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + std::size(file) > MAX_PATH) {
        SetLastError(ERROR_BUFFER_OVERFLOW);
        return nullptr;
    }
    std::memcpy(path + length, file, sizeof file);
    return LoadLibraryW(path);
}

get_dc_function user_interface_get_dc()
{
    HMODULE user32 = load_user_interface_library();
    if (user32 == nullptr)
        return nullptr;
    return reinterpret_cast<get_dc_function>(
        reinterpret_cast<void (*)()>(GetProcAddress(user32, "GetDC")));
}

} // namespace

// A device context for the whole screen exists only where a display does.
// It is deliberately kept: the launcher's process ends soon after. Without
// a display the last error tells why, for the trace: the loader's reason,
// or none when the library gave no device context.
extern "C" const char* display_available(int* reachable)
{
    *reachable = 0;
    const get_dc_function get_dc = user_interface_get_dc();
    if (get_dc == nullptr)
        return "no graphical display found";
    if (get_dc(nullptr) == nullptr) {
        SetLastError(ERROR_SUCCESS);
        return "no graphical display found";
    }
    *reachable = 1;
    return "";
}
