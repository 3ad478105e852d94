// tarvex.exe: finds the installation, picks one of its three executables,
// starts it with this launcher's arguments and ends with its exit status.

#include "aside.h"
#include "child.h"
#include "config.h"
#include "display.h"
#include "location.h"
#include "runtime.h"
#include "trace.h"
#include "wtf8.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <cwchar>
#include <iostream>
#include <string>
#include <vector>

__declspec(dllexport) char** prepare_spawn(char** argv);

namespace {

constexpr const char* gui_name = "tarvex-gui";
constexpr const char* cli_name = "tarvex-cli";
constexpr const char* versioned_cli_name = "tarvex-cli-" PACKAGE_VERSION;

// Characters that the child's command-line splitting treats specially, and
// the subset that forces an argument into double quotes.
constexpr const char* special_chars =
    "\"\\ \x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f"
    "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1a\x1b\x1c\x1d\x1e\x1f";
constexpr const char* space_chars = special_chars + 2;

// ---- installation directories ----

// The record's text fields are fixed arrays; never read past one, even if
// the system filled it to the last unit without a terminator.
template <std::size_t N>
std::string record_text(const wchar_t (&field)[N])
{
    return wtf8_from_utf16(field, wcsnlen(field, N));
}

// The variable's value, as the trace reports it.
std::string variable(const char* name, bool tracing)
{
    std::string value = env_value(name);
    trace_variable(tracing, name, value);
    return value;
}

// Windows matches file names without regard to case, so a caller may
// spell the launcher's path either way. Only ASCII letters are folded, so
// every byte keeps its place.
std::string ascii_lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return text;
}

// The whole path of the first loaded module whose name holds the key, in
// any case; through a link to its file, the path the link leads to.
std::string loaded_module_path(const char* key, bool tracing)
{
    std::string module;
    std::string path;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        trace_module_walk(tracing, module, path);
        return path;
    }
    // The wide record: a module path outside the ANSI code page comes whole.
    MODULEENTRY32W entry;
    static_assert(sizeof entry == 1064, "wide module record expected");
    std::memset(&entry, 0, sizeof entry);
    entry.dwSize = sizeof entry;
    for (BOOL found = Module32FirstW(snapshot, &entry); found; found = Module32NextW(snapshot, &entry)) {
        module = record_text(entry.szModule);
        if (ascii_lowercase(module).find(key) != std::string::npos) {
            // The record holds at most MAX_PATH - 1 units of the path.
            path = module_file_path(entry.hModule);
            if (path.empty())
                path = record_text(entry.szExePath);
            break;
        }
        module.clear();
    }
    CloseHandle(snapshot);
    trace_module_walk(tracing, module, path);
    if (!path.empty()) {
        const std::string target = linked_file_target(path);
        trace_link(tracing, target);
        if (!target.empty())
            path = target;
    }
    if (!module.empty() && (path.empty() || path.back() != '\\'))
        path += '\\';
    return path;
}

// The root of the installation that the first module named like this
// product lies in: everything before its last "\bin\", in any case, as
// spelled.
std::string module_install_root(bool tracing)
{
    const std::string path = loaded_module_path("tarvex", tracing);
    const std::size_t bin = ascii_lowercase(path).rfind("\\bin\\");
    if (bin == std::string::npos) {
        trace_no_bin_marker(tracing, !path.empty());
        return std::string();
    }
    return path.substr(0, bin);
}

// Whether a forward-slashed absolute path names where it lies: a drive
// ("C:/") or a network share ("//server/share/"). Any other absolute path
// lies on whatever drive is current, where any user may create it.
bool names_its_volume(const std::string& path)
{
    if (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' && path[2] == '/')
        return true;
    if (path.compare(0, 2, "//") != 0)
        return false;
    const std::size_t share = path.find('/', 2);
    return share != std::string::npos && share > 2 && share + 1 < path.size() && path[share + 1] != '/';
}

// Moves a compiled-in path from the build prefix onto the installation
// root. unvouched: set when the root is a build prefix that names no drive
// or share, so that no installation vouches for the result.
std::string relocate_install_path(const std::string& path, bool tracing, bool& unvouched)
{
    const std::string prefix = BUILD_PREFIX;
    std::string root = variable("TARVEX_HOME", tracing);
    const char* source = "TARVEX_HOME";
    if (root.empty()) {
        root = module_install_root(tracing);
        source = "the launcher's own path";
    }
    if (root.empty()) {
        root = prefix;
        source = "the build prefix, for want of another";
        unvouched = !names_its_volume(prefix);
    }
    trace_root(tracing, root, source);
    std::string result = path;
    if (!(root == prefix) && path.compare(0, prefix.size(), prefix) == 0)
        result.replace(0, prefix.size(), root);
    std::replace(result.begin(), result.end(), '/', '\\');
    return result;
}

std::string bin_directory(bool tracing, bool& unvouched)
{
    const std::string dir = variable("TARVEX_BINDIR", tracing);
    return dir.empty() ? relocate_install_path(BUILD_BINDIR, tracing, unvouched) : dir;
}

std::string archlib_directory(bool tracing, bool& unvouched)
{
    const std::string dir = variable("TARVEX_ARCHLIBDIR", tracing);
    return dir.empty() ? relocate_install_path(BUILD_ARCHLIBDIR, tracing, unvouched) : dir;
}

// Directory and file name with one backslash between, whatever the
// directory ends in.
std::string join_path(const std::string& dir, const char* name)
{
    return dir + '\\' + name;
}

// ---- child command line ----

// Quotes one argument so that the Microsoft splitting rules give it back
// unchanged; one allocation of exactly the final size.
char* quote_argument(const char* arg)
{
    const bool wrapped = std::strpbrk(arg, space_chars) != nullptr;
    std::size_t length = wrapped ? 1 : 0;
    std::size_t run = 0;
    for (const char* p = arg; *p; ++p) {
        if (*p == '"') {
            length += run + 2;
            run = 0;
        } else {
            length += 1;
            run = *p == '\\' ? run + 1 : 0;
        }
    }
    char* quoted = new char[wrapped ? length + run + 2 : length + 1];
    char* out = quoted;
    if (wrapped)
        *out++ = '"';
    run = 0;
    for (const char* p = arg; *p; ++p) {
        if (*p == '"') {
            for (std::size_t i = 0; i <= run; ++i)
                *out++ = '\\';
            run = 0;
        } else {
            run = *p == '\\' ? run + 1 : 0;
        }
        *out++ = *p;
    }
    if (wrapped) {
        for (std::size_t i = 0; i < run; ++i)
            *out++ = '\\';
        *out++ = '"';
    }
    *out = '\0';
    return quoted;
}

// An empty argument must still occupy its place on the child's command line.
char* empty_argument()
{
    char* quotes = _strdup("\"\"");
    if (quotes == nullptr) {
        // A null slot would cut the child's vector short: fall back to the
        // allocator whose failure ends the launcher like any other.
        quotes = new char[3];
        std::strcpy(quotes, "\"\"");
    }
    return quotes;
}

// ---- launch ----

// The launcher's own options among its arguments, as the scan reads them.
std::string recognised_options(int argc, char** argv)
{
    std::string recognised;
    for (int i = 1; i < argc; ++i)
        for (const char* option : {"--no-gui-libs", "--no-gui", "--silent", "--quiet", "-q"})
            if (std::strcmp(argv[i], option) == 0)
                recognised += std::string(" ") + option;
    return recognised;
}

void report_fallback_to_cli(const char* reason)
{
    std::cerr << "tarvex: " << (reason ? reason : "graphical display unavailable") << std::endl;
    std::cerr << "tarvex: disabling GUI features" << std::endl;
}

char* copy_of(const std::string& text)
{
    char* copy = new char[text.size() + 1];
    std::strcpy(copy, text.c_str());
    return copy;
}

} // namespace

char** prepare_spawn(char** argv)
{
    std::size_t count = 0;
    while (argv[count])
        ++count;
    char** quoted = new char*[count + 1];
    for (std::size_t i = 0; i < count; ++i) {
        if (argv[i][0] == '\0')
            quoted[i] = empty_argument();
        else if (std::strpbrk(argv[i], special_chars) == nullptr)
            quoted[i] = argv[i];
        else
            quoted[i] = quote_argument(argv[i]);
    }
    quoted[count] = nullptr;
    return quoted;
}

// The runtime's ANSI vector has lost whatever the code page cannot hold;
// the arguments are read again from the wide command line.
__declspec(dllexport) int main(int, char**)
{
    // Before the launcher has a handle of its own that a stale value could name.
    const std::vector<HANDLE> handed_on = handed_on_handles();
    const bool tracing = trace_wanted();
    int argc = 0;
    char** const argv = launcher_arguments(&argc);
    if (argv == nullptr) {
        trace_status(tracing, -1);
        return -1;
    }
    // Whether a directory is only the build prefix's, which nobody installed.
    bool bin_unvouched = false;
    bool archlib_unvouched = false;
    const std::string bin_dir = bin_directory(tracing, bin_unvouched);
    const std::string archlib_dir = archlib_directory(tracing, archlib_unvouched);
    trace_directories(tracing, bin_dir, archlib_dir);
    std::string target_path = join_path(archlib_dir, gui_name);
    bool target_unvouched = archlib_unvouched;

    // Slot 0 and the terminator must fit even when argc is 0.
    char** child_argv = new char*[argc < 1 ? 2 : argc + 1];
    bool gui_wanted = true;
    bool gui_build_wanted = true;
    bool report_fallback = true;
    int k = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--no-gui-libs") {
            gui_wanted = false;
            gui_build_wanted = false;
            target_path = join_path(bin_dir, cli_name);
            target_unvouched = bin_unvouched;
            continue;
        }
        if (arg == "--no-gui")
            gui_wanted = false;
        else if (arg == "--silent" || arg == "--quiet" || arg == "-q")
            report_fallback = false;
        child_argv[k++] = argv[i];
    }
    child_argv[k] = nullptr;
    if (tracing)
        trace_options(tracing, recognised_options(argc, argv));

    if (gui_wanted || gui_build_wanted) {
        int reachable = 0;
        const char* reason = display_available(&reachable);
        trace_probe(tracing, reachable != 0, GetLastError());
        if (!reachable) {
            target_path = join_path(bin_dir, versioned_cli_name);
            target_unvouched = bin_unvouched;
            if (report_fallback)
                report_fallback_to_cli(reason);
        }
    } else {
        trace_probe_skipped(tracing);
    }

    target_path += ".exe";
    trace_executable(tracing, target_path);
    // A drive-less default names a folder on whatever drive is current,
    // which any user may have made: never start what nobody installed.
    if (target_unvouched) {
        trace_unvouched_directory(tracing, BUILD_PREFIX);
        trace_status(tracing, -1);
        return -1;
    }
    child_argv[0] = copy_of(target_path);
    // The vectors live until the process ends; nothing is worth releasing.
    char** spawn_argv = prepare_spawn(child_argv); // NOLINT(clang-analyzer-cplusplus.NewDeleteLeaks)
    const int status = run_child(target_path, spawn_argv, handed_on, tracing); // NOLINT(clang-analyzer-cplusplus.NewDeleteLeaks)
    trace_status(tracing, status);
    return status;
}
