/* A loader as on Vista and Windows 7 without KB2533623: LoadLibraryExA
   refuses every flag newer than those systems, the directory-search ones
   among them, with ERROR_INVALID_PARAMETER. */
#include <windows.h>

typedef HMODULE(WINAPI* load_function)(LPCSTR, HANDLE, DWORD);

static HMODULE WINAPI old_load_library_ex(LPCSTR name, HANDLE file, DWORD flags)
{
    const DWORD known = DONT_RESOLVE_DLL_REFERENCES | LOAD_LIBRARY_AS_DATAFILE |
                        LOAD_WITH_ALTERED_SEARCH_PATH | LOAD_IGNORE_CODE_AUTHZ_LEVEL |
                        LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE;
    if (flags & ~known) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return NULL;
    }
    return ((load_function)(void (*)(void))GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                          "LoadLibraryExA"))(name, file, flags);
}

load_function load_pointer __asm__("__imp__LoadLibraryExA@12") = old_load_library_ex;
