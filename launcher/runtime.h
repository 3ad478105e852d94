#ifndef TARVEX_RUNTIME_H
#define TARVEX_RUNTIME_H

// What the launcher is given, its arguments and its environment, read in
// the platform's UTF-16 form and turned into WTF-8, so that no character is
// lost to the ANSI code page.

#include <string>

// The launcher's own argument vector, split by the runtime's usual rules
// without wildcard expansion, null-terminated and never released; null
// when the runtime cannot provide it.
char** launcher_arguments(int* argc);

// The variable's value; the empty string when it is unset or empty.
std::string env_value(const char* name);

#endif
