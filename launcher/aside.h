#ifndef TARVEX_ASIDE_H
#define TARVEX_ASIDE_H

// Once the child has started and holds its own copies, the launcher lets go
// of what its caller handed it: the pipes and files among its standard
// handles and every descriptor its C runtime inherited beyond the first
// three, so that a reader gets end of file when the child closes its end;
// and the caller's current directory, so that it can be removed or renamed
// while the child runs. Standard error stays open while keep_error. Best
// effort: nothing here can fail a launch.
void stand_aside(bool keep_error);

#endif
