// Stand-in for the three installed executables. It records where it runs
// from, its raw command line and the arguments its C runtime split from it,
// each as the ANSI and as the wide runtime gives them, then exits with the
// status the test asks for.
//
// TARVEX_TEST_RECORD  file to write the record to (skipped when unset);
//                     the wide view goes to the same name with ".wide"
// TARVEX_TEST_EXIT    exit status, decimal or 0x-hex (default 0)
// TARVEX_TEST_MODE    "echo": copy standard input to standard output and
//                     write "child stderr" to standard error;
//                     "show": print its path and arguments, for people;
//                     "interrupt": handle Ctrl+C and Ctrl+Break, then end
//                     a second after one arrives (or after 60 s);
//                     "wait": run for 60 s with the default handling;
//                     "modules": print the modules loaded in the process
//                     that started it, one lower-case name a line;
//                     "helper": start a copy of itself that waits 60 s
//                     (its record: this one's name with ".helper"), and
//                     end once that copy has written its record;
//                     "close-stdout", "close-stderr", "close-fd3": write
//                     the payload below there, close it, then run for
//                     30 s; "leave-directory": move to C:\, then run for
//                     30 s. Each writes "<record>.aside" once it has done
//                     so.

#include "payload.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <string>

namespace {

struct startup_info {
    int new_mode;
};

extern "C" int __cdecl __wgetmainargs(int*, wchar_t***, wchar_t***, int, startup_info*);

// The runtime's wide argument vector, split by the same rules.
wchar_t** wide_arguments(int& argc)
{
    wchar_t** argv = nullptr;
    wchar_t** env = nullptr;
    startup_info info = {0};
    __wgetmainargs(&argc, &argv, &env, 0, &info);
    return argv;
}

template <class S>
void write_file(const std::string& file, const S& fields)
{
    std::FILE* out = std::fopen(file.c_str(), "wb");
    if (out) {
        std::fwrite(fields.data(), sizeof fields[0], fields.size(), out);
        std::fclose(out);
    }
}

template <class S>
void add_field(S& fields, const S& field)
{
    fields += field;
    fields += typename S::value_type(0);
}

// The ANSI view first, then the wide one: its file appearing means the
// whole record is there.
void write_record(const std::string& file, int argc, char** argv)
{
    char module[MAX_PATH * 4] = {};
    GetModuleFileNameA(nullptr, module, sizeof module);
    std::string record;
    add_field(record, std::to_string(argc));
    add_field(record, std::to_string(GetCurrentProcessId()));
    add_field(record, std::to_string(GetACP()));
    add_field(record, std::string(module));
    add_field(record, std::string(GetCommandLineA()));
    for (int i = 0; i < argc; ++i)
        add_field(record, std::string(argv[i]));
    write_file(file, record);

    int wide_argc = 0;
    wchar_t** wide_argv = wide_arguments(wide_argc);
    wchar_t wide_module[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, wide_module, MAX_PATH * 4);
    std::wstring wide;
    const std::string count = std::to_string(wide_argc);
    add_field(wide, std::wstring(count.begin(), count.end()));
    add_field(wide, std::wstring(wide_module));
    add_field(wide, std::wstring(GetCommandLineW()));
    for (int i = 0; i < wide_argc; ++i)
        add_field(wide, std::wstring(wide_argv[i]));
    write_file(file + ".wide", wide);
}

// A process of the child's own that it leaves running, with no handle of
// the launch's: the test looks for it by the record it writes.
void start_helper(const std::string& record)
{
    const std::string helper_record = record + ".helper";
    SetEnvironmentVariableA("TARVEX_TEST_RECORD", helper_record.c_str());
    SetEnvironmentVariableA("TARVEX_TEST_MODE", "wait");
    wchar_t module[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH * 4);
    std::wstring command_line = L"helper";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(module, &command_line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    const std::string written = helper_record + ".wide";
    for (int waited = 0; waited < 60000; waited += 20) {
        if (GetFileAttributesA(written.c_str()) != INVALID_FILE_ATTRIBUTES)
            return;
        Sleep(20);
    }
}

void echo_standard_input()
{
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0)
        std::fwrite(buffer, 1, n, stdout);
    std::fflush(stdout);
    std::fputs("child stderr", stderr);
}

std::string utf8(const wchar_t* text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string bytes(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &bytes[0], size, nullptr, nullptr);
    return bytes.c_str();
}

// For people, in UTF-8 whatever the code page: every character shows.
void show()
{
    int argc = 0;
    wchar_t** argv = wide_arguments(argc);
    wchar_t module[MAX_PATH * 4] = {};
    GetModuleFileNameW(nullptr, module, MAX_PATH * 4);
    std::printf("stand-in child started: %s\n", utf8(module).c_str());
    for (int i = 1; i < argc; ++i)
        std::printf("  argument %d: [%s]\n", i, utf8(argv[i]).c_str());
}

DWORD parent_process_id()
{
    DWORD parent = 0;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (entry.th32ProcessID == GetCurrentProcessId())
            parent = entry.th32ParentProcessID;
    CloseHandle(snapshot);
    return parent;
}

void print_parent_modules()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, parent_process_id());
    MODULEENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry)) {
        std::string name = entry.szModule;
        for (char& c : name)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::printf("%s\n", name.c_str());
    }
    CloseHandle(snapshot);
}

void write_all(int fd, const std::string& bytes)
{
    _setmode(fd, _O_BINARY);
    for (std::size_t done = 0; done < bytes.size();) {
        const int n = _write(fd, bytes.data() + done, static_cast<unsigned>(bytes.size() - done));
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

// Lets go of something the caller may wait on, says so, and runs on.
void stand_aside(const std::string& how, const std::string& record)
{
    if (how == "close-stdout" || how == "close-stderr" || how == "close-fd3") {
        const int fd = how == "close-stdout" ? 1 : how == "close-stderr" ? 2 : 3;
        write_all(fd, payload());
        // Given one handle for both, standard error holds the same pipe.
        if (fd == 1 && _get_osfhandle(1) == _get_osfhandle(2))
            _close(2);
        _close(fd);
        // Standard handles live in the process parameters too.
        if (fd < 3) {
            const DWORD which = fd == 1 ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE;
            SetStdHandle(which, nullptr);
        }
    } else if (how == "leave-directory") {
        SetCurrentDirectoryW(L"C:\\");
    } else {
        return;
    }
    write_file(record + ".aside", std::string("done"));
    Sleep(30000);
}

volatile LONG interrupted = 0;

BOOL WINAPI on_interrupt(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;
    InterlockedExchange(&interrupted, 1);
    return TRUE;
}

void wait_for_interrupt()
{
    for (int waited = 0; !interrupted && waited < 60000; waited += 20)
        Sleep(20);
    Sleep(1000);
}

} // namespace

int main(int argc, char** argv)
{
    const char* mode = std::getenv("TARVEX_TEST_MODE");
    const std::string how = mode ? mode : "";
    // Ready for the event before anyone can see that the child runs.
    if (how == "interrupt")
        SetConsoleCtrlHandler(on_interrupt, TRUE);
    const char* record = std::getenv("TARVEX_TEST_RECORD");
    if (record)
        write_record(record, argc, argv);
    if (how == "echo")
        echo_standard_input();
    if (how == "show")
        show();
    if (how == "interrupt")
        wait_for_interrupt();
    if (how == "wait")
        Sleep(60000);
    if (how == "modules")
        print_parent_modules();
    if (how == "helper" && record)
        start_helper(record);
    if (record)
        stand_aside(how, record);
    const char* status = std::getenv("TARVEX_TEST_EXIT");
    // ExitProcess, not return: the full 32-bit status must come through.
    ExitProcess(status ? static_cast<UINT>(std::strtoul(status, nullptr, 0)) : 0);
}
