#include "aside.h"

#include <windows.h>
#include <io.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// How many descriptors the caller's C runtime handed on: the count that
// opens the block it passes in the start-up information, trusted no further
// than the block reaches. At least the three standard ones.
int inherited_descriptor_count()
{
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoW(&startup);
    int count = 0;
    if (startup.lpReserved2 == nullptr || startup.cbReserved2 < sizeof count)
        return 3;
    std::memcpy(&count, startup.lpReserved2, sizeof count);
    const int room = static_cast<int>((startup.cbReserved2 - sizeof count) / (1 + sizeof(HANDLE)));
    return std::max(3, std::min(count, room));
}

// A console, or the null device, holds nothing that anyone waits on.
bool holds_pipe_or_file(HANDLE handle)
{
    const DWORD type = GetFileType(handle);
    return type == FILE_TYPE_PIPE || type == FILE_TYPE_DISK;
}

bool is_open(HANDLE handle)
{
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

bool is_handle(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

bool among(const std::vector<HANDLE>& handles, HANDLE handle)
{
    return std::find(handles.begin(), handles.end(), handle) != handles.end();
}

// Each handle is closed once: through its descriptor where it has one (the
// runtime then forgets it too), else directly. A handle that a descriptor's
// closing has already closed is never closed again. The runtime itself
// closes a handle that standard output and error share only once.
void release_inherited_handles(bool keep_error)
{
    std::vector<HANDLE> kept;
    if (keep_error) {
        kept.push_back(GetStdHandle(STD_ERROR_HANDLE));
        kept.push_back(reinterpret_cast<HANDLE>(_get_osfhandle(2))); // NOLINT(performance-no-int-to-ptr)
    }
    std::vector<HANDLE> closed;
    for (int fd = inherited_descriptor_count() - 1; fd >= 0; --fd) {
        const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(fd)); // NOLINT(performance-no-int-to-ptr)
        if (!is_handle(handle) || among(kept, handle) || among(closed, handle))
            continue;
        if (fd < 3 && !holds_pipe_or_file(handle))
            continue;
        _close(fd);
        if (!is_open(handle))
            closed.push_back(handle);
    }
    for (const DWORD which : {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
        const HANDLE handle = GetStdHandle(which);
        if (!is_handle(handle) || among(kept, handle))
            continue;
        if (!among(closed, handle)) {
            if (!holds_pipe_or_file(handle))
                continue;
            CloseHandle(handle);
            closed.push_back(handle);
        }
        SetStdHandle(which, nullptr);
    }
}

// The system directory is never removed, so standing in it holds nothing
// of anyone's.
void leave_current_directory()
{
    wchar_t directory[MAX_PATH];
    const UINT length = GetSystemDirectoryW(directory, MAX_PATH);
    if (length > 0 && length < MAX_PATH)
        SetCurrentDirectoryW(directory);
}

} // namespace

void stand_aside(bool keep_error)
{
    release_inherited_handles(keep_error);
    leave_current_directory();
}
