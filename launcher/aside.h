#ifndef TARVEX_ASIDE_H
#define TARVEX_ASIDE_H

// Once the child has started and holds its own copies, the launcher lets go
// of what its caller handed it, so that a reader of a pipe gets end of file
// when the child closes its end, and of the caller's current directory, so
// that it can be removed or renamed while the child runs.

#include <windows.h>

#include <vector>

// The handles the caller handed on: those of the C runtime's descriptors
// and of the standard handles that are open, inheritable, and a pipe or a
// file that is no directory, for only such a handle reaches a child by
// inheritance. Taken first thing, before the launcher has a handle of its
// own: a descriptor that the caller's runtime listed but never handed on
// may carry any value, even that of a handle the launcher makes later.
std::vector<HANDLE> handed_on_handles();

// Releases exactly the handles handed on, through every descriptor and
// standard handle that holds one, and moves to the system directory.
// While tracing, standard error stays open and one line tells what was
// released and what was left alone. Best effort: nothing here can fail a
// launch.
void stand_aside(const std::vector<HANDLE>& handed_on, bool tracing);

#endif
