#ifndef TARVEX_CHILD_H
#define TARVEX_CHILD_H

#include <windows.h>

#include <string>
#include <vector>

// Starts the executable at path (WTF-8) with the quoted vector argv,
// joined by single spaces, waits for it and returns its exit status, all
// 32 bits of it; -1 when it cannot be started. The child ends with the
// launcher, and once it runs the launcher holds nothing of what its caller
// handed it (handed_on). tracing: whether the trace reports the start.
int run_child(const std::string& path, char** argv, const std::vector<HANDLE>& handed_on, bool tracing);

#endif
