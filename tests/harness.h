// Windows-side test driver: lays out installation trees in the test wine
// prefix and starts launchers with an exact UTF-16 command line and
// environment block. Narrow text given to it is in the ANSI code page.
#ifndef TARVEX_TESTS_HARNESS_H
#define TARVEX_TESTS_HARNESS_H

#include <cstdint>
#include <string>
#include <vector>

namespace harness {

using Args = std::vector<std::string>;
using WArgs = std::vector<std::wstring>;
using Env = std::vector<std::wstring>;

// What a stand-in child recorded about itself, as its runtime gave it: the
// ANSI forms and the wide ones.
struct Record {
    bool ran = false;
    std::uint32_t pid = 0;
    unsigned code_page = 0;   // its GetACP()
    std::string module;       // its own executable's path
    std::string command_line; // exactly as it received it
    Args argv;
    std::wstring wide_module;
    std::wstring wide_command_line;
    WArgs wide_argv;
};

struct Launch {
    std::wstring program;                // started as the application name
    std::wstring command_line;           // passed unchanged
    Env env;                             // "NAME=value"; the whole block
    std::wstring directory = L"C:\\";    // current directory
    std::string input;                   // bytes on standard input
    bool in_job = false;                 // inside a job of the driver's own
    // Standard handles of the test's own (a pipe, say) in place of the
    // files; the test keeps and closes them.
    void* std_input = nullptr;
    void* std_output = nullptr;
    void* std_error = nullptr;
    // Takes the job name "<prefix><launcher's process id>" before the
    // launcher runs, as another program of the session could.
    std::wstring held_job_prefix;
    // "station\\desktop" to start on, in place of the driver's own.
    std::wstring desktop;
    // The block in which a caller's C runtime lists its descriptors for
    // the child's runtime; none when empty.
    std::string descriptor_block;
    // A handle of the test's own that the launcher holds from its start,
    // not inheritable, as if it had opened it itself.
    void* planted = nullptr;
};

struct Outcome {
    std::uint32_t status = 0;
    std::string out;
    std::string err;
    Record child;
};

// ANSI code page text, as CreateProcessA would have read it, and back.
std::wstring acp(const std::string& text);
std::string to_acp(const std::wstring& text);

// Installation roots laid out by stage(), each with the three stand-in
// children under bin and the architecture-specific directory.
extern const char* const apps_root;     // C:\Apps\tarvex
extern const char* const prefix_root;   // where the compiled-in prefix lands on C:
extern const char* const archlib_tail;  // \libexec\tarvex\<version>\exec\i686-w64-mingw32
extern const char* const versioned_cli_name; // tarvex-cli-<version>.exe

std::string gui_in(const std::string& root);
std::string cli_in(const std::string& root);
std::string versioned_cli_in(const std::string& root);
std::wstring gui_in(const std::wstring& root);
std::wstring cli_in(const std::wstring& root);
std::wstring versioned_cli_in(const std::wstring& root);

// Roots whose names the ANSI code page cannot hold, each with a launcher
// in its bin directory.
extern const wchar_t* const cjk_root;      // C:\users\张三\tarvex
extern const wchar_t* const cyrillic_root; // C:\Пользователи\Иван\tarvex
extern const wchar_t* const emoji_root;    // C:\Apps 😀\tarvex, with a space

// Launcher builds staged beside the real one in C:\Apps\tarvex\bin.
extern const char* const real_launcher;      // tarvex.exe
extern const char* const stub_launcher;      // display probe driven by TARVEX_TEST_DISPLAY
extern const char* const nostrdup_launcher;  // a C runtime whose _strdup fails
extern const char* const nojob_launcher;     // a child can never be put into a job
extern const char* const old_loader_launcher; // LoadLibraryExA refuses the search flags

// Launchers whose name or bin folder is spelled in capitals, each in an
// installation of its own.
extern const char* const renamed_launcher;      // C:\Renamed\bin\Tarvex.exe
extern const char* const spelled_bin_launcher;  // C:\Spelled\Bin\tarvex.exe

// Launchers with no installation root: outside any bin directory; and
// stand-ins planted where the drive-less build prefix lands on C:.
extern const char* const outside_bin_launcher;  // C:\Apps\tarvex\tarvex.exe
extern const char* const outside_bin_stub_launcher; // the stand-in probe's, outside any bin
// Built with the prefix "C:/Packaged/usr/i686-w64-mingw32", outside any bin.
extern const char* const drive_prefix_launcher;
extern const char* const drive_prefix_root;     // C:\Packaged\usr\i686-w64-mingw32
// Built with the prefix "//server/share/usr/i686-w64-mingw32", outside any bin.
extern const char* const share_prefix_launcher;

// A launcher whose path is as long as a started program's can be
// (MAX_PATH - 1), in an installation of its own.
std::string long_path_launcher();
std::string long_path_root();

// The default desktop of a window station of the test's own making: like a
// service's or a remote shell's, nobody sees it. Null when it cannot be
// made.
const wchar_t* unseen_desktop();

// Lays out every installation tree; run once before the tests.
bool stage();

// The record file that an environment names for the stand-in child.
std::string record_path_in(const Env& env);

// The program's own path as argument 0, then the arguments (ANSI code page
// text) quoted by the test's own (always-quoting) writer.
std::wstring command_line_of(const std::string& program, const Args& args);

// Environment with a fresh record file for the current test, plus extras.
Env base_env(const std::vector<std::string>& extra = {});
Env base_env(const Env& extra);

// A launch under way.
struct Running {
    void* process = nullptr;
    void* held_job = nullptr;
    std::uintptr_t planted = 0;  // the planted handle's value in the launcher
    std::string out_path, err_path, record_path;
};

Running start(const Launch& launch);
// Whether the child has begun (it writes its record first thing).
bool child_started(const Running& running);
// Waits, up to two minutes, for the child's whole record.
Record wait_for_child(const Running& running);
// Waits for the launch to end and collects what it and its child left.
Outcome finish(const Running& running);

// Runs a launch, waits for it and collects what it and its child left.
Outcome run(const Launch& launch);

// Reads the record that a process started by a child left (its helper).
Record helper_record(const Running& running);
// Waits, up to two minutes, for the child to say it has stood aside.
bool wait_for_aside(const std::string& record_path);

// A file's bytes as they stand now; empty when it cannot be read.
std::string read_file(const std::string& path);

// The current test's own file of that extension, in the records folder.
std::string current_test_file(const char* extension);

// Shorthand: the program's own path as argument 0, then arguments quoted
// by the test's own (always-quoting) writer.
Outcome run_args(const std::string& program, const Args& args,
                 const std::vector<std::string>& extra_env = {});
Outcome run_wide(const std::wstring& program, const WArgs& args, const Env& extra_env = {});

// The vector a child must receive: its own full path, then what the
// launcher passed on.
Args child_vector(const std::string& target, const Args& passed);
WArgs child_vector(const std::wstring& target, const WArgs& passed);

// Quotes one argument for the Microsoft splitting rules, always wrapping it:
// a second, independent writer to compare the launcher against.
std::string quote_always(const std::string& arg);
std::wstring quote_always(const std::wstring& arg);
std::string join_quoted(const Args& args);
std::wstring join_quoted(const WArgs& args);

// The system's own splitter, for an independent reading of a command line.
Args split_with_shell32(const std::string& command_line);
WArgs split_with_shell32(const std::wstring& command_line);

} // namespace harness

#endif
