/* A launcher that can never put its child into a job, as inside a job that
   forbids nesting and breakaway. Defining the import pointer here takes the
   place of kernel32's. */
#include <windows.h>

static BOOL WINAPI refusing_assign(HANDLE job, HANDLE process)
{
    (void)job;
    (void)process;
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
}

BOOL(WINAPI* assign_pointer)(HANDLE, HANDLE) __asm__("__imp__AssignProcessToJobObject@8") = refusing_assign;
