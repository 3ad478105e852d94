#ifndef TARVEX_CHILD_H
#define TARVEX_CHILD_H

#include <string>

// Starts the executable at path (WTF-8) with the quoted vector argv,
// joined by single spaces, waits for it and returns its exit status, all
// 32 bits of it; -1 when it cannot be started. The child ends with the
// launcher, and once it runs the launcher holds nothing of its caller's.
// tracing: whether the trace reports the start.
int run_child(const std::string& path, char** argv, bool tracing);

#endif
