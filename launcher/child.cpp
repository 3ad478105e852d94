#include "child.h"

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

bool fits_command_line(const std::vector<std::wstring>& args)
{
    const std::size_t spaces = args.size() - 1;
    const std::size_t length = std::accumulate(args.begin(), args.end(), spaces,
        [](std::size_t sum, const std::wstring& arg) { return sum + arg.size(); });
    return length <= command_line_limit;
}

// A console handler is given no context, so the job is found again by a
// name made from the launcher's own process id. The digits are written by
// hand: the runtime's formatted output costs every start a few
// milliseconds to set up.
std::wstring job_name()
{
    std::wstring digits;
    for (DWORD id = GetCurrentProcessId(); digits.empty() || id != 0; id /= 10)
        digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + id % 10));
    return L"tarvex-launcher-" + digits;
}

bool set_job_limits(HANDLE job, bool kill_on_close)
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    // The child's own processes stay out of the job: a helper it leaves
    // running on purpose outlives the launcher's normal end.
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK | (kill_on_close ? JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE : 0);
    return SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) != FALSE;
}

// A job whose last handle, held until the launcher's process ends for
// whatever reason, ends the child with it; null when none can be made.
HANDLE make_lifetime_job()
{
    SetLastError(ERROR_SUCCESS);
    HANDLE job = CreateJobObjectW(nullptr, job_name().c_str());
    if (job == nullptr)
        return nullptr;
    // One that someone else made under this name is not ours to rely on.
    if (GetLastError() == ERROR_ALREADY_EXISTS || !set_job_limits(job, true)) {
        CloseHandle(job);
        return nullptr;
    }
    return job;
}

// Console close, logoff and shutdown end the launcher; the child must still
// get its own chance to handle the event and save its work.
void let_child_outlive_launcher()
{
    HANDLE job = OpenJobObjectW(JOB_OBJECT_SET_ATTRIBUTES, FALSE, job_name().c_str());
    if (job == nullptr)
        return;
    set_job_limits(job, false);
    CloseHandle(job);
}

// Ctrl+C and Ctrl+Break reach every process on the console; the child alone
// decides what they mean, and the launcher waits for its status. A handler
// of our own, unlike ignoring them outright, is not inherited by the child.
BOOL WINAPI on_console_event(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        let_child_outlive_launcher();
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

int run_child(const std::string& path, char** argv)
{
    std::vector<std::wstring> args;
    for (char** arg = argv; *arg; ++arg)
        args.push_back(utf16_from_wtf8(*arg));
    if (!fits_command_line(args))
        return -1;
    std::vector<const wchar_t*> wide_argv;
    std::transform(args.begin(), args.end(), std::back_inserter(wide_argv),
                   [](const std::wstring& arg) { return arg.c_str(); });
    wide_argv.push_back(nullptr);

    SetConsoleCtrlHandler(on_console_event, TRUE);
    // Never a reason not to launch: without a job the child is started and
    // waited for all the same (a launcher inside a job that forbids nesting
    // or breakaway, a child that has already ended).
    HANDLE job = make_lifetime_job();
    // The runtime's own spawn hands the child its inherited-handle table.
    const std::intptr_t process = _wspawnv(_P_NOWAIT, utf16_from_wtf8(path).c_str(), wide_argv.data());
    if (process == -1)
        return -1;
    // The runtime hands the process handle back as an integer.
    HANDLE child = reinterpret_cast<HANDLE>(process); // NOLINT(performance-no-int-to-ptr)
    if (job != nullptr && !AssignProcessToJobObject(job, child))
        CloseHandle(job);
    int status = 0;
    if (_cwait(&status, process, _WAIT_CHILD) == -1)
        return -1;
    return status;
}
