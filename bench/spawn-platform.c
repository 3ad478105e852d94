/* The platform work of tarvex's graphical path, without the C++ runtime,
   strings, conversions or quoting: two module walks, one screen device
   context, a job that ends the child with the launcher, one spawn and its
   wait. */
#include <windows.h>
#include <process.h>
#include <tlhelp32.h>

static void walk_modules(void)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE | TH32CS_SNAPMODULE32, 0);
    MODULEENTRY32W entry = {0};
    entry.dwSize = sizeof entry;
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    for (BOOL more = Module32FirstW(snapshot, &entry); more; more = Module32NextW(snapshot, &entry))
        ;
    CloseHandle(snapshot);
}

static HANDLE lifetime_job(void)
{
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {0};
    HANDLE job = CreateJobObjectW(NULL, NULL);
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_SILENT_BREAKAWAY_OK;
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    return job;
}

int main(void)
{
    const char* const argv[] = {CHILD, 0};
    int status = -1;
    walk_modules();
    walk_modules();
    GetDC(NULL);
    HANDLE job = lifetime_job();
    const intptr_t child = _spawnv(_P_NOWAIT, CHILD, argv);
    if (child == -1)
        return -1;
    AssignProcessToJobObject(job, (HANDLE)child);
    _cwait(&status, child, _WAIT_CHILD);
    return status;
}
