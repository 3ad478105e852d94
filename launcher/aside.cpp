#include "aside.h"

#include "trace.h"

#include <io.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace {

// How many descriptors the caller's C runtime listed: the count that
// opens the block it passes in the start-up information, trusted no further
// than the block reaches. At least the three standard ones.
int listed_descriptor_count()
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

HANDLE descriptor_handle(int fd)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); // NOLINT(performance-no-int-to-ptr)
}

bool is_handle(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

bool among(const std::vector<HANDLE>& handles, HANDLE handle)
{
    return std::find(handles.begin(), handles.end(), handle) != handles.end();
}

// A console or the null device holds nothing that anyone waits on, and a
// directory handle is never handed on by a runtime; a handle that is not
// inheritable was never handed on at all.
bool handed_on(HANDLE handle)
{
    DWORD flags = 0;
    if (!is_handle(handle) || !GetHandleInformation(handle, &flags) || !(flags & HANDLE_FLAG_INHERIT))
        return false;
    const DWORD type = GetFileType(handle);
    if (type == FILE_TYPE_PIPE)
        return true;
    BY_HANDLE_FILE_INFORMATION file = {};
    return type == FILE_TYPE_DISK && GetFileInformationByHandle(handle, &file) &&
           !(file.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool is_open(HANDLE handle)
{
    DWORD flags = 0;
    return GetHandleInformation(handle, &flags) != FALSE;
}

constexpr DWORD standard_slots[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};

std::string standard_name(DWORD slot)
{
    if (slot == STD_INPUT_HANDLE)
        return "standard input";
    return slot == STD_OUTPUT_HANDLE ? "standard output" : "standard error";
}

void add_name(std::string& list, const std::string& name) { list += (list.empty() ? "" : ", ") + name; }

// Each handle is closed once: through its descriptor where it has one (the
// runtime then forgets it too), else directly. A handle that a descriptor's
// closing has already closed is never closed again. The runtime itself
// closes a handle that standard output and error share only once.
void release(const std::vector<HANDLE>& handed, bool tracing)
{
    std::vector<HANDLE> kept;
    if (tracing) {
        kept.push_back(GetStdHandle(STD_ERROR_HANDLE));
        kept.push_back(descriptor_handle(2));
    }
    std::vector<HANDLE> closed;
    std::string released;
    std::string left;
    const int count = listed_descriptor_count();
    for (int fd = 0; fd < count; ++fd) {
        const HANDLE handle = descriptor_handle(fd);
        if (!is_handle(handle))
            continue;
        const std::string name = "descriptor " + std::to_string(fd);
        if (among(closed, handle)) {
            add_name(released, name);
            continue;
        }
        if (!among(handed, handle) || among(kept, handle)) {
            add_name(left, name);
            continue;
        }
        _close(fd);
        add_name(released, name);
        if (!is_open(handle))
            closed.push_back(handle);
    }
    for (const DWORD slot : standard_slots) {
        const HANDLE handle = GetStdHandle(slot);
        if (!is_handle(handle))
            continue;
        if (!among(handed, handle) || among(kept, handle)) {
            add_name(left, standard_name(slot));
            continue;
        }
        if (!among(closed, handle)) {
            CloseHandle(handle);
            closed.push_back(handle);
        }
        SetStdHandle(slot, nullptr);
        add_name(released, standard_name(slot));
    }
    trace_aside(tracing, released, left);
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

std::vector<HANDLE> handed_on_handles()
{
    std::vector<HANDLE> handed;
    const int count = listed_descriptor_count();
    for (int fd = 0; fd < count; ++fd) {
        const HANDLE handle = descriptor_handle(fd);
        if (handed_on(handle) && !among(handed, handle))
            handed.push_back(handle);
    }
    for (const DWORD slot : standard_slots) {
        const HANDLE handle = GetStdHandle(slot);
        if (handed_on(handle) && !among(handed, handle))
            handed.push_back(handle);
    }
    return handed;
}

void stand_aside(const std::vector<HANDLE>& handed_on, bool tracing)
{
    release(handed_on, tracing);
    leave_current_directory();
}
