// Windows-side test driver: lays out installation trees in the test wine
// prefix and starts launchers with an exact command line and environment.
#ifndef TARVEX_TESTS_HARNESS_H
#define TARVEX_TESTS_HARNESS_H

#include <cstdint>
#include <string>
#include <vector>

namespace harness {

using Args = std::vector<std::string>;

// What a stand-in child recorded about itself.
struct Record {
    bool ran = false;
    std::string module;       // its own executable's path
    std::string command_line; // exactly as it received it
    std::vector<std::string> argv;
};

struct Launch {
    std::string program;                 // started as the application name
    std::string command_line;            // passed unchanged
    std::vector<std::string> env;        // "NAME=value"; the whole block
    std::string directory = "C:\\";      // current directory
    std::string input;                   // bytes on standard input
};

struct Outcome {
    std::uint32_t status = 0;
    std::string out;
    std::string err;
    Record child;
};

// Installation roots laid out by stage(), each with the three stand-in
// children under bin and the architecture-specific directory.
extern const char* const apps_root;     // C:\Apps\tarvex
extern const char* const prefix_root;   // where the compiled-in prefix lands on C:
extern const char* const gui_tail;      // \libexec\...\tarvex-gui.exe

std::string gui_in(const std::string& root);
std::string cli_in(const std::string& root);
std::string versioned_cli_in(const std::string& root);

// Launcher builds staged beside the real one in C:\Apps\tarvex\bin.
extern const char* const real_launcher;      // tarvex.exe
extern const char* const stub_launcher;      // display probe driven by TARVEX_TEST_DISPLAY
extern const char* const nostrdup_launcher;  // a C runtime whose _strdup fails

// A launcher whose path is as long as a started program's can be
// (MAX_PATH - 1), in an installation of its own.
std::string long_path_launcher();
std::string long_path_root();

// Lays out every installation tree; run once before the tests.
bool stage();

// Environment with a fresh record file for the current test, plus extras.
std::vector<std::string> base_env(const std::vector<std::string>& extra = {});

// A launch under way.
struct Running {
    void* process = nullptr;
    std::string out_path, err_path, record_path;
};

Running start(const Launch& launch);
// Whether the child has begun (it writes its record first thing).
bool child_started(const Running& running);
// Waits for the launch to end and collects what it and its child left.
Outcome finish(const Running& running);

// Runs a launch, waits for it and collects what it and its child left.
Outcome run(const Launch& launch);

// Shorthand: the program's own path as argument 0, then arguments quoted
// by the test's own (always-quoting) writer.
Outcome run_args(const std::string& program, const std::vector<std::string>& args,
                 const std::vector<std::string>& extra_env = {});

// The vector a child must receive: its own full path, then what the
// launcher passed on.
Args child_vector(const std::string& target, const Args& passed);

// Quotes one argument for the Microsoft splitting rules, always wrapping it:
// a second, independent writer to compare the launcher against.
std::string quote_always(const std::string& arg);
std::string join_quoted(const std::vector<std::string>& args);

// The system's own splitter, for an independent reading of a command line.
std::vector<std::string> split_with_shell32(const std::string& command_line);

} // namespace harness

#endif
