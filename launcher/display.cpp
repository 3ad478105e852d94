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

template <class Function>
Function entry_point(HMODULE library, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

// Services, remote shells and CI agents run in window stations that nobody
// sees, where a device context is handed out all the same: only the
// visible station has a screen that someone looks at. Where its flags
// cannot be read, the device context alone decides, as before.
bool station_unseen(HMODULE user32)
{
    using get_station_function = HWINSTA(WINAPI*)();
    using get_information_function = BOOL(WINAPI*)(HANDLE, int, void*, DWORD, DWORD*);
    const auto get_station = entry_point<get_station_function>(user32, "GetProcessWindowStation");
    const auto get_information = entry_point<get_information_function>(user32, "GetUserObjectInformationW");
    if (get_station == nullptr || get_information == nullptr)
        return false;
    HWINSTA station = get_station();
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    if (station == nullptr || !get_information(station, UOI_FLAGS, &flags, sizeof flags, &needed))
        return false;
    return (flags.dwFlags & WSF_VISIBLE) == 0;
}

} // namespace

// A display is one that somebody can see: the window station is visible
// and gives a device context for the whole screen. The device context is
// deliberately kept: the launcher's process ends soon after. Without a
// display the last error tells why, for the trace: the loader's reason,
// ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION for an unseen station, or none
// when the library gave no device context.
extern "C" const char* display_available(int* reachable)
{
    *reachable = 0;
    HMODULE user32 = load_user_interface_library();
    if (user32 == nullptr)
        return "no graphical display found";
    if (station_unseen(user32)) {
        SetLastError(ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION);
        return "no graphical display found";
    }
    const auto get_dc = entry_point<get_dc_function>(user32, "GetDC");
    if (get_dc == nullptr)
        return "no graphical display found";
    if (get_dc(nullptr) == nullptr) {
        SetLastError(ERROR_SUCCESS);
        return "no graphical display found";
    }
    *reachable = 1;
    return "";
}
