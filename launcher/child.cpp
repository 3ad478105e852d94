#include "child.h"

#include "aside.h"
#include "lifetime.h"
#include "trace.h"
#include "wtf8.h"

#include <windows.h>
#include <process.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <numeric>
#include <vector>

namespace {

// The longest command line a process can be given, in UTF-16 units and
// without its NUL. A longer one would reach the child cut short, so it is
// never started.
constexpr std::size_t command_line_limit = 32766;

std::size_t command_line_length(const std::vector<std::wstring>& args)
{
    const std::size_t spaces = args.size() - 1;
    return std::accumulate(args.begin(), args.end(), spaces,
        [](std::size_t sum, const std::wstring& arg) { return sum + arg.size(); });
}

// Why the runtime's spawn failed: the system's error that it recorded.
DWORD spawn_error()
{
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : static_cast<DWORD>(_doserrno);
}

} // namespace

int run_child(const std::string& path, char** argv, const std::vector<HANDLE>& handed_on, bool tracing)
{
    std::vector<std::wstring> args;
    for (char** arg = argv; *arg; ++arg)
        args.push_back(utf16_from_wtf8(*arg));
    const std::size_t length = command_line_length(args);
    if (length > command_line_limit) {
        trace_command_line_too_long(tracing, length, command_line_limit);
        return -1;
    }
    trace_command_line(tracing, args);
    std::vector<const wchar_t*> wide_argv;
    std::transform(args.begin(), args.end(), std::back_inserter(wide_argv),
                   [](const std::wstring& arg) { return arg.c_str(); });
    wide_argv.push_back(nullptr);

    // Never a reason not to launch: without a job the child is started and
    // waited for all the same (a launcher inside a job that forbids nesting
    // or breakaway, a child that has already ended).
    DWORD job_error = ready_child_lifetime();
    const DWORD shutdown_error = end_after_child_at_logoff();
    trace_shutdown_level(tracing, shutdown_error);
    // The runtime's own spawn hands the child its inherited-handle table.
    SetLastError(ERROR_SUCCESS);
    const std::wstring wide_path = utf16_from_wtf8(path);
    const std::intptr_t process = _wspawnv(_P_NOWAIT, wide_path.c_str(), wide_argv.data());
    if (process == -1) {
        trace_start_failed(tracing, path, wide_path.size(), spawn_error());
        return -1;
    }
    // The runtime hands the process handle back as an integer.
    HANDLE child = reinterpret_cast<HANDLE>(process); // NOLINT(performance-no-int-to-ptr)
    if (job_error == ERROR_SUCCESS)
        job_error = tie_child_to_launcher(child);
    trace_job(tracing, job_error);
    stand_aside(handed_on, tracing);
    int status = 0;
    if (_cwait(&status, process, _WAIT_CHILD) == -1)
        return -1;
    return status;
}
