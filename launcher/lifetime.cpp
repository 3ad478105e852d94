#include "lifetime.h"

namespace {

// The one piece of state of the launcher's own. The platform calls the
// console handler without any context, so the handler reaches the job
// here. A handle that nobody else can find is sounder than a name that any
// process of the session could open, or take beforehand. Set before the
// handler is installed, and never changed after.
HANDLE lifetime_job = nullptr;

bool set_job_limits(HANDLE job, bool kill_on_close)
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
    // The child's own processes stay out of the job: a helper it leaves
    // running on purpose outlives the launcher's normal end.
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK | (kill_on_close ? JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE : 0);
    return SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits) != FALSE;
}

// Console close, logoff and shutdown end the launcher; the child must still
// get its own chance to handle the event and save its work.
void let_child_outlive_launcher()
{
    if (lifetime_job != nullptr)
        set_job_limits(lifetime_job, false);
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

DWORD ready_child_lifetime()
{
    DWORD error = ERROR_SUCCESS;
    // Unnamed and not inheritable: only this process holds it, and its last
    // handle closes, ending the child, whenever the process ends.
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (job == nullptr) {
        error = GetLastError();
    } else if (!set_job_limits(job, true)) {
        error = GetLastError();
        CloseHandle(job);
    } else {
        lifetime_job = job;
    }
    SetConsoleCtrlHandler(on_console_event, TRUE);
    return error;
}

DWORD end_after_child_at_logoff()
{
    // 0x100 to 0x1FF is the range of the last applications to be ended;
    // an ordinary one, the child, has 0x280.
    const DWORD last_application_level = 0x100;
    return SetProcessShutdownParameters(last_application_level, 0) ? ERROR_SUCCESS : GetLastError();
}

DWORD tie_child_to_launcher(HANDLE child)
{
    if (lifetime_job == nullptr)
        return ERROR_INVALID_HANDLE;
    // A job the child is not in ends nothing; it stays open, since the
    // console handler may be using it right now.
    return AssignProcessToJobObject(lifetime_job, child) ? ERROR_SUCCESS : GetLastError();
}
