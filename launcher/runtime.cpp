#include "runtime.h"

#include "wtf8.h"

#include <cstdlib>
#include <cstring>

namespace {

// Read by the runtime: the allocator's new-handler mode, 0 as at start-up.
struct startup_info {
    int new_mode; // cppcheck-suppress unusedStructMember
};

} // namespace

// Exported by msvcrt.dll for wide programs' start-up; it also readies the
// runtime's wide environment.
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

std::string env_value(const char* name)
{
    const wchar_t* value = _wgetenv(utf16_from_wtf8(name).c_str());
    return value ? wtf8_from_utf16(value) : std::string();
}
