// Stand-in for the three installed executables. It records where it runs
// from, its raw command line and the arguments its C runtime split from it,
// then exits with the status the test asks for.
//
// TARVEX_TEST_RECORD  file to write the record to (skipped when unset)
// TARVEX_TEST_EXIT    exit status, decimal or 0x-hex (default 0)
// TARVEX_TEST_MODE    "echo": copy standard input to standard output and
//                     write "child stderr" to standard error;
//                     "show": print its path and arguments, for people;
//                     "interrupt": handle Ctrl+C and Ctrl+Break, then end
//                     a second after one arrives (or after 60 s);
//                     "wait": run for 60 s with the default handling;
//                     "modules": print the modules loaded in the process
//                     that started it, one lower-case name a line

#include <windows.h>
#include <tlhelp32.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <string>

namespace {

void write_record(const char* file, int argc, char** argv)
{
    char module[MAX_PATH * 4] = {};
    GetModuleFileNameA(nullptr, module, sizeof module);
    std::string record = std::to_string(argc);
    record += '\0';
    record += module;
    record += '\0';
    record += GetCommandLineA();
    record += '\0';
    for (int i = 0; i < argc; ++i) {
        record += argv[i];
        record += '\0';
    }
    std::FILE* out = std::fopen(file, "wb");
    if (out) {
        std::fwrite(record.data(), 1, record.size(), out);
        std::fclose(out);
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

void show(int argc, char** argv)
{
    char module[MAX_PATH * 4] = {};
    GetModuleFileNameA(nullptr, module, sizeof module);
    std::printf("stand-in child started: %s\n", module);
    for (int i = 1; i < argc; ++i)
        std::printf("  argument %d: [%s]\n", i, argv[i]);
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
    if (const char* file = std::getenv("TARVEX_TEST_RECORD"))
        write_record(file, argc, argv);
    if (how == "echo")
        echo_standard_input();
    if (how == "show")
        show(argc, argv);
    if (how == "interrupt")
        wait_for_interrupt();
    if (how == "wait")
        Sleep(60000);
    if (how == "modules")
        print_parent_modules();
    const char* status = std::getenv("TARVEX_TEST_EXIT");
    // ExitProcess, not return: the full 32-bit status must come through.
    ExitProcess(status ? static_cast<UINT>(std::strtoul(status, nullptr, 0)) : 0);
}
