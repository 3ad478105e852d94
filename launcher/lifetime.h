#ifndef TARVEX_LIFETIME_H
#define TARVEX_LIFETIME_H

#include <windows.h>

// The child lives and ends with its launcher. Before the start: a job that
// ends whatever is in it when the launcher's process ends, known to this
// process alone, and the console handler. Returns 0, or the platform's
// reason when no job can be had; the launch goes on either way.
DWORD ready_child_lifetime();

// At logoff and shutdown the system asks a session's programs in order of
// their shutdown level, highest first, and a console handler is not called
// there once the user-interface library is loaded. The launcher takes the
// lowest level an application may, so that its child is asked, and may
// save its work, before the launcher and its job are ended. Returns 0, or
// the platform's reason.
DWORD end_after_child_at_logoff();

// After the start: puts the child into that job. Returns 0, or the
// platform's reason when it cannot be put there.
DWORD tie_child_to_launcher(HANDLE child);

#endif
