#include "runtime.h"

#include "wtf8.h"

#include <windows.h>

#include <cstring>

namespace {

// Read by the runtime: the allocator's new-handler mode, 0 as at start-up.
struct startup_info {
    int new_mode; // cppcheck-suppress unusedStructMember
};

} // namespace

// Exported by msvcrt.dll for wide programs' start-up: the same splitting
// as the ANSI vector's, on the wide command line. The name is the runtime's.
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
extern "C" int __cdecl __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** envp,
                                      int expand_wildcards, startup_info* info);

char** launcher_arguments(int* argc)
{
    int count = 0;
    wchar_t** wide = nullptr;
    wchar_t** environment = nullptr;
    startup_info info = {0};
    if (__wgetmainargs(&count, &wide, &environment, 0, &info) < 0 || wide == nullptr)
        return nullptr;
    char** argv = new char*[count + 1];
    for (int i = 0; i < count; ++i) {
        const std::string arg = wtf8_from_utf16(wide[i]);
        argv[i] = new char[arg.size() + 1];
        std::memcpy(argv[i], arg.c_str(), arg.size() + 1);
    }
    argv[count] = nullptr;
    *argc = count;
    return argv;
}

// Read from the process's own environment block: the runtime's wide copy
// can be one converted from its ANSI copy in a program started through the
// ANSI entry, with the same losses. The launcher changes no variable, so
// both hold the same values.
std::string env_value(const char* name)
{
    const std::wstring wide_name = utf16_from_wtf8(name);
    const DWORD size = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
    if (size == 0)
        return std::string();
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(wide_name.c_str(), &value[0], size);
    return length < size ? wtf8_from_utf16(value.data(), length) : std::string();
}
