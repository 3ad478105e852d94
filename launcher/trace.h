#ifndef TARVEX_TRACE_H
#define TARVEX_TRACE_H

// The launcher's trace, asked for with "TARVEX_LAUNCHER_DEBUG": one line on
// standard error for each step, each beginning "tarvex: ". Every function
// here writes nothing unless on is true, and none changes what the launch
// does. Text is WTF-8; a console gets it in UTF-16, a file or a pipe in
// UTF-8, and an unpaired surrogate shows as U+FFFD.

#include <windows.h>

#include <string>
#include <vector>

// Whether the trace was asked for: the one lookup it costs when it was not.
bool trace_wanted();

void trace_variable(bool on, const char* name, const std::string& value);
void trace_module_walk(bool on, const std::string& module, const std::string& path);
// Whether the module's file is a link, and the path it leads to if so.
void trace_link(bool on, const std::string& target);
// The module matched, but its path gave no root.
void trace_no_bin_marker(bool on, bool module_matched);
void trace_root(bool on, const std::string& root, const char* source);
void trace_directories(bool on, const std::string& bin_dir, const std::string& archlib_dir);
void trace_options(bool on, const std::string& recognised);
void trace_probe_skipped(bool on);
// The probe's outcome; error is the last error it left when it found no
// display: the loader's reason, ERROR_REQUIRES_INTERACTIVE_WINDOWSTATION
// for a station nobody sees, or 0 when there was no device context.
void trace_probe(bool on, bool reachable, DWORD error);
// The executable chosen, and whether a file lies at its path.
void trace_executable(bool on, const std::string& path);
void trace_unvouched_directory(bool on, const std::string& prefix);
void trace_command_line(bool on, const std::vector<std::wstring>& args);
void trace_command_line_too_long(bool on, std::size_t length, std::size_t limit);
// length: the path's in UTF-16 units, named beside the reason when it
// passes what a program that is not long-path aware can start.
void trace_start_failed(bool on, const std::string& path, std::size_t length, DWORD error);
void trace_job(bool on, DWORD error);
// The shutdown level the launcher holds now; error is why it could not
// take its own.
void trace_shutdown_level(bool on, DWORD error);
// What standing aside released and what it left alone, each a list of
// descriptors and standard handles.
void trace_aside(bool on, const std::string& released, const std::string& left_alone);
void trace_status(bool on, int status);

#endif
