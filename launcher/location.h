#ifndef TARVEX_LOCATION_H
#define TARVEX_LOCATION_H

// Where a loaded module really lies: its whole path, however long, and the
// file it leads to when that file is a symbolic link. Paths are WTF-8.

#include <windows.h>

#include <string>

// The module's path as the loader holds it, never cut short; the empty
// string when it cannot be read.
std::string module_file_path(HMODULE module);

// When the file at path is itself a symbolic link, one whose final path
// lies in another directory than the final path of its own directory, the
// path it leads to, written as an ordinary path (no "\\?\" prefix). The
// empty string otherwise: for a plain file, a hard link, a link in the same
// directory, or a link or junction on a directory above the file, whose
// spelling (a package manager's "current", say) must stay what the caller
// sees.
std::string linked_file_target(const std::string& path);

#endif
